"""Whole-project fixing: minimal edits, safe writes, and `tessary fix`."""
import io
import json
import os
import pathlib
import shutil
import stat
import subprocess
import tokenize

import pytest

from tests.conftest import make_project

from tessary import cli
from tessary.staticanalysis import checker, transformer

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "bookshop"
STYLE = {"line_length": 88}

MODELS = (
    "from django.db import models\n\n\n"
    "class Book(models.Model):\n"
    "    title = models.CharField(max_length=10, null=True)  # why null\n"
    "    blurb = models.CharField(\n"
    "        max_length=2000,  # keep this comment\n"
    "    )\n"
    "    pages = models.IntegerField(null=True)\n"
)


@pytest.fixture
def project(tmp_path):
    root = make_project(tmp_path, MODELS, admin=True)
    return root


def comments(text):
    return [t.string for t in tokenize.generate_tokens(io.StringIO(text).readline) if t.type == tokenize.COMMENT]


def test_minimal_edits_keep_everything_else(project):
    result = transformer.fix_project(str(project), None, "site.settings", STYLE)
    ((text, path),) = result["files"]
    assert path == "shop/models.py"
    assert text == MODELS.replace(
        "max_length=10, null=True)", 'max_length=10, default="", blank=True)'
    ).replace("IntegerField(null=True)", "IntegerField(null=True, blank=True)").replace(
        "CharField(\n        max_length=2000,  # keep this comment\n", "TextField(\n        # keep this comment\n")
    # A comment inside a call stays, on its own line when its keyword goes.
    assert comments(text) == comments(MODELS)
    assert result["fixed"] == {"C2000": 1, "C2003": 1, "C2006": 1} and result["unfixed"] == {}
    assert result["changed_models"] == {"shop": ["Book"]}


def test_only_what_a_fix_made_too_long_is_formatted(project):
    untouched = '        migrations.CreateModel(name="Book", fields=[("id", models.AutoField(primary_key=True))]),\n'
    migration = (
        "from django.db import migrations, models\n\n\n"
        "def forwards(apps, schema_editor):\n    pass\n\n\n"
        "class Migration(migrations.Migration):\n"
        "    operations = [\n" + untouched + "        migrations.RunPython(forwards),\n    ]\n"
    )
    (project / "shop" / "migrations").mkdir()
    (project / "shop" / "migrations" / "__init__.py").write_text("")
    (project / "shop" / "migrations" / "0001_initial.py").write_text(migration)
    (project / "shop" / "models.py").write_text(
        "from django.db import models\n\n\n"
        "class Book(models.Model):\n"
        "    title = models.CharField(max_length=10, null=True, verbose_name='title of the book')\n"
    )
    result = transformer.fix_project(str(project), None, "s", STYLE)
    fixed = {path: text for text, path in result["files"]}
    # The operations list already had a long line: only the fixed line changes.
    assert fixed["shop/migrations/0001_initial.py"] == migration.replace(
        "RunPython(forwards)", "RunPython(forwards, migrations.RunPython.noop)")
    # The field line grew past the line length: that statement alone is formatted.
    assert fixed["shop/models.py"].endswith(
        "    title = models.CharField(\n"
        "        max_length=10, default='', verbose_name='title of the book', blank=True\n"
        "    )\n"
    )


def test_files_changed_since_an_earlier_lint_in_the_process_are_read_afresh(project):
    models = project / "shop" / "models.py"
    checker.create_linter(linter_class=checker.Linter).check([str(models)])  # astroid now caches the file
    changed = MODELS.replace("    pages = models.IntegerField(null=True)\n",
                             "    # a new comment moves every line below\n    pages = models.IntegerField(null=True)\n")
    models.write_text(changed)
    result = transformer.fix_project(str(project), None, "s", STYLE)
    ((text, _),) = result["files"]
    assert text == changed.replace("max_length=10, null=True)", 'max_length=10, default="", blank=True)').replace(
        "IntegerField(null=True)", "IntegerField(null=True, blank=True)").replace(
        "CharField(\n        max_length=2000,  # keep this comment\n", "TextField(\n        # keep this comment\n")


def test_whitelist_selects_files_and_ids(project):
    result = transformer.fix_project(str(project), {"shop/models.py": ["C2003"]}, "s", STYLE)
    ((text, _),) = result["files"]
    assert "null=True, blank=True)" in text and "default=" not in text
    assert transformer.fix_project(str(project), {"shop/other.py": None}, "s", STYLE)["files"] == []


def test_in_place_keeps_line_endings_byte_order_mark_permissions_and_symlinks(project, tmp_path):
    models = project / "shop" / "models.py"
    models.write_bytes(b"\xef\xbb\xbf" + MODELS.replace("\n", "\r\n").encode())
    models.chmod(0o640)
    real = tmp_path / "elsewhere.py"
    real.write_text("from django.db import models\nclass A(models.Model):\n    x = models.NullBooleanField()\n")
    (project / "shop" / "linked.py").symlink_to(real)

    written = transformer.trasform_files_in_place(str(project), {"shop/models.py": None})
    assert written == ["shop/models.py"]
    data = models.read_bytes()
    assert b"blank=True)\r\n" in data and b"\n" not in data.replace(b"\r\n", b"")
    assert data.startswith(b"\xef\xbb\xbffrom django")  # the byte-order mark stays
    assert stat.S_IMODE(models.stat().st_mode) == 0o640
    assert [p.name for p in (project / "shop").iterdir() if p.name.startswith(".")] == []
    # The symlink's target lies outside the project: refused before writing.
    result = transformer.fix_project(str(project), {"shop/linked.py": None}, "s", STYLE)
    assert result["files"] == [] and result["refused"] == {
        "shop/linked.py": f"it is a link to {real}, outside the project"}
    assert transformer.trasform_files_in_place(str(project), {"shop/linked.py": None}) == []
    with pytest.raises(ValueError, match="outside the project"):
        transformer.write_files(str(project), [("x = 1\n", "shop/linked.py")])
    assert "blank" not in real.read_text()


def test_a_symlink_inside_the_project_stays_a_symlink(project):
    target = project / "shop" / "real_models.py"
    target.write_text(MODELS)
    (project / "shop" / "models.py").unlink()
    (project / "shop" / "models.py").symlink_to("real_models.py")
    transformer.write_files(str(project), [("x = 1\n", "shop/models.py")])
    assert (project / "shop" / "models.py").is_symlink()
    assert target.read_text() == "x = 1\n"


def test_a_failed_write_leaves_the_original_and_no_stray_file(project, monkeypatch):
    def broken_replace(*args):
        raise OSError("disk full")

    monkeypatch.setattr(os, "replace", broken_replace)
    with pytest.raises(OSError, match="disk full"):
        transformer.trasform_files_in_place(str(project), None)
    assert (project / "shop" / "models.py").read_text() == MODELS
    assert sorted(p.name for p in (project / "shop").iterdir()) == ["__init__.py", "admin.py", "models.py"]


def test_paths_outside_the_root_are_refused_before_any_write(project):
    with pytest.raises(ValueError):
        transformer.write_files(str(project), [("x = 1\n", "shop/models.py"), ("y = 2\n", "../evil.py")])
    assert (project / "shop" / "models.py").read_text() == MODELS
    with pytest.raises(ValueError):
        transformer.write_files(str(project), [("only one part",)])


def test_tessary_fix_on_the_demo_project(tmp_path, capsys):
    root = tmp_path / "demo"
    shutil.copytree(DEMO, root)
    subprocess.run(["git", "init", "-q"], cwd=root, check=True)
    code = cli.main(["fix", "--diff", str(root)])
    patch, err = capsys.readouterr()
    assert code == 1 and patch.startswith("--- a/") and err.startswith("Would fix ")
    (tmp_path / "demo.patch").write_text(patch)
    subprocess.run(["git", "apply", "--check", str(tmp_path / "demo.patch")], cwd=root, check=True)

    def remaining():
        cli.main(["check", "--no-progress", "--format", "json", str(root)])
        out, _ = capsys.readouterr()
        return {e["message-id"] for e in json.loads(out)}

    # The safe fixes first; the unsafe ones are named and held back.
    assert cli.main(["fix", str(root)]) == 0
    out, _ = capsys.readouterr()
    assert out.splitlines()[:2] == [
        "Fixed 6 findings in 3 files; 11 findings have no automatic fix.",
        "Held back 14 unsafe fixes (C2000, C2003, C2006, C4008, C4010, C4013, C4014, C4016, C6000, C6001, C8001, "
        "C9000, C9002, C9003), which can change what the program does or stores: 'tessary fix --unsafe-fixes' "
        "applies them, 'tessary explain ID' says why.",
    ]
    assert {"C2000", "C2003", "C2006", "C9000", "C9002", "C9003", "C4010", "C6000", "C6001", "C8001"} <= remaining()
    assert not {"C2002", "C2008", "C9001", "C7001"} & remaining()

    assert cli.main(["fix", "--unsafe-fixes", str(root)]) == 0
    out, _ = capsys.readouterr()
    assert out.startswith("Fixed 14 findings in 4 files") and "makemigrations" in out and "Held back" not in out
    assert not {"C2000", "C2003", "C2006", "C2008", "C8001", "C9000", "C9001", "C9002", "C9003", "C4008", "C4010",
                "C4013", "C4014", "C4016", "C6000"} & remaining()
    # Switching HSTS on (C4010) brings the rules that only apply with HSTS
    # on (C4011, C4017), as Django's own checks do; the next run is stable.
    assert cli.main(["fix", "--unsafe-fixes", str(root)]) == 0
    assert "SECURE_HSTS_PRELOAD = True" in (root / "bookshop" / "settings.py").read_text()
    before = {p: p.read_bytes() for p in root.rglob("*.py")}
    assert cli.main(["fix", "--unsafe-fixes", str(root)]) == 0
    assert {p: p.read_bytes() for p in root.rglob("*.py")} == before


def test_unsafe_fixes_from_the_configuration(capsys, project):
    (project / "pyproject.toml").write_text('[tool.tessary]\nunsafe-fixes = true\nextend-select = ["ALL"]\n')
    assert cli.main(["fix", str(project)]) == 0
    out, _ = capsys.readouterr()
    assert "Held back" not in out and "default=" in (project / "shop" / "models.py").read_text()
    (project / "pyproject.toml").write_text('[tool.tessary]\nunsafe-fixes = "yes"\n')
    assert cli.main(["fix", str(project)]) == 2


LENGTHS = (
    "from django.db import models\n\n\n"
    "class Ticket(models.Model):\n"
    "    code = models.CharField(max_length=100)\n"
    "    subject = models.CharField(max_length=300)\n"
    "    body = models.CharField(max_length=600)\n"
)


@pytest.mark.parametrize("limit, huge", [(None, ["body"]), (100, ["subject", "body"]), (1000, [])],
                         ids=["default", "smaller", "larger"])
def test_huge_char_fields_are_judged_by_the_configured_length_in_check_fix_and_suggest(tmp_path, capsys, limit,
                                                                                        huge):
    from tessary.staticanalysis import suggest

    root = make_project(tmp_path, LENGTHS)
    if limit:
        (root / "pyproject.toml").write_text(f"[tool.tessary]\nmax-charfield-length = {limit}\n")
    code, out, _ = cli_run(capsys, "check", "--no-cache", "--format", "json", "--select", "C2006", root)
    reported = [e for e in json.loads(out)]
    assert [e["message"]["name"] for e in reported] == huge

    # A review comment on each field asks for the fix: only the huge ones get one.
    path = f"{root}/shop/models.py"
    comments = [{"path": path, "line": line, "message-id": "C2006", "body": "long"} for line in (5, 6, 7)]
    suggested = [c["path"] + ":" + str(c["line"]) for c in suggest.suggest_fixes(comments, str(root))
                 if "TextField" in c["body"]]
    assert suggested == [f"/shop/models.py:{LENGTHS.splitlines().index(line) + 1}"
                         for line in LENGTHS.splitlines() if any(f"    {name} =" in line for name in huge)]

    result = transformer.fix_project(str(root), None, "site.settings", STYLE)
    assert result["fixed"] == ({"C2006": len(huge)} if huge else {})
    text = result["files"][0][0] if huge else LENGTHS
    for name in ("code", "subject", "body"):
        field = next(line for line in text.splitlines() if line.startswith(f"    {name} ="))
        assert ("TextField" in field) == (name in huge), field
    # The project's option holds for that run only.
    assert transformer.fix_text(LENGTHS, "shop/models.py", "site.settings", STYLE, {"C2006"})["fixed"] == {"C2006": 1}


def cli_run(capsys, *argv):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_rules_and_explain_show_fix_grades(capsys):
    cli.main(["rules", "--format", "json"])
    rules = {r["id"]: r for r in json.loads(capsys.readouterr()[0])}
    grades = {msgid: rule["fix_grade"] for msgid, rule in rules.items() if rule["fix_grade"]}
    settings = {msgid: "unsafe" for msgid in ("C4005", "C4007", "C4008", "C4009", "C4010", "C4011", "C4012",
                                              "C4013", "C4014", "C4015", "C4016", "C4017")}
    assert grades == {"C2000": "unsafe", "C2002": "safe", "C2003": "unsafe", "C2006": "unsafe", "C2008": "safe",
                      "C6000": "unsafe", "C6001": "unsafe", "C7001": "safe", "C8001": "unsafe", "C9000": "unsafe",
                      "C9001": "safe", "C9002": "unsafe", "C9003": "unsafe", **settings}
    assert all(rules[m]["unsafe_because"] for m, g in grades.items() if g == "unsafe")
    cli.main(["explain", "C2006"])
    assert "The fix is unsafe ('tessary fix' applies it only with --unsafe-fixes): the column changes type" in (
        capsys.readouterr()[0])


def simple_statement_lines(text):
    """The line ranges of the simple statements of a module, and of the
    tests of its if and while statements."""
    import ast

    compound = (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef, ast.If, ast.For, ast.AsyncFor, ast.While,
                ast.With, ast.AsyncWith, ast.Try)
    ranges = []
    for node in ast.walk(ast.parse(text)):
        if isinstance(node, (ast.If, ast.While)):
            ranges.append((node.lineno, node.test.end_lineno))  # the tested expression
        elif isinstance(node, ast.stmt) and not isinstance(node, compound):
            ranges.append((node.lineno, node.end_lineno))
    return ranges


@pytest.mark.parametrize("corpus", ["contrib", "demo"])
def test_fixing_real_code_keeps_everything_else(tmp_path, corpus):
    """Real code through the fixer with every fix: every fixed text parses
    and keeps every comment; only lines of the statements a fix edited
    change; no added line is longer than the line length; a file black
    leaves unchanged is left so; a second run finds nothing to do."""
    import difflib

    import black
    import django

    if corpus == "contrib":
        source = pathlib.Path(django.__file__).parent / "contrib"
    else:
        source = DEMO
    root = tmp_path / corpus
    shutil.copytree(source, root, ignore=shutil.ignore_patterns("locale", "static", "templates", "*.mo", "*.po",
                                                                ".venv"))
    (root / "manage.py").touch()
    result = transformer.fix_project(str(root), None, "", STYLE)
    assert result["files"] and not result["refused"]
    mode = black.FileMode(line_length=STYLE["line_length"])
    for text, path in result["files"]:
        original = (root / path).read_text()
        assert comments(text) == comments(original), path
        statements = simple_statement_lines(original)
        simple_statement_lines(text)  # parses
        opcodes = difflib.SequenceMatcher(None, original.splitlines(), text.splitlines()).get_opcodes()
        for tag, i1, i2, j1, j2 in opcodes:
            if tag == "equal":
                continue
            for line in range(i1 + 1, max(i1 + 1, i2) + 1) if i2 > i1 else (i1, i1 + 1):
                assert any(start <= line <= end for start, end in statements), (path, line)
            for line in text.splitlines()[j1:j2]:
                assert len(line) <= STYLE["line_length"] or line in original.splitlines(), (path, line)
        if black.format_str(original, mode=mode) == original:
            assert black.format_str(text, mode=mode) == text, path
    transformer.write_files(str(root), result["files"])
    again = transformer.fix_project(str(root), None, "", STYLE)
    assert again["files"] == []
    print("fixed per id:", dict(sorted(result["fixed"].items())))


def test_findings_of_a_lint_elsewhere_are_fixed_as_its_own_would_be(project, tmp_path, monkeypatch):
    # Another process linted the project; this one builds the file's tree
    # again, from a working folder outside the project, and must still
    # find the project's model to judge the fix and count what it fixed.
    views = project / "shop" / "views.py"
    views.write_text("from shop.models import Book\n\n\ndef view():\n"
                     "    books = Book.objects.filter(title='x')\n    if books:\n        return 1\n")
    monkeypatch.chdir(tmp_path)
    found = [{"message-id": "C9003", "type": "convention", "path": "shop/views.py", "abspath": str(views),
              "line": 6, "message": {}}]
    result = transformer.fix_project(str(project), {"shop/views.py": None}, "s", STYLE, found=found)
    ((text, _),) = result["files"]
    assert "    if books.exists():\n" in text
    assert result["fixed"] == {"C9003": 1} and result["unfixed"] == {}
