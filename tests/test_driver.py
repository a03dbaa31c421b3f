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
