"""The results cache: a warm run gives what a cold run gives, a changed
module is linted again together with the modules that import it, and a
damaged cache is never trusted."""
import json
import shutil

from tests.conftest import make_project, run
from tests.test_cli import DEMO

MODELS = "from django.db import models\n\n\nclass Book(models.Model):\n    title = models.CharField(max_length=10)\n"
VIEWS = "from shop.models import Book\n\n\ndef total():\n    return len(Book.objects.all())\n"


def check(capsys, *argv):
    code, out, err = run(capsys, "check", "--no-progress", "--format", "json", *argv)
    return code, json.loads(out) if out.strip() else None, err


def views_follow_the_model(capsys, root):
    """Book stops being a model, then is one again: the findings of
    views.py, whose text never changes, follow each time."""
    (root / "shop" / "models.py").write_text("class Book:\n    objects = []\n")
    code, found, _ = check(capsys, root)
    assert code == 0 and found == []
    (root / "shop" / "models.py").write_text(MODELS)
    code, found, _ = check(capsys, root)
    assert [(e["path"], e["message-id"]) for e in found] == [("shop/views.py", "C9000")]


def test_a_warm_run_gives_what_a_cold_run_gives(capsys, tmp_path):
    root = tmp_path / "demo"
    shutil.copytree(DEMO, root)
    cold = check(capsys, root)
    assert (root / ".tessary_cache" / "results.json").is_file()
    assert (root / ".tessary_cache" / ".gitignore").read_text().splitlines()[-1] == "*"
    assert check(capsys, root) == cold
    assert check(capsys, "--no-cache", root) == cold
    # The cache holds whole files: a narrower run reads its lines from it.
    code, found, _ = check(capsys, "--select", "C2000", root / "catalog" / "models.py")
    assert code == 1 and [(e["path"], e["line"]) for e in found] == [("catalog/models.py", 9)]


def test_a_changed_module_relints_the_modules_that_import_it(capsys, tmp_path):
    root = make_project(tmp_path, MODELS)
    (root / "shop" / "views.py").write_text(VIEWS)
    code, found, _ = check(capsys, root)
    assert [(e["path"], e["message-id"]) for e in found] == [("shop/views.py", "C9000")]
    # Book stops being a model: views.py's text is the same, its findings are not.
    views_follow_the_model(capsys, root)


def test_a_damaged_cache_is_ignored_and_replaced(capsys, tmp_path):
    root = make_project(tmp_path, MODELS.replace("max_length=10)", "max_length=10, null=True)"))
    cold = check(capsys, root)
    results = root / ".tessary_cache" / "results.json"
    text = results.read_text()
    for damaged in (text[: len(text) // 2], "[]", '{"format": 1, "entries": {"shop/models.py": {"key": 1}}}'):
        results.write_text(damaged)
        assert check(capsys, root) == cold
        assert json.loads(results.read_text())["format"] == 1


def test_no_cache_and_cache_dir(capsys, tmp_path):
    root = make_project(tmp_path, MODELS)
    check(capsys, "--no-cache", root)
    assert not (root / ".tessary_cache").exists()
    elsewhere = tmp_path / "cache"
    check(capsys, "--cache-dir", elsewhere, root)
    assert (elsewhere / "results.json").is_file() and not (root / ".tessary_cache").exists()


def test_what_a_module_imports_is_read_again_when_its_text_changes(capsys, tmp_path):
    """The cache keeps each module's imports by its text: a module that
    starts importing another depends on it from then on, and damaged or
    stale import records are never trusted."""
    root = make_project(tmp_path, MODELS)
    (root / "shop" / "views.py").write_text("def total():\n    return 0\n")
    check(capsys, root)
    assert "shop/views.py" in json.dumps(json.loads((root / ".tessary_cache" / "imports.json").read_text()))
    (root / "shop" / "views.py").write_text(VIEWS)
    code, found, _ = check(capsys, root)
    assert [(e["path"], e["message-id"]) for e in found] == [("shop/views.py", "C9000")]
    imports = root / ".tessary_cache" / "imports.json"
    for damaged in (imports.read_text()[:20], '{"format": 1, "modules": {"x": [1, 2]}}'):
        imports.write_text(damaged)
        views_follow_the_model(capsys, root)


# Import statements as Python accepts them, in the places and layouts it
# accepts them in; prose naming imports, and a `from` that is not an
# import's.
IMPORTS = '''"""Docs: import nothing from here."""
from . import (first,  # a comment
    second as two,
)
from .. pkg . sub import deep
from.near import close
from .import sibling
import a . b as c, d
if flag: import inline
value = 1; from semi import colon
from \\
    continued import line
raise Error from cause
import after_raise
async def f():
    from inner import name
try:
    import guarded
except ImportError:
    from fallback import *
import módulo
from __future__ import annotations
'''


def test_the_imports_a_key_follows_are_read_without_parsing(tmp_path):
    """A module's cache key follows the project modules it imports; they
    are found by a scan for the word `import`, which may find more than
    the module's import statements name, never less."""
    from tessary import meta

    module = tmp_path / "pkg" / "sub" / "mod.py"
    source = IMPORTS.encode()
    scanned = set(meta.import_names(tmp_path, module, source))
    parsed = set(meta.import_names(tmp_path, module, source, scan=False))
    assert parsed <= scanned
    assert {"pkg.sub.first", "pkg.sub.second", "pkg.pkg.sub.deep", "pkg.sub.near.close", "pkg.sub.sibling", "a.b", "d",
            "inline", "semi.colon", "continued.line", "after_raise", "inner.name", "guarded", "fallback", "módulo",
            "__future__.annotations"} <= parsed
    assert {"nothing", "second"} <= scanned - parsed  # the prose's word, each imported name as a module
    # A text in another coding is parsed as Python reads it.
    latin = "# -*- coding: latin-1 -*-\nimport café\n".encode("latin-1")
    assert meta.import_names(tmp_path, module, latin) == ["café"]
    # A line of words as long as a text can be is parsed, not scanned back
    # over from each of its words.
    endless = ("import " * 20000).encode()
    assert meta.import_names(tmp_path, module, endless) == [] == meta.import_names(tmp_path, module, endless, scan=False)
