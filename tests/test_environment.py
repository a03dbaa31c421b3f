"""The analysed environment, failures that must not pass, and what the
command line reads from git and reports after fixing."""
import json
import pathlib
import subprocess
import sys
import sysconfig
import textwrap
import venv

import pytest

from tests.conftest import make_project, run

from tessary import cli, meta

OWN_SITE = pathlib.Path(sysconfig.get_paths()["purelib"])

# A model whose base class comes from a third-party package: it is a model
# only when that package can be found.
MODELS = textwrap.dedent(
    """\
    from django.db import models
    from treebase.models import Node


    class Category(Node):
        name = models.CharField(max_length=10)

        def __str__(self):
            return self.name

        class Meta:
            ordering = ["name"]
    """
)

TREEBASE = textwrap.dedent(
    """\
    from django.db import models


    class Node(models.Model):
        depth = models.PositiveIntegerField(default=0)

        class Meta:
            abstract = True
    """
)


def site_packages(prefix):
    return prefix / "lib" / f"python{sys.version_info[0]}.{sys.version_info[1]}" / "site-packages"


def add_treebase(site):
    (site / "treebase").mkdir()
    (site / "treebase" / "__init__.py").write_text("")
    (site / "treebase" / "models.py").write_text(TREEBASE)


def fake_environment(prefix, django=True):
    """The layout of a virtual environment; nothing in it ever runs."""
    site = site_packages(prefix)
    site.mkdir(parents=True)
    (prefix / "pyvenv.cfg").write_text("home = /usr/bin\ninclude-system-site-packages = false\n")
    if django:
        # Django itself comes from the test run's own site-packages, named
        # by a .pth line as an editable install would be.
        (site / "shared.pth").write_text(f"# shared\n{OWN_SITE}\n")
    return site


@pytest.fixture
def project(tmp_path):
    return make_project(tmp_path, MODELS)


def test_project_environment_supplies_third_party_models(capsys, project, tmp_path):
    # Without the package that defines the base class, nothing is a model.
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert code == 0 and json.loads(out) == []

    # A real virtual environment at the project root, found by its pyvenv.cfg.
    prefix = project / ".venv"
    venv.EnvBuilder(with_pip=False).create(prefix)
    site = site_packages(prefix)
    add_treebase(site)
    marker = tmp_path / "ran"
    (site / "shared.pth").write_text(f"import os; open({str(marker)!r}, 'w')\n{OWN_SITE}\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert code == 1
    assert [(e["path"], e["line"], e["message-id"]) for e in json.loads(out)] == [("shop/models.py", 11, "C3002")]
    assert not marker.exists()
    # The search path is tessary's own again after the run.
    assert str(site) not in sys.path

    code, out, _ = run(capsys, "check", "--show-settings", project)
    assert code == 0
    settings = dict(line.split(": ", 1) for line in out.splitlines())
    assert settings["environment"] == f"the project's .venv environment at {prefix}"
    assert settings["Django"].startswith("5.2.")
    assert settings["settings module"].startswith("- (none found") and settings["line length"] == "88"
    assert settings["rules"].startswith("C2000, ")


def test_python_option_and_configuration_choose_the_environment(capsys, project, tmp_path, monkeypatch):
    other = tmp_path / "other-env"
    add_treebase(fake_environment(other))
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--python", other / "bin" / "python",
                       project)
    assert code == 1 and [e["message-id"] for e in json.loads(out)] == ["C3002"]

    (project / "pyproject.toml").write_text('[tool.tessary]\npython = "../other-env"\n')
    code, out, _ = run(capsys, "check", "--show-settings", project)
    assert f"[tool.tessary] python environment at {other}" in out

    # $VIRTUAL_ENV comes after the configuration, and is passed over when it
    # names tessary's own environment (as a pre-commit hook's does).
    (project / "pyproject.toml").unlink()
    monkeypatch.setenv("VIRTUAL_ENV", str(other))
    assert meta.find_python_environment(str(project))["source"] == "$VIRTUAL_ENV"
    monkeypatch.setenv("VIRTUAL_ENV", sys.prefix)
    assert meta.find_python_environment(str(project))["prefix"] is None


def test_environment_without_django_stops_before_linting(capsys, project, tmp_path):
    bare = tmp_path / "bare"
    fake_environment(bare, django=False)
    code, out, err = run(capsys, "check", "--python", bare, project)
    assert code == 2 and out == ""
    assert err.count("\n") == 1 and err.startswith("tessary: error: Django is not installed in --python environment")
    assert "additional_dependencies" in err
    code, _, err = run(capsys, "fix", "--python", bare, project)
    assert code == 2 and "Django is not installed" in err
    code, _, err = run(capsys, "check", "--python", tmp_path / "nowhere", project)
    assert code == 2 and "not a Python environment" in err
    # A relative name that is not there (no parent folder to fall back on).
    code, _, err = run(capsys, "check", "--python", ".no-such-venv", project)
    assert code == 2 and err.strip() == "tessary: error: --python .no-such-venv: no such file or folder"
    code, _, err = run(capsys, "check", "--python", tmp_path / "no" / "such" / "python", project)
    assert code == 2 and err.strip().endswith("no/such/python: no such file or folder")


def test_windows_layout_and_pth_folders(tmp_path):
    prefix = tmp_path / "winenv"
    site = prefix / "Lib" / "site-packages"
    (site / "Django-5.2.1.dist-info").mkdir(parents=True)
    (tmp_path / "src").mkdir()
    (site / "project.pth").write_text("../../../src\nimport sys\n\n# comment\nmissing-folder\n")
    (prefix / "Scripts").mkdir()
    env = meta.find_python_environment(str(tmp_path), str(prefix / "Scripts" / "python.exe"))
    assert env["prefix"] == str(prefix) and env["django"] == "5.2.1"
    assert env["paths"] == [str(site), str(tmp_path / "src")]


def test_module_that_cannot_be_analysed_is_reported_and_the_run_fails(capsys, project):
    (project / "shop" / "models.py").write_text("from django.db import models\n\n\nclass Book(models.Model):\n"
                                                 "    title = models.CharField(max_length=10, null=True)\n")
    (project / "shop" / "deep.py").write_text("x = " + " + ".join(["1"] * 3000) + "\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert code == 2
    found = [(e["path"], e["message-id"]) for e in json.loads(out)]
    assert found == [("shop/deep.py", "F0001"), ("shop/models.py", "C2000")]
    advice = {e["path"]: e["advice"] for e in json.loads(out)}
    assert advice["shop/deep.py"].startswith("tessary could not analyse this file: its syntax tree could not")
    code, out, _ = run(capsys, "check", "--no-progress", project)
    assert code == 2 and out.splitlines()[-1] == "1 file could not be analysed (F0001)."


def test_checker_that_raises_fails_only_its_module(tmp_path):
    from pylint.checkers import BaseChecker

    from tessary.staticanalysis import checker

    class Exploding(BaseChecker):
        name = "exploding"
        msgs = {"C9999": ("%s", "exploding", "Test checker.")}

        def visit_module(self, node):
            if node.name.endswith("bad"):
                raise ValueError("boom")

    (tmp_path / "bad.py").write_text("x = 1\n")
    (tmp_path / "good.py").write_text("from django.db import models\n\n\nclass A(models.Model):\n"
                                      "    s = models.CharField(max_length=1, null=True)\n")
    linter = checker.create_linter(checker.Linter)
    linter.register_checker(Exploding(linter))
    linter.check([str(tmp_path / "bad.py"), str(tmp_path / "good.py")])
    found = [(pathlib.Path(r["path"]).name, r["message-id"], r["message"]) for r in linter.reporter.messages]
    assert found == [("bad.py", "F0001", {"reason": "a check failed on it (ValueError: boom)"}),
                     ("good.py", "C2000", {"name": "s"})]


def git(root, *args):
    subprocess.run(["git", *args], cwd=root, check=True, capture_output=True)


@pytest.mark.parametrize("setting", ["core.quotePath=true", "diff.noprefix=true", "diff.mnemonicPrefix=true"])
def test_diff_keeps_files_whose_names_git_quotes(capsys, tmp_path, setting):
    project = make_project(tmp_path, "from django.db import models\n\n\nclass Book(models.Model):\n    pass\n")
    git(project, "init", "-q")
    git(project, "config", *setting.split("="))
    git(project, "add", ".")
    git(project, "-c", "user.email=t@t", "-c", "user.name=t", "commit", "-qm", "base")
    views = "from shop.models import Book\nn = len(Book.objects.all())\n"
    for name in ("a b.py", "café.py"):
        (project / "shop" / name).write_text("")
        git(project, "add", "shop/" + name)
        (project / "shop" / name).write_text(views)
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--diff", "HEAD", project)
    assert [(e["path"], e["line"], e["message-id"]) for e in json.loads(out)] == [
        ("shop/a b.py", 2, "C9000"), ("shop/café.py", 2, "C9000"),
    ]


def test_diff_in_a_project_below_the_repository_top(capsys, tmp_path):
    top = tmp_path / "repo"
    project = make_project(top, "from django.db import models\n")
    git(top, "init", "-q")
    git(top, "add", ".")
    git(top, "-c", "user.email=t@t", "-c", "user.name=t", "commit", "-qm", "base")
    (project / "shop" / "models.py").write_text(
        "from django.db import models\n\n\nclass A(models.Model):\n    s = models.CharField(max_length=1, null=True)\n"
    )
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--diff", "HEAD", project)
    assert [(e["path"], e["line"]) for e in json.loads(out)] == [("shop/models.py", 5)]


@pytest.mark.parametrize("quoted, plain", [
    ('"shop/caf\\303\\251.py"', "shop/café.py"),
    ('"a\\"b\\\\c\\td.py"', 'a"b\\c\td.py'),
    ("b/a b.py\t", "b/a b.py"),
    ("b/plain.py", "b/plain.py"),
])
def test_unquote_git_path(quoted, plain):
    assert meta.unquote_git_path(quoted) == plain


def test_fix_counts_only_its_own_findings_and_names_apps_by_label(capsys, tmp_path):
    root = tmp_path / "proj"
    app = root / "src" / "shop"
    app.mkdir(parents=True)
    (root / "manage.py").write_text("")
    (app / "__init__.py").write_text("")
    (app / "apps.py").write_text("")
    models = app / "models"
    models.mkdir()
    (models / "__init__.py").write_text("")
    (models / "book.py").write_text(
        "from django.db import models  # pylint: disable=no-such-check\n\n\n"
        "class Book(models.Model):\n"
        "    title = models.CharField(max_length=10, blank=False)  # pylint: disable=another-unknown\n"
    )
    code, out, _ = run(capsys, "fix", root)
    # Dropping a keyword equal to its default changes nothing Django's
    # migration autodetector sees: no makemigrations hint.
    assert code == 0 and out == "Fixed 1 finding in 1 file; 0 findings have no automatic fix.\n"
    (models / "book.py").write_text(
        "from django.db import models\n\n\nclass Book(models.Model):\n"
        "    title = models.CharField(max_length=10, null=True)\n"
    )
    code, out, _ = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0 and "Model fields changed in shop: Book." in out


def test_an_admin_class_of_a_library_scheme_is_not_a_misplaced_admin(capsys, tmp_path):
    # A plugin base from an installed package reaches ModelAdmin; the
    # project's plugins live in the module that package discovers, not in
    # admin.py. A class built on Django's own ModelAdmin there is misplaced.
    project = make_project(tmp_path, "from django.db import models\n")
    (project / "shop" / "cms_plugins.py").write_text(textwrap.dedent(
        """\
        from django.contrib import admin
        from plugbase.base import PluginBase


        class BookPlugin(PluginBase):
            pass


        class BookAdmin(admin.ModelAdmin):
            pass
        """))
    site = fake_environment(tmp_path / "env")
    (site / "plugbase").mkdir()
    (site / "plugbase" / "__init__.py").write_text("")
    (site / "plugbase" / "base.py").write_text(
        "from django.contrib import admin\n\n\nclass PluginBase(admin.ModelAdmin):\n    pass\n")
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "json", "--python", tmp_path / "env" / "bin" / "python",
                       project)
    found = [(e["path"], e["line"], e["message-id"]) for e in json.loads(out)]
    assert code == 1 and found == [("shop/cms_plugins.py", 9, "C5000")]


CONFIG = "from django.apps import AppConfig\n\n\n"


@pytest.mark.parametrize("apps, label", [
    (None, "base"),
    ("", "base"),
    (CONFIG + 'class BaseConfig(AppConfig):\n    name = "shop.base"\n    label = "shopbase"\n', "shopbase"),
    ('from django import apps\n\n\nclass BaseConfig(apps.AppConfig):\n    label: str = "shopbase"\n', "shopbase"),
    # Without a label, the last part of the configuration's name.
    (CONFIG + 'class BaseConfig(AppConfig):\n    name = "legacy.core"\n', "core"),
    # Several configurations: the one marked default, as Django picks it.
    (CONFIG + 'class A(AppConfig):\n    label = "first"\n\n\nclass B(AppConfig):\n    default = True\n'
     '    label = "second"\n', "second"),
    (CONFIG + 'class A(AppConfig):\n    default = False\n    label = "first"\n\n\nclass B(AppConfig):\n'
     '    label = "second"\n', "second"),
    # Two with no default: Django uses a plain AppConfig, named after the app.
    (CONFIG + 'class A(AppConfig):\n    label = "first"\n\n\nclass B(AppConfig):\n    label = "second"\n', "base"),
    # A configuration subclassing another of the module inherits its label.
    (CONFIG + 'class A(AppConfig):\n    default = False\n    label = "shared"\n\n\nclass B(A):\n'
     '    default = True\n', "shared"),
    # A class that is not an app configuration, a computed label, a module
    # that does not parse: the folder's name.
    ('class Settings:\n    label = "nope"\n', "base"),
    (CONFIG + 'class BaseConfig(AppConfig):\n    label = "shop" + "base"\n', "base"),
    (CONFIG + "class BaseConfig(AppConfig:\n", "base"),
], ids=["no-apps", "empty", "label", "annotated", "name", "default-true", "default-false", "ambiguous",
        "inherited", "not-a-config", "computed", "syntax-error"])
def test_app_label_is_read_from_apps_py_never_run(tmp_path, apps, label):
    app = tmp_path / "base"
    app.mkdir()
    marker = tmp_path / "ran"
    if apps is not None:
        # Running the module would leave a file behind.
        (app / "apps.py").write_text(f"open({str(marker)!r}, 'w').close()\n" + apps)
    assert meta.app_label(str(tmp_path), str(app)) == label
    assert not marker.exists()


def test_the_makemigrations_reminder_names_the_app_by_its_label(capsys, tmp_path):
    root = tmp_path / "proj"
    app = root / "base"
    app.mkdir(parents=True)
    (root / "manage.py").write_text("")
    (app / "__init__.py").write_text("")
    (app / "apps.py").write_text(CONFIG + 'class BaseConfig(AppConfig):\n    name = "base"\n    label = "shopbase"\n')
    (app / "models.py").write_text(
        "from django.db import models\n\n\nclass Book(models.Model):\n"
        "    title = models.CharField(max_length=10, null=True)\n"
    )
    code, out, _ = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0 and "Model fields changed in shopbase: Book.\n" in out and " base:" not in out
