import re

import astroid
import pytest

# The host loads the framework shims once, before any code is parsed.
import tessary.staticanalysis.shims  # noqa: F401
from tessary.staticanalysis import checker


def lint_records(code, filepath="app/models.py", settings_modpath="project.settings", extra_checkers=()):
    """Lint one text the way check_code does and return the raw records."""
    linter = checker.create_linter(linter_class=checker.CodeLinter)
    for cls in extra_checkers:
        linter.register_checker(cls(linter))
    linter.set_option("settings-files", [settings_modpath])
    linter.check(code, files_or_modules=[filepath])
    return linter.reporter.messages


@pytest.fixture(autouse=True)
def no_outside_environment(monkeypatch):
    """The analysed environment is the test's business: an activated
    virtual environment or conda environment of the caller's is not."""
    monkeypatch.delenv("VIRTUAL_ENV", raising=False)
    monkeypatch.delenv("CONDA_PREFIX", raising=False)


@pytest.fixture
def extract():
    """astroid.extract_node under a module name of the analysed project."""

    def _extract(code, modname="app.models"):
        return astroid.extract_node(code, modname)

    return _extract


def make_project(tmp_path, models, admin=False):
    """A small Django project: manage.py and an app `shop` with `models`,
    with `admin` each model registered with the admin (so that forms show
    their fields)."""
    root = tmp_path / "proj"
    (root / "shop").mkdir(parents=True)
    (root / "manage.py").write_text("")
    (root / "shop" / "__init__.py").write_text("")
    (root / "shop" / "models.py").write_text(models)
    names = re.findall(r"^class (\w+)\(", models, re.M)
    if admin and names:
        (root / "shop" / "admin.py").write_text(
            "from django.contrib import admin\n\nfrom . import models\n\n"
            f"admin.site.register([{', '.join('models.' + n for n in names)}])\n")
    return root


def every_rule(argv):
    """The arguments with every rule selected, opt-in ones too, for a
    linting command that selects none itself: most tests are about what a
    rule finds, not about which rules run by default."""
    argv = [str(a) for a in argv]
    selecting = any(a == "--select" or a.startswith("--select=") for a in argv)
    if argv and argv[0] in ("check", "fix", "suggest") and not selecting and "--help" not in argv:
        return argv + ["--extend-select", "ALL"]
    return argv


def run(capsys, *argv, default_rules=False):
    """The command line with these arguments: (exit status, stdout,
    stderr). Every rule runs unless `default_rules` (or a --select)."""
    from tessary import cli

    code = cli.main([str(a) for a in argv] if default_rules else every_rule(argv))
    out, err = capsys.readouterr()
    return code, out, err
