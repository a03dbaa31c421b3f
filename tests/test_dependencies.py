"""Framework version detection from dependency files and setup.py."""
import ast

import pytest

from tessary.library_default_settings import django_3_2
from tessary.staticanalysis import dependencies


def write(root, name, text):
    (root / name).write_text(text)


@pytest.mark.parametrize(
    "line, expected",
    [
        ("Django>=2.2,<3.0\n", {"path": "requirements.txt", "version": "2.2", "specs": ">=2.2,<3.0"}),
        ("Django>=2.2,<3.0 # pinned for now\n", {"path": "requirements.txt", "version": "2.2", "specs": ">=2.2,<3.0"}),
        ("DJANGO==3.1.5\n", {"path": "requirements.txt", "version": "3.1", "specs": "==3.1.5"}),
        ("django\n", {"path": "requirements.txt", "version": "1.11", "specs": ""}),
        ("Django>=4.2,<5.0\n", {"path": "requirements.txt", "version": "4.2", "specs": ">=4.2,<5.0"}),
        ("django~=5.1\n", {"path": "requirements.txt", "version": "5.1", "specs": "~=5.1"}),
        ("Django==5.2.*\n", {"path": "requirements.txt", "version": "5.2", "specs": "==5.2.*"}),
        ("Django>=6.1\n", {"path": "requirements.txt", "version": "6.1", "specs": ">=6.1"}),
        ("Django>=99\n", None),
        ("Django<1.11\n", None),
    ],
)
def test_requirements_lines(tmp_path, line, expected):
    write(tmp_path, "requirements.txt", "requests==2.0\n" + line)
    assert dependencies.resolve_django_version(tmp_path) == expected


def test_search_goes_on_past_unusable_entries_and_files(tmp_path):
    write(tmp_path, "requirements.txt", "Django>=99.0\n")
    write(tmp_path, "Pipfile", '[packages]\ndjango = ">=2.1,<2.2"\n')
    assert dependencies.resolve_django_version(tmp_path)["path"] == "Pipfile"
    write(tmp_path, "requirements.txt", "Django>=3.0,<3.1\n")
    assert dependencies.resolve_django_version(tmp_path) == {
        "path": "requirements.txt", "version": "3.0", "specs": ">=3.0,<3.1",
    }


def test_setup_py_is_read_without_running_it(tmp_path):
    marker = tmp_path / "ran"
    write(
        tmp_path,
        "setup.py",
        f"open({str(marker)!r}, 'w')\n"
        "from setuptools import setup\n"
        "setup(name='x', description='A site', install_requires=['requests', 'Django>=2.0,<2.1'])\n",
    )
    assert dependencies.resolve_django_version(tmp_path) == {
        "path": "setup.py", "version": "2.0", "specs": ">=2.0,<2.1",
    }
    assert not marker.exists()
    assert dependencies.resolve_django_version(tmp_path / "missing") is None


def test_is_django_node():
    assert dependencies.is_django_node(ast.parse("from django.db import models\n"))
    assert dependencies.is_django_node(ast.parse("import os, django\n"))
    assert not dependencies.is_django_node(ast.parse("import django.db\n"))
    assert not dependencies.is_django_node(ast.parse("def f():\n    import django\n"))
    assert not dependencies.is_django_node(ast.parse("from . import x\n"))


def test_is_django_repository(tmp_path):
    assert not dependencies.is_django_repository(tmp_path)
    (tmp_path / "pkg").mkdir()
    write(tmp_path / "pkg", "broken.py", "print 'python 2'\n")
    write(tmp_path / "pkg", "views.py", "from django.http import HttpResponse\n")
    assert dependencies.is_django_repository(tmp_path)
    other = tmp_path / "other"
    other.mkdir()
    write(other, "manage.py", "")
    assert dependencies.is_django_repository(other)


def test_default_settings():
    assert dependencies.get_default_django_settings("9.9") is django_3_2
    assert dependencies.versions[-1] == "6.1" and "4.2" in dependencies.versions
    # Each release's own defaults, as its global_settings.py has them.
    assert dependencies.get_default_django_settings("4.2").USE_TZ is False
    assert dependencies.get_default_django_settings("5.0").USE_TZ is True
    assert hasattr(dependencies.get_default_django_settings("4.2"), "USE_L10N")
    assert not hasattr(dependencies.get_default_django_settings("5.0"), "USE_L10N")
    assert dependencies.get_default_django_settings("4.1").FORM_RENDERER == "django.forms.renderers.DjangoTemplates"
    assert dependencies.get_default_django_settings("1.11").MIDDLEWARE is None
    assert dependencies.get_default_django_settings("2.2").X_FRAME_OPTIONS == "SAMEORIGIN"
    assert list(dependencies.DJANGO_SETTINGS_MAPPING) == dependencies.versions
    settings = dependencies.module_to_dict(django_3_2)
    assert settings["STATIC_URL"] is None and "MIDDLEWARE" in settings and "ROOT_URLCONF" not in settings
    assert all(name.isupper() for name in settings)
    assert list(settings) == sorted(settings)
    assert list(dependencies.module_to_dict(django_3_2, lambda name: name != "DEBUG")) == ["DEBUG"]


def write_files(root, files):
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


PYPROJECT = '[project]\nname = "shop"\n'


@pytest.mark.parametrize(
    "files, expected",
    [
        # [project] dependencies, then each optional list.
        ({"pyproject.toml": PYPROJECT + 'dependencies = ["requests", "Django>=4.1,<5"]\n'},
         ("pyproject.toml", "4.1", ">=4.1,<5")),
        ({"pyproject.toml": PYPROJECT + 'dependencies = ["requests"]\n'
                            '[project.optional-dependencies]\ndocs = ["sphinx"]\nweb = ["django~=5.0"]\n'},
         ("pyproject.toml", "5.0", "~=5.0")),
        ({"pyproject.toml": PYPROJECT + 'dependencies = ["Django>=4.2"]\n'
                            '[project.optional-dependencies]\nold = ["Django>=3.2"]\n'},
         ("pyproject.toml", "4.2", ">=4.2")),
        ({"pyproject.toml": PYPROJECT + "dependencies = [\"Django>=4.2; python_version >= '3.10'\"]\n"},
         ("pyproject.toml", "4.2", ">=4.2")),
        # Only the [project] tables say what the project needs to run.
        ({"pyproject.toml": '[build-system]\nrequires = ["Django>=4.0"]\n[tool.x]\ndependencies = ["Django"]\n'},
         None),
        ({"pyproject.toml": PYPROJECT + 'dependencies = "Django>=4.0"\n'}, None),
        ({"pyproject.toml": "[project\nnot toml"}, None),
        # requirements*.in at the root, in name order.
        ({"requirements.in": "Django>=4.0,<4.1\n"}, ("requirements.in", "4.0", ">=4.0,<4.1")),
        ({"requirements-dev.in": "django==4.2.*\n", "requirements.in": "Django==5.1.*\n"},
         ("requirements-dev.in", "4.2", "==4.2.*")),
        # requirements/*.txt, then requirements/*.in; a file without Django does not end the search.
        ({"requirements/base.txt": "Django>=4.1,<5\n"}, ("requirements/base.txt", "4.1", ">=4.1,<5")),
        ({"requirements/a.txt": "requests\n", "requirements/base.in": "Django~=3.2\n"},
         ("requirements/base.in", "3.2", "~=3.2")),
        ({"requirements/z.txt": "Django==5.0.1\n", "requirements/a.in": "Django==4.0.1\n"},
         ("requirements/z.txt", "5.0", "==5.0.1")),
        ({"requirements/base.txt": "-r common.txt\n", "requirements/common.txt": "Django>=2.2,<3\n"},
         ("requirements/common.txt", "2.2", ">=2.2,<3")),
        ({"requirements/docs.md": "Django>=4.0\n", "requirements/sub/base.txt": "Django>=4.0\n"}, None),
        # The files read first win over the new sources, and the new sources keep their order.
        ({"requirements.txt": "Django==3.2.1\n", "requirements/base.txt": "Django>=4.1\n"},
         ("requirements.txt", "3.2", "==3.2.1")),
        ({"setup.py": "setup(install_requires=['Django>=2.0,<2.1'])\n",
          "pyproject.toml": PYPROJECT + 'dependencies = ["Django>=4.1"]\n'}, ("setup.py", "2.0", ">=2.0,<2.1")),
        ({"pyproject.toml": PYPROJECT + 'dependencies = ["Django>=4.1"]\n', "requirements.in": "Django>=3.0\n"},
         ("pyproject.toml", "4.1", ">=4.1")),
        ({"requirements.in": "Django>=3.0\n", "requirements/base.txt": "Django>=4.1\n"},
         ("requirements.in", "3.0", ">=3.0")),
    ],
)
def test_more_dependency_sources(tmp_path, files, expected):
    write_files(tmp_path, files)
    found = dependencies.resolve_django_version(tmp_path)
    if expected is None:
        assert found is None
    else:
        assert found == dict(zip(("path", "version", "specs"), expected))


def test_requirements_folder_files_are_read_as_any_project_file(tmp_path, capsys):
    from tessary.terminal import print_warnings

    print_warnings()
    outside = tmp_path / "outside.txt"
    outside.write_text("Django>=4.0\n")
    root = tmp_path / "proj"
    (root / "requirements").mkdir(parents=True)
    (root / "requirements" / "base.txt").symlink_to(outside)
    (root / "requirements" / "pipe.txt").symlink_to("/dev/zero")
    (root / "requirements" / "web.in").write_text("Django==4.2.3\n")
    assert dependencies.resolve_django_version(root) == {
        "path": "requirements/web.in", "version": "4.2", "specs": "==4.2.3"}
    assert capsys.readouterr().err.splitlines() == [
        "tessary: warning: requirements/base.txt: a link to a file outside the project, skipped",
        "tessary: warning: requirements/pipe.txt: a link to a file outside the project, skipped",
    ]
