"""Rendering changed trees back to source: comments, quotes, formatting."""
import types

import pytest

from tessary.staticanalysis import helpers, suggest

DOUBLE = ("'", '"')  # move away from single quotes
SINGLE = ('"', "'")


def requote(target, value):
    leaf = types.SimpleNamespace(value=value)
    suggest.normalize_string_quotes(target, leaf)
    return leaf.value


def test_quote_habit_of_a_file():
    assert suggest.get_comma_character_target("'a' \"b\" 'c' \"d\" '' \"\"") == DOUBLE
    assert suggest.get_comma_character_target("'a' 'b' \"c\"") == SINGLE


@pytest.mark.parametrize(
    "target, before, after",
    [
        (DOUBLE, "'abc'", '"abc"'),
        (DOUBLE, '"abc"', '"abc"'),
        (DOUBLE, "'a\"b'", "'a\"b'"),  # converting would add an escape
        (DOUBLE, '"a\\\'b"', '"a\'b"'),  # needless escape dropped
        (DOUBLE, "'''doc'''", '"""doc"""'),
        (DOUBLE, '"""doc"""', '"""doc"""'),
        (SINGLE, '"abc"', "'abc'"),
        (SINGLE, "'abc'", "'abc'"),
        (SINGLE, '"it\'s"', '"it\'s"'),
        (DOUBLE, "r'a\"b'", "r'a\"b'"),  # raw: no escaping possible
        (DOUBLE, "rb'x'", 'rb"x"'),
        (DOUBLE, "f'{x}'", 'f"{x}"'),
        (DOUBLE, "f'{x[\"k\"]}'", "f'{x[\"k\"]}'"),  # the field would need a backslash
    ],
)
def test_normalize_string_quotes(target, before, after):
    assert requote(target, before) == after


def test_format_code_applies_the_quote_habit_with_the_installed_black():
    code = "x = 'a'\n\nif x:\n    y = ['b', \"c\", 'it\"s']\n"
    assert suggest.format_code(code, "", {"line_length": 79}, DOUBLE) == (
        'x = "a"\n\nif x:\n    y = ["b", "c", \'it"s\']'
    )
    assert suggest.format_code(code, "    ", {"line_length": 79}, SINGLE) == (
        "    x = 'a'\n\n    if x:\n        y = ['b', 'c', 'it\"s']"
    )
    # black's own prefix normalisation still applies
    assert suggest.format_code("s = U'x'\n", "", {"line_length": 79}, DOUBLE) == 's = "x"'


def test_format_code_prints_no_warning(capsys):
    suggest.format_code("x = 1\n", "", {"line_length": 79}, DOUBLE)
    out, err = capsys.readouterr()
    assert out == "" and err == ""


def test_comments_and_blank_lines_come_back():
    source = (
        "import os\n\n# lead\nx = f(1)  # trailing\ny = g(\n    2,  # inner\n)\n\n\n"
        "def h():\n    # inside\n    return 1\n"
    )
    atok = helpers.build_atok(source)
    assert suggest.node_as_string(atok=atok, node=atok.tree) == (
        "import os\n\n# lead\nx = f(1)  # trailing\ny = g(2)\n\n\n"
        "def h():\n    # inside\n    return 1"
    )


def test_small_text_helpers():
    assert suggest.read_code_line(["  a = 1", "b"], 1) == ("a = 1", "  ")
    assert suggest.get_indentation("\t  x") == "\t  "
    with pytest.raises(IndexError):
        suggest.read_code_line(["a"], 3)
