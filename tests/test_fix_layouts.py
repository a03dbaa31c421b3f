"""Fix pairs for the project fixer: each `NAME.py` under `fix_layouts/`,
fixed as a project's models module with every fix, must give exactly
`NAME.fixed.py`, keep black's verdict, and need no second run."""
import pathlib

import black
import pytest

from tests.conftest import make_project

from tessary.staticanalysis import transformer

ROOT = pathlib.Path(__file__).resolve().parent / "fix_layouts"
PAIRS = sorted(p for p in ROOT.glob("*.py") if not p.name.endswith(".fixed.py"))
STYLE = {"line_length": 88}


def black_leaves(text):
    return black.format_str(text, mode=black.FileMode(line_length=88)) == text


@pytest.mark.parametrize("before", PAIRS, ids=[p.stem for p in PAIRS])
def test_layout_pair(tmp_path, before):
    expected = before.with_name(before.stem + ".fixed.py").read_text()
    original = before.read_text()
    project = make_project(tmp_path, original, admin=True)
    result = transformer.fix_project(str(project), None, "s", STYLE)
    ((text, path),) = result["files"]
    assert path == "shop/models.py" and text == expected
    assert black_leaves(text) or not black_leaves(original)

    (project / "shop" / "models.py").write_text(text)
    assert transformer.fix_project(str(project), None, "s", STYLE)["files"] == []


MIGRATION = '''from django.db import migrations


def copy_legacy_titles(apps, schema_editor):
    pass


class Migration(migrations.Migration):
    dependencies = [("shop", "0001_initial")]

    operations = [
        migrations.RunPython(copy_legacy_titles, elidable=True, atomic=True),  # titles
        migrations.RunPython(copy_legacy_titles, atomic=True),
    ]
'''


def test_an_operation_a_fix_makes_too_long_is_reformatted_in_its_list(tmp_path):
    # Each operation is formatted alone, as black would, its comma (and
    # comment) kept.
    project = make_project(tmp_path, "from django.db import models\n")
    (project / "shop" / "migrations").mkdir()
    (project / "shop" / "migrations" / "__init__.py").write_text("")
    (project / "shop" / "migrations" / "0002_data.py").write_text(MIGRATION)
    result = transformer.fix_project(str(project), None, "s", STYLE)
    ((text, path),) = result["files"]
    assert path == "shop/migrations/0002_data.py"
    assert text == MIGRATION.replace(
        "        migrations.RunPython(copy_legacy_titles, elidable=True, atomic=True),  # titles\n",
        "        migrations.RunPython(\n            copy_legacy_titles,\n            elidable=True,\n"
        "            atomic=True,\n            reverse_code=migrations.RunPython.noop,\n        ),  # titles\n",
    ).replace(
        "        migrations.RunPython(copy_legacy_titles, atomic=True),\n",
        "        migrations.RunPython(\n            copy_legacy_titles, atomic=True, reverse_code=migrations.RunPython.noop\n"
        "        ),\n",
    )
    assert black_leaves(text)
