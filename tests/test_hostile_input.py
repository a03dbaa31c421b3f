"""Broken and hostile projects: every file that cannot be analysed or fixed
is one finding or one line, the other files are still checked and fixed,
and nothing the repository's configuration names is ever run."""
import json
import os
import stat
import subprocess
import sys

import pytest

from tests.conftest import make_project, run

from tessary import cli

NULLABLE = "from django.db import models\n\n\nclass A(models.Model):\n    name = models.CharField(max_length=9, null=True)\n"
FIXED = NULLABLE.replace("null=True)", 'default="", blank=True)')


@pytest.fixture
def project(tmp_path):
    return make_project(tmp_path, NULLABLE)


def findings(capsys, project):
    code, out, err = run(capsys, "check", "--no-progress", "--format", "json", project)
    return code, {(e["path"], e["message-id"]): e for e in json.loads(out)}, err


@pytest.mark.parametrize("name, content, reason", [
    ("shop/bad.py", b'x = "\xff"\n', "it is not valid UTF-8 text (byte 0xff at line 1, column 6)"),
    ("shop/bad.py", b"# -*- coding: klingon -*-\nx = 1\n", "its coding line is wrong: unknown encoding: klingon"),
    ("shop/bad.py", ("x = " + " + ".join(["1"] * 1000) + "\n").encode(),
     "its syntax tree could not be built (RecursionError: maximum recursion depth exceeded"),
    ("templates/bad.html", b'<a href="/about/">\xff</a>\n', "it is not valid UTF-8 text (byte 0xff at line 1, column 19)"),
], ids=["invalid-utf8", "unknown-encoding", "too-deep", "template"])
def test_a_file_that_cannot_be_analysed_is_a_finding_and_the_run_goes_on(capsys, project, name, content, reason):
    (project / name).parent.mkdir(exist_ok=True)
    (project / name).write_bytes(content)
    code, found, _ = findings(capsys, project)
    assert code == 2
    assert found[(name, "F0001")]["arguments"]["reason"].startswith(reason)
    assert ("shop/models.py", "C2000") in found

    code, out, _ = run(capsys, "check", "--no-progress", project)
    assert code == 2
    assert out.splitlines()[-2:] == ["Found 2 findings (1 fixable, 1 of them with --unsafe-fixes) in 3 files.", "1 file could not be analysed (F0001)."]

    # fix reads modules only: a module it cannot read is a refusal.
    code, out, err = run(capsys, "fix", "--unsafe-fixes", project)
    assert (project / "shop" / "models.py").read_text() == FIXED
    if name.endswith(".py"):
        assert code == 2 and f"tessary: {name}: left unchanged: could not be analysed: {reason}" in err


@pytest.mark.parametrize("target, why", [("loop.py", "a symlink loop"), ("nowhere.py", "a dangling symlink")])
def test_broken_symlinks_are_skipped_with_a_warning(capsys, project, target, why):
    os.symlink(target, project / "shop" / "loop.py")
    code, found, err = findings(capsys, project)
    assert code == 1 and list(found) == [("shop/models.py", "C2000")]
    assert err.strip() == f"tessary: warning: shop/loop.py: {why}, skipped"
    code, _, _ = run(capsys, "fix", "--unsafe-fixes", project)
    assert code == 0 and (project / "shop" / "models.py").read_text() == FIXED


def test_encoding_and_line_endings_are_kept_line_by_line(capsys, project):
    latin = project / "shop" / "latin.py"
    latin.write_bytes(b"# -*- coding: latin-1 -*-\n" + NULLABLE.replace("\n\n\n", "\n\n\n# caf\xe9\n").encode("latin-1"))
    mixed = project / "shop" / "mixed.py"
    mixed.write_bytes(NULLABLE.replace("class A(models.Model):\n", "class A(models.Model):\r\n").encode())
    lone_cr = project / "shop" / "lone_cr.py"
    lone_cr.write_bytes(NULLABLE.replace("\n", "\r").encode())

    code, out, _ = run(capsys, "fix", "--unsafe-fixes", "--diff", project)
    assert code == 1 and "+# caf\xe9" not in out and " # caf\xe9" in out
    assert out.count("\\ No newline at end of file") == 0

    code, _, _ = run(capsys, "fix", "--unsafe-fixes", project)
    assert code == 0
    assert latin.read_bytes() == b"# -*- coding: latin-1 -*-\n" + FIXED.replace(
        "\n\n\n", "\n\n\n# caf\xe9\n").encode("latin-1")
    assert mixed.read_bytes() == FIXED.replace("class A(models.Model):\n", "class A(models.Model):\r\n").encode()
    assert lone_cr.read_bytes() == FIXED.replace("\n", "\r").encode()


def test_fix_refuses_links_out_of_the_project_and_read_only_files(capsys, project, tmp_path):
    outside = tmp_path / "outside.py"
    outside.write_text(NULLABLE)
    (project / "shop" / "linked.py").symlink_to(outside)
    read_only = project / "shop" / "frozen.py"
    read_only.write_text(NULLABLE)
    read_only.chmod(0o444)
    package = project / "locked"
    package.mkdir()
    (package / "models.py").write_text(NULLABLE)
    package.chmod(0o555)
    try:
        code, out, err = run(capsys, "fix", "--unsafe-fixes", "--diff", project)
        assert code == 2 and "+++ b/shop/models.py" in out and "linked.py" not in out and "frozen.py" not in out
        code, out, err = run(capsys, "fix", "--unsafe-fixes", project)
        assert code == 2
        assert sorted(err.splitlines()) == [
            "tessary: locked/models.py: left unchanged: its folder is read-only (a fix is written to a new file beside it)",
            "tessary: shop/frozen.py: left unchanged: the file is read-only",
            f"tessary: shop/linked.py: left unchanged: it is a link to {outside}, outside the project",
        ]
        assert (project / "shop" / "models.py").read_text() == FIXED
        assert outside.read_text() == NULLABLE and read_only.read_text() == NULLABLE
        assert stat.S_IMODE(read_only.stat().st_mode) == 0o444
    finally:
        package.chmod(0o755)


def test_a_module_reached_by_two_paths_is_fixed_once(capsys, project):
    (project / "shop" / "alias.py").symlink_to("models.py")
    code, out, err = run(capsys, "fix", "--unsafe-fixes", project)
    assert code == 0 and err == ""
    assert (project / "shop" / "models.py").read_text() == FIXED and (project / "shop" / "alias.py").is_symlink()


@pytest.mark.parametrize("table, message", [
    ("[tool.tessary]\nselect = 5\n", "[tool.tessary] select must be a text or a list of texts"),
    ('[tool.tessary]\nmax-model-fields = "many"\n', "[tool.tessary] max-model-fields must be a whole number"),
    ("[tool.tessary]\nmax-model-fields = -1\n", "[tool.tessary] max-model-fields must be 1 or more"),
    ("[tool.tessary]\nmax_models = true\n", "[tool.tessary] max_models must be a whole number"),
    ("[tool.tessary]\nbogus = 1\n", "[tool.tessary] bogus is not a tessary option"),
    ('[tool.black]\nline-length = "x"\n', "[tool.black] line-length must be a positive whole number"),
    ("[tool.tessary\n", "Expected ']' at the end of a table declaration (at line 1, column 14)"),
])
def test_configuration_errors_are_one_line(capsys, project, table, message):
    (project / "pyproject.toml").write_text(table)
    for command in ("check", "fix"):
        code, out, err = run(capsys, command, project)
        assert code == 2 and out == ""
        assert err == f"tessary: error: {project / 'pyproject.toml'}: {message}\n"


def test_good_configuration_is_taken(capsys, project):
    (project / "pyproject.toml").write_text('[tool.tessary]\nmax_model_fields = 30\nselect = ["C2000"]\n'
                                            '[tool.black]\nline-length = 100\n')
    code, found, err = findings(capsys, project)
    assert code == 1 and list(found) == [("shop/models.py", "C2000")] and err == ""


def git(root, *args):
    subprocess.run(["git", "-c", "user.email=t@t", "-c", "user.name=t", *args], cwd=root, check=True,
                   capture_output=True)


def test_git_never_runs_what_the_repository_configuration_names(capsys, project, tmp_path):
    marker = tmp_path / "marker"
    script = tmp_path / "evil.sh"
    script.write_text(f'#!/bin/sh\necho "$0 $*" >> {marker}\ncat\n')
    script.chmod(0o755)
    git(project, "init", "-q")
    git(project, "add", ".")
    git(project, "commit", "-qm", "start")
    for key in ("core.fsmonitor", "diff.evil.textconv", "diff.evil.command", "filter.evil.clean",
                "filter.evil.smudge", "filter.proc.process", "core.pager", "pager.diff"):
        git(project, "config", key, str(script))
    (project / ".gitattributes").write_text("*.py diff=evil filter=evil\n*.html filter=proc\n")
    (project / "shop" / "models.py").write_text(NULLABLE + "    other = models.CharField(max_length=9, null=True)\n")
    (project / "shop" / "templates").mkdir()
    (project / "shop" / "templates" / "page.html").write_text('<a href="/x/">x</a>\n')

    code, found, _ = findings(capsys, project)
    assert code == 1 and len(found) == 2
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--diff", "HEAD", project)
    assert code == 1 and [(e["path"], e["line"]) for e in json.loads(out)] == [
        ("shop/models.py", 6), ("shop/templates/page.html", 1)]
    assert not marker.exists()


def test_diff_outside_a_repository_is_one_line(capsys, project):
    code, out, err = run(capsys, "check", "--diff", "HEAD", project)
    assert code == 2 and out == ""
    assert err == f"tessary: error: {project} is not in a git repository (--diff compares with a git revision)\n"


def test_an_unwritable_home_folder_is_not_needed(project, tmp_path):
    home = tmp_path / "home-is-a-file"
    home.write_text("")
    (project / "shop" / "deep.py").write_text("x = " + " + ".join(["1"] * 1000) + "\n")
    env = dict(os.environ, HOME=str(home), XDG_CACHE_HOME=str(home / "cache"), PYLINTHOME=str(home / "pylint"))
    command = "import sys; from tessary.cli import main; sys.exit(main())"
    result = subprocess.run([sys.executable, "-c", command, "check", "--no-progress", str(project)],
                            capture_output=True, text=True, env=env)
    assert result.returncode == 2, result.stderr
    assert "Traceback" not in result.stderr and "shop/deep.py:1:1: F0001" in result.stdout


def test_check_and_fix_pass_over_the_same_folders(capsys, project):
    for folder in ("env", ".hidden", "node_modules/pkg", "myenv"):
        (project / folder).mkdir(parents=True)
        (project / folder / "models.py").write_text(NULLABLE)
    (project / "myenv" / "pyvenv.cfg").write_text("home = /usr/bin\n")
    code, found, _ = findings(capsys, project)
    assert list(found) == [("shop/models.py", "C2000")]
    code, out, _ = run(capsys, "fix", "--unsafe-fixes", project)
    assert out.startswith("Fixed 1 finding in 1 file")
    assert all((project / folder / "models.py").read_text() == NULLABLE
               for folder in ("env", ".hidden", "node_modules/pkg", "myenv"))
