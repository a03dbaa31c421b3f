"""The linter driver: linters, options, the pragma, check_code."""
import logging

import pytest
from pylint.checkers import BaseChecker

from tessary.staticanalysis import checker, helpers

from .conftest import lint_records


class AssignmentChecker(BaseChecker):
    """Reports every assignment: something to suppress in the tests."""

    name = "test-assignments"
    msgs = {"C9990": (helpers.context_string(), "test-assignment", "Reports every assignment.")}

    def visit_assign(self, node):
        self.add_message("C9990", node=node, args={"target": node.targets[0].as_string()})


def ids(records):
    return [(r["message-id"], r["line"]) for r in records]


def test_records_carry_the_argument_map():
    (record,) = lint_records("x = 1\n", extra_checkers=[AssignmentChecker])
    assert record["message"] == {"target": "x"}
    assert record["symbol"] == "test-assignment"
    assert record["path"] == "app/models.py" and record["module"] == "app.models"
    assert (record["line"], record["column"], record["type"]) == (1, 0, "convention")


@pytest.mark.parametrize(
    "comment, suppressed",
    [
        ("# tessary: disable=C9990", True),
        ("# tessary:disable=C9990", True),
        ("# tessary: disable=test-assignment", True),
        ("# tessary disable=C9990", False),
        ("# nothing to see", False),
    ],
)
def test_inline_pragma(comment, suppressed):
    code = f"x = 1  {comment}\ny = 2\n"
    records = lint_records(code, extra_checkers=[AssignmentChecker])
    expected = [("C9990", 2)] if suppressed else [("C9990", 1), ("C9990", 2)]
    assert ids(records) == expected


def test_pragma_through_check_code(monkeypatch):
    monkeypatch.setattr(checker, "python_checker_classes", checker.python_checker_classes)
    checker.python_checker_classes.append(AssignmentChecker)
    try:
        advice = checker.check_code("x = 1  # tessary: disable=C9990\ny = 2\n", "app/views.py", "p.settings")
    finally:
        checker.python_checker_classes.remove(AssignmentChecker)
    assert [(a["message-id"], a["line"]) for a in advice] == [("C9990", 2)]


def test_syntax_error_is_one_record_with_a_fixed_text():
    records = lint_records("def broken(:\n    pass\n")
    assert [(r["message-id"], r["symbol"], r["message"]) for r in records] == [
        ("E0001", "syntax-error", "Syntax Error")
    ]


def test_check_code_of_a_syntax_error():
    (advice,) = checker.check_code("class Broken(\n", "app/models.py", "p.settings")
    assert (advice["message-id"], advice["symbol"], advice["message"]) == ("E0001", "syntax-error", "Syntax Error")


def test_syntax_error_of_a_file_on_disk_and_the_run_goes_on(tmp_path):
    bad, good = tmp_path / "bad.py", tmp_path / "good.py"
    bad.write_text("x = (\n")
    good.write_text("y = 2\n")
    linter = checker.create_linter(linter_class=checker.Linter)
    linter.register_checker(AssignmentChecker(linter))
    linter.check([str(bad), str(good)])
    assert [(r["message-id"], r["message"]) for r in linter.reporter.messages] == [
        ("E0001", "Syntax Error"),
        ("C9990", {"target": "y"}),
    ]


def test_valid_text_gives_no_framework_noise():
    code = "import os\nfrom undefined_package import thing\n\n\ndef f(a):\n    return undefined + a\n"
    assert lint_records(code) == []
    assert checker.check_code(code, "app/views.py", "p.settings") == []


def test_file_descriptions():
    linter = checker.create_linter(linter_class=checker.CodeLinter)
    assert [tuple(d) for d in linter._iterate_file_descrs(["a/b/c.py"])] == [("a.b.c", "a/b/c.py", "a.b.c")]
    assert list(linter._iterate_file_descrs(["a.py/b.py"]))[0][0] == "a.b"


def test_options_and_categories():
    linter = checker.create_linter(linter_class=checker.CodeLinter)
    assert linter.config.settings_files == []
    assert linter.config.root_urlconf == ""
    assert linter.config.django_version == "3.3"
    linter.set_option("settings-files", ["a.settings", "b.settings"])
    linter.set_option("django-version", "4.2")
    assert linter.config.settings_files == ["a.settings", "b.settings"]
    assert linter.config.django_version == "4.2"
    own = {m.msgid for cls in checker.python_checker_classes for m in cls(linter).messages}
    for category in ("R", "W"):
        assert set(linter.msgs_store._msgs_by_category[category]) <= own


def test_every_checker_declares_the_astroid_checker_interface(recwarn):
    import warnings

    from pylint import interfaces

    warnings.simplefilter("always")
    linter = checker.create_linter(linter_class=checker.CodeLinter)
    registered = [c for c in linter.get_checkers() if c is not linter]
    assert {type(c) for c in registered} == set(checker.python_checker_classes)
    assert len(checker.python_checker_classes) == 7
    for cls in checker.python_checker_classes:
        assert cls.__implements__ == (interfaces.IAstroidChecker,), cls.name
    for instance in registered:
        assert interfaces.implements(instance, interfaces.IAstroidChecker), instance.name
        # Not a token or raw checker: pylint walks the tree for it.
        assert not interfaces.implements(instance, (interfaces.ITokenChecker, interfaces.IRawChecker))
    # Making a linter (and its checkers) says nothing about the interface
    # being deprecated.
    recwarn.clear()
    checker.create_linter(linter_class=checker.CodeLinter)
    assert not [w for w in recwarn if "__implements__" in str(w.message)]


def test_message_id_symbol_store_holds_only_python_checker_ids():
    store = checker.message_id_symbol_store
    expected = {}
    for cls in checker.python_checker_classes:
        expected.update({msgid: entry[1] for msgid, entry in cls.msgs.items()})
    assert store == expected
    assert "E0001" not in store and "C7000" not in store and "C7001" not in store


def test_fatal_records_are_logged_and_still_rendered(monkeypatch, caplog):
    class FatalChecker(BaseChecker):
        name = "test-fatal"
        msgs = {"F9999": (helpers.context_string(), "test-fatal", "Always fatal.")}

        def visit_module(self, node):
            self.add_message("F9999", node=node, args={})

    checker.python_checker_classes.append(FatalChecker)
    try:
        with caplog.at_level(logging.ERROR):
            advice = checker.check_code("x = 1\n", "app/views.py", "p.settings")
    finally:
        checker.python_checker_classes.remove(FatalChecker)
    fatal_lines = [r.getMessage() for r in caplog.records if r.getMessage().startswith("Fatal message: ")]
    assert len(fatal_lines) == 1 and "F9999" in fatal_lines[0]
    assert [a["message-id"] for a in advice] == ["F9999"]


def test_check_names_survives_uninferable_names():
    import astroid

    checker.check_names(astroid.parse("x = undefined\ny = x.attr\nfor a in b: a\n"))


def test_html_linter_collects_per_checker():
    linter = checker.HtmlLinter()
    linter.check([])
    assert linter.messages == []


WALKED = '''
"""Walked."""
import os


@staticmethod
def first(a, *rest, key=None, **named):
    """Doc."""
    for x in rest:
        if x:
            yield [y for y in a if y] or {k: v for k, v in named.items()}
    while key:
        key = None
    else:
        return os.sep


class Second(object):
    size: int = 0

    def method(self):
        try:
            self.size = lambda: 1
        except (ValueError, TypeError) as error:
            raise RuntimeError("no") from error
        finally:
            del self.size
'''


def walk_log(walk, fail_on=None):
    """Each visit and leave pylint's walker makes of a module, by node; its
    statement count; and what it wrote when a visit of `fail_on` failed."""
    import contextlib
    import io
    import re

    import astroid
    from pylint.lint import PyLinter
    from pylint.utils.ast_walker import ASTWalker

    module = astroid.parse(WALKED)
    log = []
    walker = ASTWalker(PyLinter())

    def event(kind, node):
        if type(node).__name__ == fail_on:
            raise ValueError(f"failed at {node.lineno}")
        log.append((kind, type(node).__name__, node.lineno, node.col_offset))

    if fail_on == "Raise":  # a checker's callback in C fails with no Python frame
        walker.visit_events["raise"].append(len)

    for cls in astroid.nodes.ALL_NODE_CLASSES:
        cid = cls.__name__.lower()
        walker.visit_events[cid].append(lambda node: event("visit", node))
        if cid != "name":  # a class of node with no leave
            walker.leave_events[cid].append(lambda node: event("leave", node))
    told = io.StringIO()
    with contextlib.redirect_stderr(told):
        try:
            walk(walker, module)
        except (ValueError, TypeError) as error:
            log.append(("raised", str(error)))
    first_line = [re.sub(" at 0x[0-9a-f]+", "", line) for line in told.getvalue().splitlines()[:1]]
    return log, walker.nbstatements, first_line, walker.exception_msg


@pytest.mark.parametrize("fail_on", [None, "Lambda", "Raise"])
def test_the_compiled_walk_calls_the_checkers_as_pylints_own(fail_on):
    """Same visits and leaves in the same order, the same statement count,
    and a checker's error passed on after the same one line about it."""
    from pylint.utils.ast_walker import ASTWalker

    assert checker.pylints_own_walk is not None and ASTWalker.walk is not checker.pylints_own_walk
    ours = walk_log(ASTWalker.walk, fail_on)
    theirs = walk_log(checker.pylints_own_walk, fail_on)
    assert ours == theirs and ours[1] >= 14 and len(ours[0]) > 80
    if fail_on == "Lambda":
        assert ours[0][-1] == ("raised", "failed at 23") and ours[3] is True
        assert ours[2] == ["Exception on node <Lambda.<lambda> l.23> in file '<?>'"]
    if fail_on == "Raise":
        assert ours[0][-1] == ("raised", "object of type 'Raise' has no len()") and ours[3] is True


COMMENTED = [
    b"x = 1  # noqa\n",
    b'x = """a\n# not a comment\nb"""  # pylint: disable=foo\ny = 2\n',
    b"value = (1,  # first\n         # alone, in brackets\n         2)\n",
    b"total = 1 + \\\n    2  # tessary: disable=C2000\n",
    b"s = 'one \\\n# still the string' # after\n",
    b"def f():\n    # pylint: disable=bar\n\n    return rb'\\'' + f\"{x['k']}\"  # noqa: C2000\n",
    b"# -*- coding: utf-8 -*-\n# caf\xc3\xa9 # pylint: skip-file\n",
    b"x = 1\r\n# noqa\r\ny = [\r\n  2]  # done\r\n",
    b"x = 1\n# last comment, no end of line",
    b"x = 1  # noqa",
    b"if x:\n    y = 1\n   ",
    b"''''''  # empty\nu'''it''s'''\n",
]


def reduced(tokens):
    """What the pragma and noqa readers see of tokens: comments and line
    ends as they are, any other run of tokens on a line as one."""
    import tokenize

    kept, out, last_other = {tokenize.COMMENT, tokenize.NL, tokenize.NEWLINE, tokenize.ENCODING}, [], None
    for token in tokens:
        if token.type in (tokenize.INDENT, tokenize.DEDENT):
            continue
        if token.type in kept:
            last_other = None
            comment = token.type == tokenize.COMMENT
            out.append((token.type, token.string if comment else "", token.start[0], token.line if comment else ""))
        elif last_other != token.start[0]:
            last_other = token.start[0]
            out.append(("other", token.start[0]))
    return out


@pytest.mark.parametrize("text", COMMENTED)
def test_comments_are_read_as_pythons_tokenizer_reads_them(text):
    import io
    import tokenize

    found = checker.comment_tokens(text)
    assert found is not None
    assert reduced(found) == reduced(tokenize.tokenize(io.BytesIO(text).readline))


@pytest.mark.parametrize("text", [
    b"if x:\n\ty = 1  # noqa\n",  # a tab: the tokenizer's own rules of indentation
    b"\xef\xbb\xbfx = 1  # noqa\n",  # a byte order mark
    b"# -*- coding: latin-1 -*-\nx = '\xe9'  # noqa\n",
    b"x = 1\ry = 2  # noqa\n",  # a lone carriage return
    b"x = (1,  # noqa\n",  # not a whole module
])
def test_texts_read_otherwise_are_left_to_the_tokenizer(text):
    assert checker.comment_tokens(text) is None
