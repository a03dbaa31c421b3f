"""Where a run's project root is, and how text output names its files."""
import json
import os
import subprocess

import pytest

from tests.conftest import make_project, run

from tessary import meta

NULLABLE = "from django.db import models\n\n\nclass A(models.Model):\n    name = models.CharField(max_length=9, null=True)\n"
WARNING = "tessary: warning: no manage.py, pyproject.toml or git repository above {}; using {} as the project root"


def git(root, *args):
    subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *args], cwd=root, check=True,
                   capture_output=True)


def layout(base, kind):
    """A tree with the start folder `top/a/b` and the marker `kind` names;
    the root expected and how it is found."""
    start = base / "top" / "a" / "b"
    start.mkdir(parents=True)
    if kind in ("manage.py", "pyproject.toml"):
        (base / "top" / "a" / kind).write_text("")
        return start, base / "top" / "a"
    if kind == "both":
        (base / "top" / "pyproject.toml").write_text("")
        (base / "top" / "a" / "manage.py").write_text("")
        return start, base / "top" / "a"
    if kind == "git repository":
        git(base / "top", "init", "-q")
        return start, base / "top"
    if kind == "marker above git":
        (base / "manage.py").write_text("")
        git(base / "top", "init", "-q")
        return start, base
    return start, None


@pytest.mark.parametrize(
    "kind, how",
    [("manage.py", "manage.py"), ("pyproject.toml", "pyproject.toml"), ("both", "manage.py"),
     ("git repository", "git repository"), ("marker above git", "manage.py")],
)
def test_root_is_the_nearest_marker_else_the_git_top(tmp_path, kind, how):
    start, expected = layout(tmp_path, kind)
    assert meta.find_project_root(str(start)) == (expected, how)
    (start / "x.py").write_text("")
    assert meta.find_project_root(str(start / "x.py")) == (expected, how)


def test_root_through_a_link_is_the_resolved_folder(tmp_path):
    _, expected = layout(tmp_path / "real", "manage.py")
    (tmp_path / "link").symlink_to(tmp_path / "real" / "top")
    assert meta.find_project_root(str(tmp_path / "link" / "a" / "b")) == (expected, "manage.py")


def test_without_git_on_the_path_the_repository_is_not_asked(tmp_path, monkeypatch):
    start, _ = layout(tmp_path, "git repository")
    monkeypatch.setenv("PATH", str(tmp_path / "no-programs"))
    monkeypatch.chdir(tmp_path)
    assert meta.find_project_root(str(start)) == (tmp_path, "working directory")


@pytest.mark.parametrize("inside", [True, False])
def test_without_marker_or_repository_the_working_directory_with_a_warning(capsys, tmp_path, monkeypatch, inside):
    start, _ = layout(tmp_path, "none")
    (start / "models.py").write_text(NULLABLE)
    cwd = tmp_path / "top" if inside else tmp_path / "elsewhere"
    cwd.mkdir(exist_ok=True)
    monkeypatch.chdir(cwd)
    root, how = (tmp_path / "top", "working directory") if inside else (start, "folder of the paths")
    code, out, err = run(capsys, "check", "--show-settings", start)
    assert code == 0
    assert err == WARNING.format(start, root) + "\n"
    assert f"project root: {root} (found by {how})\n" in out


@pytest.mark.parametrize("kind", ["manage.py", "git repository"])
def test_show_settings_says_how_the_root_was_found(capsys, tmp_path, kind):
    start, expected = layout(tmp_path, kind)
    code, out, err = run(capsys, "check", "--show-settings", start)
    assert code == 0 and err == ""
    assert f"project root: {expected} (found by {kind})\n" in out


@pytest.fixture
def project(tmp_path):
    return make_project(tmp_path, NULLABLE, admin=True)


@pytest.mark.parametrize(
    "where, argument, shown",
    [
        ("proj/shop", None, "models.py"),
        ("proj", None, "shop/models.py"),
        ("", "proj", "proj/shop/models.py"),
        ("", "proj/shop/models.py", "proj/shop/models.py"),
        ("proj/shop", "../shop", "models.py"),
        ("other", "../proj", "../proj/shop/models.py"),
        ("link", None, "shop/models.py"),
        ("", "link", "link/shop/models.py"),
        ("", "link/shop", "link/shop/models.py"),
    ],
)
def test_text_paths_are_relative_to_the_working_directory(capsys, tmp_path, project, monkeypatch, where, argument,
                                                          shown):
    (tmp_path / "other").mkdir()
    (tmp_path / "link").symlink_to(project)
    monkeypatch.chdir(tmp_path / where)
    argv = ["check", "--no-progress", "--no-cache"] + ([argument] if argument else [])
    code, out, _ = run(capsys, *argv)
    assert code == 1 and out.startswith(f"{shown}:5:12: C2000 nullable-string-field  ")


def test_a_file_below_a_linked_folder_has_one_name(capsys, project, monkeypatch):
    (project / "alias").symlink_to(project / "shop")
    monkeypatch.chdir(project / "shop")
    code, out, _ = run(capsys, "check", "--no-progress", "--no-cache")
    assert code == 1
    assert [line.split(" ")[0] for line in out.splitlines()[:-1]] == ["models.py:5:12:"]


@pytest.mark.parametrize("output_format", ["json", "github", "sarif"])
def test_machine_formats_keep_project_relative_paths(capsys, project, monkeypatch, output_format):
    monkeypatch.chdir(project / "shop")
    code, out, _ = run(capsys, "check", "--no-progress", "--no-cache", "--format", output_format)
    assert code == 1
    if output_format == "json":
        assert [entry["path"] for entry in json.loads(out)] == ["shop/models.py"]
    elif output_format == "github":
        assert out.startswith("::warning file=shop/models.py,line=5,col=12,")
    else:
        (result,) = json.loads(out)["runs"][0]["results"]
        assert result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] == "shop/models.py"


def test_paths_from_the_working_directory_are_escaped(capsys, tmp_path, monkeypatch):
    root = make_project(tmp_path / "a\x1b[2Jb", NULLABLE)
    monkeypatch.chdir(tmp_path)
    code, out, _ = run(capsys, "check", "--no-progress", "--no-cache", root)
    assert code == 1 and out.startswith("a\\x1b[2Jb/proj/shop/models.py:5:12: C2000")
    assert os.path.isdir(root)


def test_a_project_its_repository_ignores_is_still_checked(capsys, tmp_path):
    """A codebase unpacked into an ignored folder of another repository
    and checked on purpose: git lists none of its files, so they are found
    by walking the folder."""
    git(tmp_path, "init", "-q")
    (tmp_path / ".gitignore").write_text("vendor/\n")
    project = make_project(tmp_path / "vendor", "from django.db import models\n\n\n"
                           "class Shelf(models.Model):\n    day = models.DateField(null=True)\n", admin=True)
    code, out, err = run(capsys, "check", "--no-cache", "--format", "json", project)
    assert [(e["path"], e["message-id"]) for e in json.loads(out)] == [("shop/models.py", "C2003")], err
