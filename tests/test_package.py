"""The package installs as compiled modules, and analysed code never runs."""
import importlib
import importlib.machinery
import pathlib

import pytest

from tessary.staticanalysis import checker

from .conftest import lint_records

DELIVERED = [
    "tessary.staticanalysis.checker",
    "tessary.staticanalysis.helpers",
    "tessary.staticanalysis.shims",
    "tessary.staticanalysis.dependencies",
    "tessary.staticanalysis.transformer",
    "tessary.staticanalysis.suggest",
    "tessary.staticanalysis.checkers.fieldrules",
    "tessary.staticanalysis.checkers.queryrules",
    "tessary.staticanalysis.checkers.methodrules",
    "tessary.staticanalysis.checkers.migrations",
    "tessary.staticanalysis.checkers.admin",
    "tessary.staticanalysis.checkers.templates",
    "tessary.meta",
    "tessary.render",
]


@pytest.mark.parametrize("name", DELIVERED)
def test_every_module_is_a_compiled_extension(name):
    module = importlib.import_module(name)
    suffix = pathlib.Path(module.__file__).name
    assert any(suffix.endswith(ext) for ext in importlib.machinery.EXTENSION_SUFFIXES), module.__file__


def test_linting_never_imports_the_analysed_code(tmp_path):
    marker = tmp_path / "imported.txt"
    source = f"open({str(marker)!r}, 'w').write('ran')\nimport app.side_effect\n"
    module = tmp_path / "side_effect.py"
    module.write_text(source)

    linter = checker.create_linter(linter_class=checker.Linter)
    linter.check([str(module)])
    lint_records(source, filepath="app/side_effect.py")
    checker.check_code(source, "app/side_effect.py", "project.settings")

    assert not marker.exists()
