"""Project-wide linting through get_messages."""
import pathlib
import textwrap

import pytest

from pylint.checkers import BaseChecker

from tessary import message_templates, render
from tessary.staticanalysis import checker, helpers

MODELS = textwrap.dedent(
    """\
    from django.db import models


    class Book(models.Model):
        title = models.CharField(max_length=10, null=True)
        f1 = models.IntegerField()
        f2 = models.IntegerField()
        f3 = models.IntegerField()
    """
)


@pytest.fixture
def project(tmp_path):
    root = tmp_path / "site"
    (root / "store").mkdir(parents=True)
    (root / "site").mkdir()
    (root / "templates").mkdir()
    (root / "manage.py").write_text(
        'import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "site.settings")\n'
    )
    (root / "site" / "__init__.py").write_text("")
    (root / "site" / "settings.py").write_text('ROOT_URLCONF = "site.urls"\nSTATIC_URL = "/static/"\n')
    (root / "store" / "__init__.py").write_text("")
    (root / "store" / "models.py").write_text(MODELS)
    (root / "store" / "broken.py").write_text("def broken(:\n")
    (root / "templates" / "page.html").write_text('<a href="/x">x</a>\n<img src="/static/y.png">\n')
    (root / "requirements.txt").write_text("Django>=2.2,<3 # LTS\n")
    (root / "pyproject.toml").write_text("[tool.tessary]\nmax-model-fields = 3\ndjango-version = '9.9'\n")
    return root


def ids(records):
    return [(r["message-id"], r.get("line")) for r in records]


def test_filter_none_lines_and_empty(project):
    everything = {"store/models.py": None, "templates/page.html": None}
    assert ids(checker.get_messages(str(project), everything)) == [
        ("C2000", 5), ("C2001", 4), ("C7000", 1), ("C7001", 2),
    ]
    assert ids(checker.get_messages(str(project), {"store/models.py": [5], "templates/page.html": [2]})) == [
        ("C2000", 5), ("C7001", 2),
    ]
    assert checker.get_messages(str(project), {"store/models.py": [], "templates/page.html": []}) == []
    assert checker.get_messages(str(project), {}) == []


def test_meta_record_comes_last(project):
    records = checker.get_messages(str(project), {"store/models.py": [5], "META": None})
    assert ids(records)[:1] == [("C2000", 5)]
    meta = records[-1]
    assert meta["message-id"] == "C1000" and meta["path"] == "requirements.txt"
    assert meta["message_type"] == "meta" and "line" not in meta
    assert meta["body"]["specs"] == ">=2.2,<3" and meta["body"]["minor"] == "2.2"
    assert meta["body"]["matching_versions"] == [f"2.2.{patch}" for patch in range(30)]


def test_meta_for_a_requirement_of_major_one_only(project):
    (project / "requirements.txt").write_text("Django>=1.11,<2\n")
    (meta,) = checker.get_meta_messages(str(project))
    assert meta["body"]["minor"] == "1.11" and meta["body"]["matching_versions"] == []
    (project / "requirements.txt").write_text("flask\n")
    assert checker.get_meta_messages(str(project)) == []


def test_syntax_errors_survive_and_other_files_are_still_read(project):
    records = checker.get_messages(str(project), {"store/broken.py": None, "store/models.py": [5]})
    assert ids(records) == [("E0001", 1), ("C2000", 5)]


class ConfigChecker(BaseChecker):
    """Reports the options its linter runs with."""

    name = "test-config"
    msgs = {"C9991": (helpers.context_string(), "test-config", "Reports the linter options.")}

    def visit_module(self, node):
        config = self.linter.config
        self.add_message("C9991", node=node, args={
            "django_version": config.django_version,
            "settings_files": list(config.settings_files),
            "root_urlconf": config.root_urlconf,
            "max_model_fields": config.max_model_fields,
        })


def test_computed_options_override_the_project_configuration(project, monkeypatch):
    monkeypatch.setattr(message_templates, "C9991", "options", raising=False)
    checker.python_checker_classes.append(ConfigChecker)
    try:
        records = checker.get_messages(str(project), {"store/models.py": [1]})
        (project / "requirements.txt").write_text("flask\n")
        fallback = checker.get_messages(str(project), {"store/models.py": [1]})
    finally:
        checker.python_checker_classes.remove(ConfigChecker)
    (options,) = [r["message"] for r in records if r["message-id"] == "C9991"]
    assert options == {
        "django_version": "2.2", "settings_files": ["site.settings"], "root_urlconf": "site.urls",
        "max_model_fields": 3,
    }
    (options,) = [r["message"] for r in fallback if r["message-id"] == "C9991"]
    assert options["django_version"] == "3.2"


def test_relative_project_root(project, monkeypatch):
    monkeypatch.chdir(project.parent)
    assert ids(checker.get_messages("site", {"store/models.py": [5]})) == [("C2000", 5)]
    monkeypatch.chdir(project)
    assert ids(checker.get_messages(str(project), {"store/models.py": [5]})) == [("C2000", 5)]


def test_records_of_unrequested_files_are_skipped(project):
    # The module imports a sibling whose own findings are not asked for.
    (project / "store" / "views.py").write_text("from store.models import Book\nx = len(Book.objects.all())\n")
    records = checker.get_messages(str(project), {"store/views.py": None})
    assert ids(records) == [("C9000", 2)]


def test_every_message_code_has_advice():
    codes = checker.get_all_message_codes()
    assert codes == sorted(codes)
    assert set(checker.message_id_symbol_store) <= set(codes)
    assert {"C1000", "C7000", "C7001", "E0001"} <= set(codes)


def test_demo_project_with_advice():
    root = pathlib.Path(__file__).resolve().parent.parent / "examples" / "bookshop"
    files = {str(p.relative_to(root)): None for p in root.rglob("*") if p.suffix in (".py", ".html")}
    records = checker.get_messages(str(root), files)
    found = {r["message-id"] for r in records}
    shown_elsewhere = {"C4005", "C4007", "C4009", "C4011", "C4012", "C4015", "C4017"}
    assert found == set(checker.message_id_symbol_store) - shown_elsewhere | {"C7000", "C7001"}
    advice = render.render_message_centric_advice(
        messages=records, project_root=str(root), settings={}, settings_modpath="bookshop.settings",
        code_style={}, code_reader=lambda path: "",
    )
    assert all(a["advice"] for a in advice)


def test_projects_with_the_same_module_names_do_not_leak_into_each_other(project, tmp_path):
    views = "from store.models import Book\nx = len(Book.objects.all())\n"
    (project / "store" / "views.py").write_text(views)
    assert ids(checker.get_messages(str(project), {"store/views.py": None})) == [("C9000", 2)]

    other = tmp_path / "other"
    (other / "store").mkdir(parents=True)
    (other / "store" / "__init__.py").write_text("")
    (other / "store" / "models.py").write_text("class Book:\n    objects = []\n")
    (other / "store" / "views.py").write_text(views)
    assert checker.get_messages(str(other), {"store/views.py": None}) == []


def test_the_project_scope_holds_while_linting_and_ends_with_it(project):
    """While a project is linted its scope is alive (the cyclic collector
    runs rarely); afterwards the caller's settings are back."""
    import gc

    before = gc.get_threshold()
    seen = []
    checker.get_messages(str(project), {"store/models.py": None}, progress=lambda: seen.append(gc.get_threshold()))
    assert seen and all(threshold[0] >= 50000 for threshold in seen)
    assert gc.get_threshold() == before
