"""Project facts read statically, and advice rendering."""
import pathlib

import pytest

from tessary import meta, message_templates, render

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "bookshop"


def test_demo_project_facts():
    assert meta.get_toml_config(DEMO) == {"max-model-fields": 20, "max-charfield-length": 512}
    assert list(meta.get_settings_files(DEMO)) == ["bookshop.settings"]
    assert meta.get_settings_modpath(DEMO) == "bookshop.settings"
    assert meta.get_root_urlconf(["bookshop.settings"], project_root=DEMO) == "bookshop.urls"
    assert meta.get_static_url_setting(DEMO) == "/static/"
    assert meta.get_code_style(DEMO) == {"line_length": 100}
    assert meta.get_manage_file(DEMO) == DEMO / "manage.py"


def test_project_without_configuration(tmp_path):
    assert meta.get_toml_config(tmp_path) == {}
    assert meta.get_code_style(tmp_path) == {"line_length": 88}
    assert meta.get_settings_files(tmp_path) == []
    assert meta.get_root_urlconf([], project_root=tmp_path) == ""
    assert meta.get_static_url_setting(tmp_path) is None
    with pytest.raises(meta.ManageFileMissingError):
        meta.get_manage_file(tmp_path)


CORE = "INSTALLED_APPS = []\nMIDDLEWARE = []\n"


def test_settings_found_by_name_without_manage_py(tmp_path):
    (tmp_path / "site" / "conf" / "settings").mkdir(parents=True)
    (tmp_path / "site" / "conf" / "settings" / "__init__.py").write_text("from .base import *\n")
    (tmp_path / "site" / "conf" / "settings" / "base.py").write_text(CORE + "ROOT_URLCONF = 'site.urls'\n")
    (tmp_path / "other").mkdir()
    (tmp_path / "other" / "settings.py").write_text(CORE)
    # An app's own defaults and a views module named settings are not the
    # project's settings: they set none of what every project sets.
    (tmp_path / "wiki" / "conf").mkdir(parents=True)
    (tmp_path / "wiki" / "conf" / "settings.py").write_text("WIKI_ACCOUNT_HANDLING = True\nMIDDLEWARE = []\n")
    (tmp_path / "search" / "views").mkdir(parents=True)
    (tmp_path / "search" / "views" / "settings.py").write_text("def settings_view(request):\n    pass\n")
    (tmp_path / ".venv" / "lib").mkdir(parents=True)
    (tmp_path / ".venv" / "lib" / "settings.py").write_text(CORE)
    assert meta.get_settings_files(tmp_path) == ["other.settings", "site.conf.settings"]
    assert meta.find_settings_modules(tmp_path)[0] == (
        "other.settings", "named settings and assigns the settings every project has")
    assert meta.get_root_urlconf(["other.settings", "site.conf.settings"], project_root=tmp_path) == "site.urls"


@pytest.mark.parametrize("where, text", [
    ("src/manage.py", 'os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shop.settings.production")\n'),
    ("src/shop/wsgi.py", 'os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shop.settings.production")\n'),
    ("pytest.ini", "[pytest]\nDJANGO_SETTINGS_MODULE = src.shop.settings.production\n"),
    ("pyproject.toml", '[tool.pytest.ini_options]\nDJANGO_SETTINGS_MODULE = "src.shop.settings.production"\n'),
])
def test_settings_the_project_runs_with(tmp_path, where, text):
    """The module manage.py, wsgi.py, asgi.py or the pytest configuration
    names, read from the folder that names it; other modules called
    settings are then not the settings."""
    package = tmp_path / "src" / "shop" / "settings"
    package.mkdir(parents=True)
    (package / "__init__.py").write_text("")
    (package / "production.py").write_text(CORE)
    (tmp_path / "src" / "shop" / "tests").mkdir()
    (tmp_path / "src" / "shop" / "tests" / "settings.py").write_text(CORE)
    (tmp_path / where).write_text(text)
    assert meta.get_settings_files(tmp_path) == ["src.shop.settings.production"]
    assert meta.find_settings_modules(tmp_path) == [("src.shop.settings.production", f"named by {where}")]


def test_configuration_keys_and_bad_toml(tmp_path):
    (tmp_path / "pyproject.toml").write_text("[tool.tessary]\nmax_models = 5\n")
    assert meta.get_toml_config(tmp_path) == {"max-models": 5}
    (tmp_path / "pyproject.toml").write_text("[tool.tessary\n")
    with pytest.raises(ValueError, match="pyproject.toml"):
        meta.get_toml_config(tmp_path)


def test_every_reported_id_has_advice():
    names = [n for n in dir(message_templates) if not n.startswith("__")]
    assert all(len(n) == 5 and n[0] in "CEF" and n[1:].isdigit() for n in names), names
    for expected in ("E0001", "C1000", "C2000", "C2001", "C3002", "C5000", "C7000", "C7001", "C8001", "C9003"):
        assert expected in names


def test_render_fills_advice_from_the_argument_map():
    records = [
        {"message-id": "C2000", "symbol": "nullable-string-field", "path": "a/models.py", "line": 3,
         "column": 4, "message": {"name": "Book.title"}},
        {"message-id": "E0001", "symbol": "syntax-error", "path": "b.py", "line": 1, "column": 0,
         "message": "Syntax Error"},
        {"message-id": "X1234", "symbol": "unknown", "path": "c.py", "line": 1, "column": 0,
         "message": "raw text"},
    ]
    advice = render.render_message_centric_advice(
        messages=records, project_root="/r", settings={}, settings_modpath="p.settings",
        code_style={}, code_reader=lambda path: "",
    )
    assert [a["message-id"] for a in advice] == ["C2000", "E0001", "X1234"]
    assert advice[0]["advice"].startswith("Book.title: a string field should not be nullable")
    assert advice[0]["arguments"] == {"name": "Book.title"}
    assert advice[1]["advice"] == message_templates.E0001
    assert advice[2]["advice"] == "raw text"
    assert [a["fixable"] for a in advice] == [True, False, False]


def test_fill_template_leaves_unknown_placeholders():
    assert render.fill_template("{a} and {b} {% url %}", {"a": 1}) == "1 and {b} {% url %}"
