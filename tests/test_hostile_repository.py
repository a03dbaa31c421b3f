"""A repository is hostile: what a pull request carries (special files,
links out of the project, file names with escape sequences or bytes that
are not UTF-8, a revision that reads like an option, a cache folder that
points elsewhere) must never make tessary hang, write outside the project,
run a command the repository names, forge output or lose an edit."""
import json
import os
import subprocess
import sys

import pytest

from tests.conftest import every_rule, make_project, run

NULLABLE = "from django.db import models\n\n\nclass A(models.Model):\n    name = models.CharField(max_length=9, null=True)\n"
FIXED = NULLABLE.replace("null=True)", 'default="", blank=True)')


def git(root, *args):
    return subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *args], cwd=root, check=True,
                          capture_output=True, text=True).stdout


@pytest.fixture
def repository(tmp_path):
    """The small project in a git repository, its model changed since HEAD."""
    root = make_project(tmp_path, NULLABLE.replace("null=True", "blank=True"))
    git(root, "init", "-q", "-b", "main")
    git(root, "add", "-A")
    git(root, "commit", "-q", "-m", "start")
    (root / "shop" / "models.py").write_text(NULLABLE)
    return root


def command(root, *argv, timeout=120):
    """The console command in a process of its own, so that a hang fails
    the test instead of stopping the suite."""
    done = subprocess.run([sys.executable, "-c", "from tessary.cli import run; run()", *every_rule(argv)],
                          cwd=root, capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


@pytest.mark.parametrize("revision", ["--output=shop/models.py", "--ext-diff", "--textconv", "-p", "nosuchbranch"])
def test_a_revision_is_never_an_option_to_git(capsys, repository, revision):
    marker = repository.parent / "ran"
    # What a repository's configuration could make git run, were it asked.
    git(repository, "config", "diff.external", f"touch {marker}")
    git(repository, "config", "diff.evil.textconv", f"touch {marker}; cat")
    (repository / ".gitattributes").write_text("*.py diff=evil\n")
    before = (repository / "shop" / "models.py").read_bytes()

    for verb in ("check", "suggest"):
        code, out, err = run(capsys, verb, "--no-cache", f"--diff={revision}", repository)
        assert code == 2 and out == ""
        assert err == f"tessary: error: --diff: '{revision}' is not a commit of this repository\n"
    assert (repository / "shop" / "models.py").read_bytes() == before
    assert not marker.exists() and not (repository / "-p").exists()


def test_a_branch_whose_name_starts_with_a_dash_can_be_compared_with(capsys, repository):
    git(repository, "update-ref", "refs/heads/-x", "HEAD")
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "json", "--diff=-x", repository)
    assert code == 1 and [(e["path"], e["line"]) for e in json.loads(out)] == [("shop/models.py", 5)]


def special_files(root, kind):
    """Every file tessary reads to learn about the project, as `kind`."""
    (root / "manage.py").write_text('os.environ.setdefault("DJANGO_SETTINGS_MODULE", "site.settings")\n')
    (root / "site").mkdir()
    outside = root.parent / "outside.txt"
    outside.write_text("Django==1.11\n")
    names = ["requirements.txt", "setup.cfg", "Pipfile", "Pipfile.lock", "setup.py", "site/settings.py"]
    for name in names:
        path = root / name
        if kind == "fifo":
            os.mkfifo(path)
        elif kind == "endless":
            os.symlink("/dev/zero", path)
        elif kind == "outside":
            os.symlink(outside, path)
        else:  # larger than any configuration file is
            path.write_text("#" + "x" * (4_500_000) + "\n")
    return names


@pytest.mark.parametrize("kind, why", [
    ("fifo", ["not a regular file"]), ("endless", ["not a regular file", "a link to a file outside the project"]),
    ("outside", ["a link to a file outside the project"]), ("huge", ["larger than 4 MiB"]),
])
def test_special_files_are_passed_over_with_one_warning_each(tmp_path, kind, why):
    root = make_project(tmp_path, NULLABLE)
    names = special_files(root, kind)
    code, out, err = command(root, "check", "--no-progress", "--no-cache")
    assert code == 1 and out.splitlines()[0].startswith("shop/models.py:5:12: C2000")
    warnings = err.splitlines()
    for name in names:
        said = [line for line in warnings if line.startswith(f"tessary: warning: {name}: ")]
        assert len(said) == 1, (name, err)
        assert any(f": {reason}, skipped" in said[0] for reason in why), said
    assert "Traceback" not in err


def test_a_template_linked_from_outside_the_project_is_not_read(capsys, tmp_path):
    root = make_project(tmp_path, "")
    secret = tmp_path / "secret.html"
    secret.write_text('<a href="/admin/token-12345/">x</a>\n')
    (root / "templates").mkdir()
    os.symlink(secret, root / "templates" / "leak.html")
    (root / "templates" / "own.html").write_text('<a href="/about/">x</a>\n')
    code, out, err = run(capsys, "check", "--no-cache", "--format", "json", root)
    assert code == 1 and [e["path"] for e in json.loads(out)] == ["templates/own.html"]
    assert "token-12345" not in out + err
    assert err == "tessary: warning: templates/leak.html: a link to a file outside the project, skipped\n"


def test_what_the_project_names_reaches_the_terminal_escaped(capsys, tmp_path, monkeypatch):
    root = make_project(tmp_path, NULLABLE)
    monkeypatch.chdir(root)
    (root / "templates").mkdir()
    (root / "templates" / "page.html").write_text(
        '<img src="/static/a\x1b]0;owned\x07\x1b[2J.png">\n'
        '<img src="/static/x\r\nshop/models.py:1:1: C2000 forged.png">\n'
    )
    (root / "shop" / "ev\x1b[31mil\n.py").write_text(NULLABLE)
    code, out, err = run(capsys, "check", "--no-cache", "--no-progress", root)
    assert code == 1 and "\x1b" not in out + err and "\r" not in out + err and "\x07" not in out
    assert "/static/a\\x1b]0;owned\\x07\\x1b[2J.png" in out
    lines = out.splitlines()
    assert [line.split(":")[0] for line in lines[:-1]] == [
        "shop/ev\\x1b[31mil\\n.py", "shop/models.py", "templates/page.html", "templates/page.html"]
    assert lines[-1].startswith("Found 4 findings")

    code, out, _ = run(capsys, "check", "--no-cache", "--format", "github", root)
    assert "\x1b" not in out and len(out.splitlines()) == 4


def test_fix_diff_quotes_a_path_as_git_does(capsys, repository):
    name = repository / "shop" / 'odd\n"name".py'
    name.write_text(NULLABLE)
    git(repository, "add", "-A")
    git(repository, "commit", "-q", "-m", "odd")
    code, out, _ = run(capsys, "fix", "--unsafe-fixes", "--diff", repository)
    assert code == 1 and '--- "a/shop/odd\\n\\"name\\".py"' in out
    patch = repository.parent / "fix.patch"
    patch.write_text(out)
    git(repository, "apply", str(patch))
    assert name.read_text() == FIXED


def test_a_file_name_that_is_not_utf8_is_linted_fixed_and_shown_escaped(capsys, tmp_path, monkeypatch):
    root = make_project(tmp_path, "")
    monkeypatch.chdir(root)
    odd = os.path.join(os.fsencode(root / "shop"), b"caf\xff.py")
    with open(odd, "wb") as handle:
        handle.write(NULLABLE.encode())
    code, out, _ = run(capsys, "check", "--no-cache", "--no-progress", root)
    assert code == 1 and out.startswith("shop/caf\\xff.py:5:12: C2000")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "sarif", root)  # twice: through the cache too
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "sarif", root)
    uris = [r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] for r in json.loads(out)["runs"][0]["results"]]
    assert uris == ["shop/caf%FF.py"]
    code, out, _ = run(capsys, "suggest", "--unsafe-fixes", root)
    (comment,) = json.loads(out)["comments"]
    assert code == 0 and comment["path"] == "shop/caf\udcff.py" and 'default=""' in comment["body"]
    code, _, _ = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0
    with open(odd, "rb") as handle:
        assert handle.read() == FIXED.encode()


def test_sarif_uris_are_percent_encoded(capsys, tmp_path):
    root = make_project(tmp_path, "")
    (root / "templates").mkdir()
    (root / "templates" / "pct%41 #.html").write_text('<a href="/about/">x</a>\n')
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "sarif", root)
    (result,) = json.loads(out)["runs"][0]["results"]
    assert result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] == "templates/pct%2541%20%23.html"


def test_a_cache_folder_that_leads_out_of_the_project_is_not_used(capsys, tmp_path):
    root = make_project(tmp_path, NULLABLE)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    os.symlink(elsewhere, root / ".tessary_cache")
    code, _, err = run(capsys, "check", "--no-progress", root)
    assert code == 1 and list(elsewhere.iterdir()) == []
    assert err == ("tessary: warning: .tessary_cache: a symlink, so the results cache is not used "
                   "('--cache-dir DIR' names a folder to use)\n")
    # Named on the command line, it is the user's choice.
    code, _, err = run(capsys, "check", "--no-progress", "--cache-dir", root / ".tessary_cache", root)
    assert code == 1 and err == "" and (elsewhere / "results.json").is_file()


@pytest.mark.parametrize("damage", [
    lambda r: r.pop("message-id"), lambda r: r.update(line="5"), lambda r: r.update(path="other.py"),
    lambda r: r.update({"message-id": None}), lambda r: r.update(message=[1]), lambda r: r.update(column=True),
], ids=["no-id", "line-text", "other-path", "id-none", "message-list", "column-bool"])
def test_a_cached_record_of_the_wrong_shape_is_a_miss(capsys, tmp_path, damage):
    root = make_project(tmp_path, NULLABLE)
    assert run(capsys, "check", "--no-progress", root)[0] == 1
    results = root / ".tessary_cache" / "results.json"
    data = json.loads(results.read_text())
    damage(data["entries"]["shop/models.py"]["records"][0])  # the key stays valid
    results.write_text(json.dumps(data))
    code, out, err = run(capsys, "check", "--no-progress", "--format", "json", root)
    assert code == 1 and err == ""
    assert [(e["path"], e["line"], e["message-id"]) for e in json.loads(out)] == [("shop/models.py", 5, "C2000")]


def test_findings_are_kept_only_for_the_text_that_was_analysed(capsys, tmp_path, monkeypatch):
    from tessary import runner

    root = make_project(tmp_path, "")
    monkeypatch.chdir(root)
    models = root / "shop" / "models.py"
    real_lint = runner.lint

    def lint_then_save(*args, **kwargs):
        found = real_lint(*args, **kwargs)
        models.write_text(NULLABLE)  # an editor saves while the run goes on
        return found

    monkeypatch.setattr(runner, "lint", lint_then_save)
    assert run(capsys, "check", "--no-progress", root)[0] == 0
    monkeypatch.setattr(runner, "lint", real_lint)
    code, out, _ = run(capsys, "check", "--no-progress", root)
    assert code == 1 and out.startswith("shop/models.py:5:12: C2000")


def test_fix_never_writes_over_an_edit_made_while_it_ran(capsys, tmp_path, monkeypatch):
    from tessary.staticanalysis import transformer

    root = make_project(tmp_path, NULLABLE)
    other = root / "shop" / "other.py"
    other.write_text(NULLABLE)
    models = root / "shop" / "models.py"
    edited = NULLABLE + "# saved by an editor\n"
    real_fix_project = transformer.fix_project

    def fix_then_save(*args, **kwargs):
        result = real_fix_project(*args, **kwargs)
        models.write_text(edited)
        return result

    monkeypatch.setattr(transformer, "fix_project", fix_then_save)
    code, _, err = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 2 and models.read_text() == edited and other.read_text() == FIXED
    assert "tessary: shop/models.py: left unchanged: it changed on disk while tessary fixed it" in err
    assert sorted(p.name for p in models.parent.iterdir() if p.name.startswith(".")) == []


def test_fix_removes_the_temporary_files_a_killed_run_left(capsys, tmp_path):
    root = make_project(tmp_path, NULLABLE)
    stale = root / "shop" / ".models.py.k1ll3d_x.tessary"
    stale.write_text("half a file")
    unrelated = root / "shop" / ".models.py.notes"
    unrelated.write_text("mine")
    code, _, _ = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0 and not stale.exists() and unrelated.exists()
    assert (root / "shop" / "models.py").read_text() == FIXED


RUN = "x" * 300_000  # far longer than any line, tag or pragma worth reading


@pytest.mark.parametrize("files, verb", [
    ({"shop/other.py": "x = 1  # noqa: " + "a, " * 100_000 + "\n"}, "check"),
    ({"templates/page.html": "<p>{# tessary: disable=" + RUN + "</p>\n"}, "check"),
    ({"templates/page.html": '<img src="/static/a.png">{% load ' + RUN + "\n"}, "fix"),
    ({"templates/page.html": '{% extends "' + RUN + '" %}<img src="/static/a.png">\n'}, "fix"),
    ({"manage.py": 'os.environ.setdefault("DJANGO_SETTINGS_MODULE", "' + RUN + '")\n'}, "check"),
    ({"conf/settings.py": 'ROOT_URLCONF = "' + RUN + '\nSTATIC_URL = "' + RUN + '\n'}, "check"),
    ({"shop/models.py": "#" + RUN + " coding: latin-1\n" + NULLABLE}, "fix"),
], ids=["noqa", "template-disable", "load-tag", "extends-tag", "manage", "settings", "coding-line"])
def test_a_line_of_megabytes_is_read_without_crashing(tmp_path, files, verb):
    root = make_project(tmp_path, NULLABLE)
    (root / "conf").mkdir()
    (root / "conf" / "__init__.py").write_text("")
    (root / "conf" / "settings.py").write_text('STATIC_URL = "/static/"\n')
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    argv = ["check", "--no-progress", "--no-cache"] if verb == "check" else ["fix", "--unsafe-fixes", "--diff"]
    code, out, err = command(root, *argv)
    assert code in (1, 2) and "Traceback" not in err, err[-2000:]
    if verb == "check":
        assert "shop/models.py:5:12: C2000" in out
    else:
        assert "+++ b/shop/models.py" in out
