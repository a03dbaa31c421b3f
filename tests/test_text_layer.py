"""The fixer's text layer on its own (no linter, no syntax tree): splicing,
line endings and byte-order marks, reformatting a statement, the parse
check."""
from tessary.staticanalysis import transformer


def test_splices_land_right_to_left_with_character_offsets():
    text = "naïve = f(a, b)\n"
    start = text.index("a, b")
    assert transformer.splice_text(text, [(start, start + 3, ""), (start, start, "c=1, "), (0, 5, "x")]) == (
        "x = f(c=1, b)\n")
    # At one offset a removal goes before an insertion.
    assert transformer.splice_text("ab", [(1, 1, "X"), (1, 2, "")]) == "aX"


def test_line_endings_and_the_mark_come_back_line_by_line():
    original = "\ufeffa = 1\r\nb = 2\rc = 3\n"
    plain, written = transformer.respell(original, "a = 1\nb = 22\nc = 3\n")
    assert plain == "a = 1\nb = 2\nc = 3\n"
    assert written == "\ufeffa = 1\r\nb = 22\rc = 3\n"
    # A line the fix added takes the ending of the line it follows.
    assert transformer.respell("a\r\nb\r\n", "a\r\nx\nb\n")[1].count("\r\n") >= 2


def reformat(original, fixed, line_length=40):
    start = original.index("field")
    new_start = fixed.index("field")
    return transformer.reformat_statement(original, fixed, start, len(original.rstrip("\n")), new_start,
                                          len(fixed.rstrip("\n")), {"line_length": line_length})


def test_a_black_formatted_statement_stays_black_formatted():
    original = 'field = models.CharField(\n    max_length=20,\n    null=False,\n)\n'
    fixed = 'field = models.CharField(\n    max_length=20,\n)\n'
    # Already as black leaves it: nothing to do.
    assert reformat(original, fixed) is None
    joined = 'field = models.CharField(max_length=20, null=False)\n'
    assert reformat(joined, 'field = models.CharField(max_length=20)\n', 88) is None


def test_only_a_line_the_fix_made_too_long_is_formatted():
    original = "field = f(a)\n"
    fixed = "field = f(a, blank_value_that_is_long=True)\n"
    assert reformat(original, fixed) == "field = f(\n    a, blank_value_that_is_long=True\n)\n"
    too_long = "field = f(aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa)\n"
    assert reformat(too_long, too_long.replace("f(", "g(")) is None


def test_parse_problem():
    assert transformer.parse_problem("x = 1\n") is None
    assert "invalid syntax" in transformer.parse_problem("x = = 1\n")
    assert transformer.parse_problem("s = '\\d'\n") is None  # the project's own escapes are not ours
