"""The everyday command line: exit status, output file, quiet output, the
configuration file, extend- lists, exclude and per-file-ignores patterns,
inline disables and one-line usage errors."""
import json
import textwrap

import pytest

from tests.conftest import make_project, run

from tessary import meta

NULLABLE = textwrap.dedent(
    """\
    from django.db import models


    class Book(models.Model):
        title = models.CharField(max_length=10, null=True)
        note = models.TextField(blank=False)
    """
)


@pytest.fixture
def project(tmp_path):
    return make_project(tmp_path, NULLABLE, admin=True)


def found(out):
    return sorted((e["path"], e["line"], e["message-id"]) for e in json.loads(out))


def check_json(capsys, root, *args):
    code, out, err = run(capsys, "check", "--no-progress", "--no-cache", "--format", "json", *args, root)
    assert code in (0, 1), err
    return found(out)


# --------------------------------------------------------------------------
# Exit status, output file, quiet


def test_exit_zero_with_findings_but_not_with_a_file_that_could_not_be_analysed(capsys, project):
    assert run(capsys, "check", "--no-progress", project)[0] == 1
    assert run(capsys, "check", "--no-progress", "--exit-zero", project)[0] == 0
    code, out, _ = run(capsys, "suggest", "--no-cache", "--exit-zero", project)
    assert code == 0 and json.loads(out)["comments"]
    (project / "templates").mkdir()
    (project / "templates" / "bad.html").write_bytes(b"<p>\xff</p>\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--exit-zero", project)
    assert code == 2 and "F0001" in out


def test_output_file_holds_the_report_and_is_overwritten(capsys, project, tmp_path, monkeypatch):
    monkeypatch.chdir(project)
    target = tmp_path / "report.json"
    target.write_text("old text that is longer than the report of a clean project")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--output-file", target, project)
    assert code == 1 and out == ""
    assert {e["message-id"] for e in json.loads(target.read_text())} == {"C2000", "C2002"}
    code, out, _ = run(capsys, "check", "--no-progress", "--output-file", target, "--select", "C9000", project)
    assert code == 0 and out == "" and target.read_text() == "No findings in 4 files.\n"
    code, out, _ = run(capsys, "check", "--no-progress", "--output-file", target, project)
    assert "\x1b" not in target.read_text() and target.read_text().startswith("shop/models.py:5:13: C2000")


@pytest.mark.parametrize("where, message", [
    ("missing/report.txt", "no such folder"),
    (".", "is a folder"),
])
def test_output_file_needs_a_folder_that_exists(capsys, project, tmp_path, where, message):
    code, out, err = run(capsys, "check", "--no-progress", "--output-file", tmp_path / where, project)
    assert code == 2 and out == "" and err.count("\n") == 1
    assert err.startswith("tessary: error: --output-file ") and message in err
    assert not (tmp_path / "missing").exists()


def test_quiet_check_prints_the_findings_only(capsys, project):
    code, out, _ = run(capsys, "check", "--no-progress", "-q", project)
    assert code == 1 and [line.split(": ")[1].split()[0] for line in out.splitlines()] == ["C2000", "C2002"]
    code, out, _ = run(capsys, "check", "--no-progress", "--quiet", "--select", "C9000", project)
    assert code == 0 and out == ""


def test_quiet_fix_prints_no_summary(capsys, project):
    code, out, err = run(capsys, "fix", "--quiet", "--diff", project)
    assert code == 1 and out.startswith("--- a/shop/models.py") and err == ""
    code, out, err = run(capsys, "fix", "--quiet", project)
    assert code == 0 and "Fixed" not in out and "Held back" not in out and err == ""
    assert "blank=False" not in (project / "shop" / "models.py").read_text()
    code, out, _ = run(capsys, "fix", "--unsafe-fixes", project)
    assert out.startswith("Fixed 1 finding in 1 file")


# --------------------------------------------------------------------------
# The configuration file and the id lists


def test_config_names_the_file_read_and_the_root_stays_the_projects(capsys, project, tmp_path):
    (project / "pyproject.toml").write_text('[tool.tessary]\nignore = ["C2002"]\n')
    other = tmp_path / "elsewhere" / "tessary.toml"
    other.parent.mkdir()
    other.write_text('[tool.black]\nline-length = 60\n\n[tool.tessary]\nignore = ["C2000"]\n')
    assert [i for _, _, i in check_json(capsys, project)] == ["C2000"]
    assert [i for _, _, i in check_json(capsys, project, "--config", other)] == ["C2002"]
    code, out, _ = run(capsys, "check", "--show-settings", "--config", other, project)
    assert code == 0
    assert f"project root: {project} (found by manage.py)\n" in out and f"configuration file: {other}\n" in out
    assert "line length: 60\n" in out
    # The next run without --config reads the project's own file again.
    assert [i for _, _, i in check_json(capsys, project)] == ["C2000"]


@pytest.mark.parametrize("text, message", [
    (None, "no such file"),
    ("[tool.tessary\n", "Expected ']'"),
    ('[tool.tessary]\nexclude = "migrations/"\n', "exclude must be a list of texts"),
    ('[tool.tessary]\nexclude = ["!keep.py"]\n', "negation"),
    ('[tool.tessary]\nexclude = ["a[b"]\n', "without its ]"),
    ('[tool.tessary]\nper-file-ignores = ["C2000"]\n', "per-file-ignores must be a table"),
    ('[tool.tessary.per-file-ignores]\n"*.py" = 3\n', "must be a text or a list of texts"),
    ('[tool.tessary]\nextend-select = 1\n', "extend-select must be a text or a list of texts"),
    ('[tool.tessary]\nextend-ignore = ["nonsense"]\n', "unknown rule 'nonsense'"),
    ('[tool.tessary]\nexclude-everything = true\n', "is not a tessary option"),
])
@pytest.mark.parametrize("command", ["check", "fix", "suggest"])
def test_configuration_errors_are_one_line(capsys, project, tmp_path, text, message, command):
    config = tmp_path / "config.toml"
    if text is not None:
        config.write_text(text)
    code, out, err = run(capsys, command, "--config", config, project)
    assert code == 2 and out == "" and err.count("\n") == 1
    assert err.startswith("tessary: error: ") and message in err, err
    if text is not None and "rule" not in message:
        assert str(config) in err


@pytest.mark.parametrize("configured, flags, expected", [
    ("", ["--extend-ignore", "C2002"], ["C2000"]),
    ('ignore = ["C2000"]\nextend-ignore = ["redundant-default-args"]\n', [], []),
    ('ignore = ["C2000"]\n', ["--extend-ignore", "C2002"], []),
    ('ignore = ["C2000"]\nextend-ignore = ["C2002"]\n', ["--ignore", "C2002"], ["C2000"]),
    ('select = ["C2000"]\nextend-select = ["C2002"]\n', [], ["C2000", "C2002"]),
    ('select = ["C2000"]\n', ["--extend-select", "redundant-default-args"], ["C2000", "C2002"]),
    ('select = ["C2000"]\nextend-select = ["C2002"]\n', ["--select", "C9000"], []),
    ('select = ["C2000", "C2002"]\n', ["--extend-ignore", "C2000"], ["C2002"]),
    ("", ["--extend-select", "C2000"], ["C2000", "C2002"]),
    ('extend-select = ["C2002"]\n', [], ["C2000", "C2002"]),
])
def test_extend_select_and_ignore_add_to_the_lists(capsys, project, configured, flags, expected):
    (project / "pyproject.toml").write_text("[tool.tessary]\n" + configured)
    assert [i for _, _, i in check_json(capsys, project, *flags)] == expected


def test_extend_lists_apply_to_fix_and_suggest(capsys, project):
    (project / "pyproject.toml").write_text('[tool.tessary]\nextend-ignore = ["C2002"]\n')
    code, out, _ = run(capsys, "suggest", "--no-cache", project)
    assert [c["body"][:9] for c in json.loads(out)["comments"]] == ["**C2000**"]
    code, _, _ = run(capsys, "fix", project)
    assert code == 0 and "blank=False" in (project / "shop" / "models.py").read_text()


# --------------------------------------------------------------------------
# Patterns


@pytest.mark.parametrize("pattern, path, matches", [
    ("migrations/", "shop/migrations/0001_initial.py", True),
    ("migrations/", "migrations/0001_initial.py", True),
    ("migrations/", "shop/migrations.py", False),
    ("migrations", "shop/migrations.py", False),
    ("migrations.py", "shop/migrations.py", True),
    ("*/legacy/*.py", "shop/legacy/old.py", True),
    ("*/legacy/*.py", "a/shop/legacy/old.py", False),
    ("*/legacy/*.py", "legacy/old.py", False),
    ("*/legacy/*.py", "shop/legacy/deeper/old.py", False),
    ("docs/**", "docs/a/b/page.html", True),
    ("docs/**", "src/docs/page.html", False),
    ("/docs", "docs/page.html", True),
    ("**/tests/*.py", "a/b/tests/test_x.py", True),
    ("a/**/b.py", "a/b.py", True),
    ("a/**/b.py", "a/x/y/b.py", True),
    ("a/**/b.py", "c/a/b.py", False),
    ("*.html", "templates/shop/list.html", True),
    ("*.html", "templates/shop/list.htm", False),
    ("test_?.py", "shop/test_1.py", True),
    ("test_?.py", "shop/test_12.py", False),
    ("test_?.py", "shop/test_é.py", True),
    ("test_[0-4].py", "shop/test_3.py", True),
    ("test_[!0-4].py", "shop/test_3.py", False),
    ("test_[!0-4].py", "shop/test_7.py", True),
    ("\\*.py", "shop/*.py", True),
    ("\\*.py", "shop/a.py", False),
    ("*", "manage.py", True),
])
def test_gitignore_style_patterns(pattern, path, matches):
    assert meta.path_matches([pattern], path) is matches


def test_exclude_leaves_files_out_of_check_fix_and_suggest(capsys, project):
    (project / "shop" / "legacy").mkdir()
    (project / "shop" / "legacy" / "old.py").write_text(NULLABLE)
    (project / "shop" / "migrations").mkdir()
    (project / "shop" / "migrations" / "__init__.py").write_text("")
    (project / "shop" / "migrations" / "0001_initial.py").write_text(NULLABLE)
    assert {p for p, _, _ in check_json(capsys, project)} == {
        "shop/models.py", "shop/legacy/old.py", "shop/migrations/0001_initial.py"}
    (project / "pyproject.toml").write_text('[tool.tessary]\nexclude = ["migrations/", "*/legacy/*.py"]\n')
    assert {p for p, _, _ in check_json(capsys, project)} == {"shop/models.py"}
    # A path named on the command line (as pre-commit names files) is excluded too.
    code, out, _ = run(capsys, "check", "--no-progress", project / "shop" / "legacy" / "old.py")
    assert code == 0 and out == "No findings in 0 files.\n"
    code, out, _ = run(capsys, "suggest", "--no-cache", project)
    assert {c["path"] for c in json.loads(out)["comments"]} == {"shop/models.py"}
    run(capsys, "fix", project)
    assert (project / "shop" / "legacy" / "old.py").read_text() == NULLABLE
    assert (project / "shop" / "migrations" / "0001_initial.py").read_text() == NULLABLE
    assert (project / "shop" / "models.py").read_text() != NULLABLE


def test_per_file_ignores(capsys, project):
    (project / "shop" / "tests").mkdir()
    (project / "shop" / "tests" / "test_books.py").write_text(NULLABLE)
    (project / "pyproject.toml").write_text(
        '[tool.tessary.per-file-ignores]\n"*/tests/*.py" = ["C2000", "redundant-default-args"]\n'
        '"models.py" = "C2002"\n')
    assert check_json(capsys, project) == [("shop/models.py", 5, "C2000")]
    code, out, _ = run(capsys, "suggest", "--no-cache", project)
    assert [(c["path"], c["line"]) for c in json.loads(out)["comments"]] == [("shop/models.py", 5)]
    code, out, _ = run(capsys, "check", "--show-settings", project)
    assert "per-file ignores: */tests/*.py: C2000, C2002; models.py: C2002\n" in out
    run(capsys, "fix", "--unsafe-fixes", project)
    assert (project / "shop" / "tests" / "test_books.py").read_text() == NULLABLE
    fixed = (project / "shop" / "models.py").read_text()
    assert "null=True" not in fixed and "blank=False" in fixed


# --------------------------------------------------------------------------
# Inline disables


@pytest.mark.parametrize("lines, reported", [
    (["    title = models.CharField(max_length=10, null=True)  # noqa: C2000"], []),
    (["    title = models.CharField(max_length=10, null=True)  # noqa:nullable-string-field"], []),
    (["    title = models.CharField(max_length=10, null=True)  # NOQA: c2000, C2002"], []),
    (["    title = models.CharField(max_length=10, null=True)  # noqa"], []),
    (["    title = models.CharField(max_length=10, null=True)  # why not  # noqa"], []),
    (["    title = models.CharField(max_length=10, null=True)  # noqa: E501"], [5]),
    (["    title = models.CharField(max_length=10, null=True)  # noqa: C2002"], [5]),
    (["    title = models.CharField(max_length=10, null=True)  # noqa E501"], []),
    (["    # noqa", "    title = models.CharField(max_length=10, null=True)"], [6]),
    (["    title = models.CharField(", "        max_length=10, null=True,  # noqa: C2000", "    )"], []),
    (["    title = models.CharField(max_length=10, null=True)", "    other = 1  # noqa"], [5]),
    (["    title = models.CharField(max_length=10, null=True)  # tessary: disable=C2000"], []),
])
def test_inline_disables(capsys, project, lines, reported):
    (project / "shop" / "models.py").write_text(
        "from django.db import models\n\n\nclass Book(models.Model):\n" + "\n".join(lines) + "\n")
    assert [line for _, line, _ in check_json(capsys, project)] == reported
    # `fix` changes what `check` reports, and leaves a silenced line alone.
    code, out, _ = run(capsys, "fix", "--diff", "--unsafe-fixes", "--select", "C2000", project)
    assert (code == 1 and "-    title = " in out) if reported else (code == 0 and out == ""), out


def test_noqa_on_a_block_opener_covers_that_line_only(capsys, project):
    (project / "shop" / "views.py").write_text(
        "from shop.models import Book\n\n\n"
        "def view():  # noqa\n"
        "    return len(Book.objects.all())\n")
    assert check_json(capsys, project, "--select", "C9000") == [("shop/views.py", 5, "C9000")]


def test_template_disable_comment_silences_its_line(capsys, project):
    (project / "shop" / "settings.py").write_text(
        'INSTALLED_APPS = ["shop"]\nROOT_URLCONF = "shop.urls"\nSTATIC_URL = "/static/"\n')
    (project / "templates").mkdir()
    page = (
        '<img src="/static/a.png"> {# tessary: disable=C7001 #}\n'
        '<img src="/static/b.png">\n'
        '<a href="/a/">a</a> {# tessary: disable=hard-coded-url,hard-coded-static-url #}\n'
        '<a href="/b/">b</a> {# tessary: disable=C7001 #}\n'
    )
    (project / "templates" / "page.html").write_text(page)
    assert check_json(capsys, project, "--select", "C7000,C7001") == [
        ("templates/page.html", 2, "C7001"), ("templates/page.html", 4, "C7000")]
    code, out, _ = run(capsys, "fix", "--diff", project / "templates")
    assert code == 1 and '-<img src="/static/b.png">' in out and '-<img src="/static/a.png">' not in out


# --------------------------------------------------------------------------
# Usage errors


@pytest.mark.parametrize("argv, message", [
    (["check", "--format", "xml"], "argument --format: invalid choice: 'xml'"),
    (["check", "--no-such-flag"], "unrecognized arguments: --no-such-flag"),
    (["check", "--jobs", "many"], "invalid int value: 'many'"),
    (["fix", "--exit-zero"], "unrecognized arguments: --exit-zero"),
    (["suggest", "--quiet"], "unrecognized arguments: --quiet"),
    (["lint"], "invalid choice: 'lint'"),
    ([], "the following arguments are required: COMMAND"),
    (["rules", "--format", "\x1b[2Jx"], "invalid choice: '\\x1b[2Jx'"),
])
def test_usage_errors_are_one_line(capsys, argv, message):
    code, out, err = run(capsys, *argv)
    assert code == 2 and out == ""
    assert err.count("\n") == 1 and err.startswith("tessary: error: ") and message in err, err
    assert "usage:" not in err and "\x1b" not in err


# --------------------------------------------------------------------------
# The default rule set


def default_json(capsys, root, *args):
    code, out, err = run(capsys, "check", "--no-progress", "--no-cache", "--format", "json", *args, root,
                         default_rules=True)
    assert code in (0, 1, 2), err
    return [e["message-id"] for e in json.loads(out)]


def test_opt_in_rules_run_only_when_selected(capsys, project):
    (project / "shop" / "models.py").write_text(NULLABLE + "    day = models.DateField(null=True)\n")
    (project / "shop" / "broken.py").write_text("def broken(:\n")
    # C2000 and C2002 are opt-in; C2003 is in the default set. A module that
    # does not parse is reported whatever is selected.
    assert default_json(capsys, project) == ["E0001", "C2003"]
    assert default_json(capsys, project, "--extend-select", "C2000") == ["E0001", "C2000", "C2003"]
    assert default_json(capsys, project, "--select", "C2002") == ["E0001", "C2002"]
    assert default_json(capsys, project, "--select", "all") == ["E0001", "C2000", "C2002", "C2003"]
    (project / "pyproject.toml").write_text('[tool.tessary]\nextend-select = ["nullable-string-field"]\n')
    assert default_json(capsys, project) == ["E0001", "C2000", "C2003"]
    (project / "pyproject.toml").write_text('[tool.tessary]\nselect = ["ALL"]\nignore = ["C2002"]\n')
    assert default_json(capsys, project) == ["E0001", "C2000", "C2003"]
    # fix works on the same rules as check.
    (project / "pyproject.toml").unlink()
    code, out, err = run(capsys, "fix", "--diff", "--unsafe-fixes", project, default_rules=True)
    assert "blank=True" in out and "null=True" in out.split("+    title")[0] and "-    title" not in out


def test_rules_and_explain_say_which_rules_are_opt_in(capsys):
    code, out, _ = run(capsys, "rules")
    lines = {line.split()[0]: line.split()[2] for line in out.splitlines() if line[:1] == "C"}
    assert lines["C2000"] == "opt-in" and lines["C2003"] == "default" and lines["C6001"] == "default"
    code, out, _ = run(capsys, "rules", "--format", "json")
    rules = {r["id"]: r for r in json.loads(out)}
    assert rules["C9001"]["default"] is False and "%" in rules["C9001"]["opt_in_because"]
    assert rules["C2003"]["default"] is True and rules["C2003"]["opt_in_because"] is None
    code, out, _ = run(capsys, "explain", "C9001")
    assert "\nOpt-in: 71% of its judged findings" in out and "--extend-select C9001" in out
    code, out, _ = run(capsys, "explain", "C2003")
    assert "Opt-in" not in out
