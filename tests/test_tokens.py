"""Token maps, nodes by line and position copying."""
import astroid

from tessary.staticanalysis import helpers

SOURCE = '''import os

# a "quoted" comment
def f():
    x = 1  # trailing

    # inside
    return x
'''


def placeholders(body):
    return [n for n in body if isinstance(n, astroid.nodes.Call) and n.as_string().startswith("print(")]


def test_blank_and_comment_lines_are_recorded():
    atok = helpers.build_atok(SOURCE, modname="m")
    assert atok.extra_line_map == {2: "", 3: '# a "quoted" comment', 6: "", 7: "# inside"}


def test_placeholders_sit_in_their_scope_in_line_order():
    atok = helpers.build_atok(SOURCE, modname="m")
    module = atok.tree
    assert [n.lineno for n in module.body] == [1, 2, 3, 4]
    assert module.body[2].as_string() == "print(\"# a 'quoted' comment\")"
    function = module.body[3]
    assert [n.lineno for n in function.body] == [5, 6, 7, 8]
    assert [n.args[0].value for n in placeholders(function.body)] == ["", "# inside"]


def test_crlf_blank_lines_and_trailing_backslash_comments_are_not_recorded():
    atok = helpers.build_atok("x = 1\r\n\r\n# ends \\\ny = 2\n")
    assert atok.extra_line_map == {}


def test_find_node_by_position():
    tree = astroid.parse("def f(a,\n      b):\n    return g(\n        a,\n        b)\n\n")
    assert helpers.find_node_by_position(tree, 1) is tree.body[0]
    statement = helpers.find_node_by_position(tree, 4)
    assert isinstance(statement, astroid.nodes.Return)
    assert helpers.find_node_by_position(tree, 6) is None


def test_find_node_parent():
    tree = astroid.parse("\nclass A:\n    def m(self):\n        return 1\n\nx = 1\n")
    method = tree.body[0].body[0]
    assert helpers.find_node_parent(tree, 5) is method
    assert helpers.find_node_parent(tree, 1) is tree
    assert helpers.find_node_parent(tree, 3) is method


def test_preserve_metadata():
    atok = helpers.build_atok("call(a, b)\n")
    old = atok.tree.body[0].value.args[1]
    new = astroid.extract_node("replacement")
    helpers.preserve_metadata(new_node=new, old_node=old)
    assert (new.lineno, new.col_offset, new.parent) == (old.lineno, old.col_offset, old.parent)
    assert new.first_token is old.first_token and new.last_token is old.last_token


def test_file_and_text_utilities(tmp_path):
    path = tmp_path / "m.py"
    path.write_bytes("a = 'é'\r\nb = 2\n".encode("utf-8"))
    assert helpers.read_code_from_file(str(path)) == ["a = 'é'\n", "b = 2\n"]
    assert helpers.get_middleware_position(["a", "b", "c", "d"], "c") == 50.0
    assert helpers.get_middleware_position(["a"], "z") is None
    assert helpers.normalize_django_template("\n  <p>\n\t{{ x }}</p>  ") == " <p> {{ x }}</p> "
