"""The settings checks against Django's own deployment checks, a settings
package split over modules, and the URL reversal checks with their fixes."""
import json
import re
import subprocess
import sys

import pytest

from tessary.staticanalysis import transformer
from tessary.staticanalysis.helpers import RULES

from .conftest import run

MANAGE = (
    "import os\nimport sys\n\n"
    'os.environ.setdefault("DJANGO_SETTINGS_MODULE", "site_conf.settings")\n'
    "from django.core.management import execute_from_command_line\n\n"
    "execute_from_command_line(sys.argv)\n"
)
# What every deployable settings module here has.
HEAD = '''SECRET_KEY = "x" * 60 + "-not-a-real-key-but-long-and-varied-0123456789abcdefghijkl"
DEBUG = False
ALLOWED_HOSTS = ["example.com"]
INSTALLED_APPS = ["django.contrib.sessions"]
'''
SECURE = HEAD + '''MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]
SECURE_HSTS_SECONDS = 31536000
SECURE_HSTS_INCLUDE_SUBDOMAINS = True
SECURE_HSTS_PRELOAD = True
SECURE_SSL_REDIRECT = True
SESSION_COOKIE_SECURE = True
CSRF_COOKIE_SECURE = True
'''
INSECURE = HEAD + '''MIDDLEWARE = [
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
]
SESSION_COOKIE_HTTPONLY = False
'''
# Django's deployment warnings and the ids that say the same.
DEPLOY_IDS = {"W001": "C4007", "W002": "C4008", "W003": "C4009", "W004": "C4010", "W005": "C4011",
              "W006": "C4012", "W008": "C4013", "W010": "C4014", "W011": "C4014", "W012": "C4014",
              "W013": "C4015", "W014": "C4015", "W015": "C4015", "W016": "C4016", "W021": "C4017"}


def settings_project(tmp_path, settings, extra=None):
    root = tmp_path / "site"
    (root / "site_conf").mkdir(parents=True)
    (root / "manage.py").write_text(MANAGE)
    (root / "site_conf" / "__init__.py").write_text("")
    (root / "site_conf" / "settings.py").write_text(settings)
    for name, text in (extra or {}).items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    return root


def tessary_ids(capsys, root):
    code, out, err = run(capsys, "check", "--no-cache", "--format", "json", root)
    return {e["message-id"] for e in json.loads(out) if e["message-id"].startswith("C4")}


def deploy_ids(root):
    checked = subprocess.run([sys.executable, "manage.py", "check", "--deploy"], cwd=root, capture_output=True,
                             text=True)
    warnings = set(re.findall(r"security\.(W\d{3})", checked.stdout + checked.stderr))
    return {DEPLOY_IDS[w] for w in warnings if w in DEPLOY_IDS}


@pytest.mark.parametrize("settings", [SECURE, INSECURE], ids=["secure", "insecure"])
def test_settings_findings_match_check_deploy(tmp_path, capsys, settings):
    root = settings_project(tmp_path, settings)
    assert tessary_ids(capsys, root) == deploy_ids(root)
    if settings is INSECURE:
        assert deploy_ids(root) == {"C4007", "C4008", "C4009", "C4014", "C4015"}


def test_a_settings_package_counts_every_module(tmp_path, capsys):
    base = INSECURE.replace("SESSION_COOKIE_HTTPONLY = False\n", "")
    production = (
        "import os\n\nfrom .base import *  # noqa\n\n"
        'MIDDLEWARE += ["django.middleware.csrf.CsrfViewMiddleware"]\n'
        'MIDDLEWARE.insert(0, "django.middleware.security.SecurityMiddleware")\n'
        "MIDDLEWARE.append('django.middleware.clickjacking.XFrameOptionsMiddleware')\n"
        'SECURE_HSTS_SECONDS = int(os.environ.get("HSTS", "0"))\n'
        'SECURE_SSL_REDIRECT = os.environ.get("SSL_REDIRECT") == "1"\n'
        "SESSION_COOKIE_SECURE = True\nCSRF_COOKIE_SECURE = True\n"
    )
    root = tmp_path / "site"
    (root / "site_conf" / "settings").mkdir(parents=True)
    (root / "manage.py").write_text(MANAGE.replace("site_conf.settings", "site_conf.settings.production"))
    (root / "site_conf" / "__init__.py").write_text("")
    (root / "site_conf" / "settings" / "__init__.py").write_text("")
    (root / "site_conf" / "settings" / "base.py").write_text(base)
    (root / "site_conf" / "settings" / "production.py").write_text(production)
    # The middleware is all there, counted over both modules; the values
    # read from the environment are not judged.
    assert tessary_ids(capsys, root) == set()


URL_CASES = {
    "views.py": (
        "from django.urls import reverse_lazy\n"
        "from django.shortcuts import redirect\n\n\n"
        "class Done:\n"
        "    success_url = reverse_lazy(\"done\")  # stays: evaluated while the class body runs\n\n"
        "    def get_success_url(self):\n"
        "        return reverse_lazy(\"done\", args=[1])\n\n"
        "    def post(self, request):\n"
        "        return redirect(reverse_lazy(\"done\"))\n\n"
        "    def get_urls(self):\n"
        "        return [reverse_lazy(\"done\")]  # stays: URL patterns are still being built\n",
        "from django.urls import reverse, reverse_lazy\n"  # in sorted order, as isort keeps it
        "from django.shortcuts import redirect\n\n\n"
        "class Done:\n"
        "    success_url = reverse_lazy(\"done\")  # stays: evaluated while the class body runs\n\n"
        "    def get_success_url(self):\n"
        "        return reverse(\"done\", args=[1])\n\n"
        "    def post(self, request):\n"
        "        return redirect(reverse(\"done\"))\n\n"
        "    def get_urls(self):\n"
        "        return [reverse_lazy(\"done\")]  # stays: URL patterns are still being built\n",
    ),
    "links.py": (
        "from django.urls import reverse as url_for\n\n"
        "HOME = url_for(\"home\")\n\n\n"
        "def later():\n"
        "    return url_for(\"later\")\n",
        "from django.urls import reverse as url_for, reverse_lazy\n\n"
        "HOME = reverse_lazy(\"home\")\n\n\n"
        "def later():\n"
        "    return url_for(\"later\")\n",
    ),
    # Both fixes in one module: each function is still imported once, where
    # it was (a fix that drops an import another fix needs puts it back).
    "both.py": (
        "from django.urls import reverse, reverse_lazy\n\n\n"
        "class Done:\n"
        "    success_url = reverse(\"home\")\n\n"
        "    def get_success_url(self):\n"
        "        return reverse_lazy(\"later\")\n",
        "from django.urls import reverse, reverse_lazy\n\n\n"
        "class Done:\n"
        "    success_url = reverse_lazy(\"home\")\n\n"
        "    def get_success_url(self):\n"
        "        return reverse(\"later\")\n",
    ),
    # The import the fix leaves unused goes; one still used stays.
    "menu.py": (
        "from django.urls import path, reverse\n\n"
        "HOME = reverse(\"home\")\n"
        "urlpatterns = [path(\"\", None)]\n",
        "from django.urls import path, reverse_lazy\n\n"
        "HOME = reverse_lazy(\"home\")\n"
        "urlpatterns = [path(\"\", None)]\n",
    ),
}


def test_url_fixes(tmp_path, capsys):
    root = tmp_path / "site"
    (root / "shop").mkdir(parents=True)
    (root / "manage.py").write_text("")
    (root / "shop" / "__init__.py").write_text("")
    for name, (before, _) in URL_CASES.items():
        (root / "shop" / name).write_text(before)
    code, out, err = run(capsys, "check", "--no-cache", "--format", "json", root)
    found = sorted((e["path"], e["line"], e["message-id"]) for e in json.loads(out))
    assert found == [("shop/both.py", 5, "C6001"), ("shop/both.py", 8, "C6000"), ("shop/links.py", 3, "C6001"),
                     ("shop/menu.py", 3, "C6001"), ("shop/views.py", 9, "C6000"), ("shop/views.py", 12, "C6000")]
    assert run(capsys, "fix", "--unsafe-fixes", root)[0] == 0
    for name, (_, after) in URL_CASES.items():
        assert (root / "shop" / name).read_text() == after


SETTINGS_BEFORE = HEAD + '''MIDDLEWARE = [
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",  # keeps its comment
]
SESSION_COOKIE_HTTPONLY = False  # scripts read it
USE_L10N = True
SECURE_SSL_REDIRECT = False
'''
SETTINGS_AFTER = HEAD + '''MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",  # keeps its comment
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]
SECURE_SSL_REDIRECT = True
SECURE_HSTS_SECONDS = 3600
SECURE_HSTS_INCLUDE_SUBDOMAINS = True
SESSION_COOKIE_SECURE = True
CSRF_COOKIE_SECURE = True
SECURE_HSTS_PRELOAD = True
'''


def test_settings_fixes(tmp_path, capsys):
    root = settings_project(tmp_path, SETTINGS_BEFORE, {"requirements.txt": "django==5.2\n"})
    assert tessary_ids(capsys, root) == {"C4005", "C4007", "C4008", "C4009", "C4014", "C4015"}
    code, out, err = run(capsys, "fix", root)
    assert "Held back" in out and (root / "site_conf" / "settings.py").read_text() == SETTINGS_BEFORE
    # Installing SecurityMiddleware makes Django check the HSTS and
    # redirect settings, and HSTS its sub-settings: one run makes the whole
    # change, counted apart from what the check reported.
    code, out, err = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0 and out.startswith("Fixed 6 findings in 1 file (and 5 more that these fixes brought about: "
                                        "C4010, C4011, C4013, C4016, C4017); 0 findings")
    assert (root / "site_conf" / "settings.py").read_text() == SETTINGS_AFTER
    assert tessary_ids(capsys, root) == set() == deploy_ids(root)
    assert run(capsys, "fix", "--unsafe-fixes", "--diff", root)[:2] == (0, "")


def test_the_registry_says_everything_once():
    by_id = {rule["id"]: rule for rule in RULES}
    assert len(by_id) == len(RULES)
    from tessary import message_templates

    for msgid, rule in by_id.items():
        assert getattr(message_templates, msgid, "") == rule["advice"]
        if rule["fix"]:
            assert msgid in transformer.FIXABLE_MESSAGE_IDS
            assert (rule["fix_grade"] == "unsafe") == bool(rule["unsafe_because"])
    fix_rows = {row[0] for row in transformer.RULES}
    settings_and_templates = {m for m, r in by_id.items() if r["module"] in ("settings", "templates") and r["fix"]}
    assert set(transformer.FIXABLE_MESSAGE_IDS) == fix_rows | settings_and_templates


NEW_LIST = '''MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]'''


@pytest.mark.parametrize("before, after", [
    (HEAD, HEAD + "\n" + NEW_LIST + "\n"),
    (HEAD + "MIDDLEWARE = []  # none yet\n", HEAD + NEW_LIST + "  # none yet\n"),
    (HEAD + "MIDDLEWARE = ()\n", HEAD + NEW_LIST.replace("[", "(").replace("]", ")") + "\n"),
], ids=["absent", "empty-list", "empty-tuple"])
def test_the_middleware_fixes_write_the_list_a_settings_module_lacks(tmp_path, capsys, before, after):
    root = settings_project(tmp_path, before)
    assert {"C4007", "C4008", "C4009"} <= tessary_ids(capsys, root)
    code, out, err = run(capsys, "fix", "--unsafe-fixes", "--select", "C4007,C4008,C4009", root)
    assert code == 0 and "Traceback" not in err
    assert (root / "site_conf" / "settings.py").read_text() == after
    assert not {"C4007", "C4008", "C4009"} & (tessary_ids(capsys, root) | deploy_ids(root))


def without(setting):
    """The secure settings with one setting left out entirely."""
    return "".join(line for line in SECURE.splitlines(True) if not line.startswith(setting + " "))


# A setting no module assigns: its fix adds it at the end of the settings
# module the site runs with. (C4012's setting defaults to True from Django
# 3.0 on: it is missing only for an older release.)
ABSENT = [
    ("C4010", "SECURE_HSTS_SECONDS", 3600, "5.2"),
    ("C4011", "SECURE_HSTS_INCLUDE_SUBDOMAINS", True, "5.2"),
    ("C4012", "SECURE_CONTENT_TYPE_NOSNIFF", True, "2.2"),
    ("C4013", "SECURE_SSL_REDIRECT", True, "5.2"),
    ("C4014", "SESSION_COOKIE_SECURE", True, "5.2"),
    ("C4016", "CSRF_COOKIE_SECURE", True, "5.2"),
    ("C4017", "SECURE_HSTS_PRELOAD", True, "5.2"),
]


@pytest.mark.parametrize("msgid, name, value, django", ABSENT, ids=[case[0] for case in ABSENT])
def test_a_setting_no_module_assigns_is_added(tmp_path, capsys, msgid, name, value, django):
    before = without(name)
    root = settings_project(tmp_path, before, {"requirements.txt": f"django=={django}\n"})
    assert tessary_ids(capsys, root) == {msgid}
    code, out, err = run(capsys, "fix", "--unsafe-fixes", "--select", msgid, root)
    assert code == 0 and out == "Fixed 1 finding in 1 file; 0 findings have no automatic fix.\n"
    assert (root / "site_conf" / "settings.py").read_text() == before + f"{name} = {value}\n"
    assert tessary_ids(capsys, root) == set()
    if django == "5.2":
        assert deploy_ids(root) == set()


@pytest.mark.parametrize("msgid, name, value", [case[:3] for case in ABSENT if case[0] != "C4012"],
                         ids=[case[0] for case in ABSENT if case[0] != "C4012"])
def test_transform_code_adds_a_setting_no_module_assigns(msgid, name, value):
    fixed, reasons = transformer.transform_code(without(name), "site_conf/settings.py", "site_conf.settings")
    assert msgid in reasons and assigned(fixed)[name] == value


def assigned(code):
    """{name: literal value} of a module's top-level assignments of literals."""
    import ast

    values = {}
    for statement in ast.parse(code).body:
        if isinstance(statement, ast.Assign):
            try:
                values[statement.targets[0].id] = ast.literal_eval(statement.value)
            except ValueError:
                pass  # not a literal
    return values


def test_transform_code_writes_the_middleware_list_a_settings_module_lacks():
    fixed, reasons = transformer.transform_code(HEAD, "site_conf/settings.py", "site_conf.settings")
    assert {"C4007", "C4008", "C4009"} <= reasons
    assert assigned(fixed)["MIDDLEWARE"] == ["django.middleware.security.SecurityMiddleware",
                                             "django.middleware.csrf.CsrfViewMiddleware",
                                             "django.middleware.clickjacking.XFrameOptionsMiddleware"]


# An assignment the fix takes out that is all its block holds: the block
# keeps a `pass`, or the module would not parse.
BLOCKS = [
    ("C4015", SECURE + "if not DEBUG:\n    SESSION_COOKIE_HTTPONLY = False  # scripts read it\n",
     SECURE + "if not DEBUG:\n    pass  # scripts read it\n"),
    ("C4005", SECURE + "try:\n    USE_L10N = True\nexcept NameError:\n    pass\n",
     SECURE + "try:\n    pass\nexcept NameError:\n    pass\n"),
    ("C4015", SECURE + "if DEBUG: SESSION_COOKIE_HTTPONLY = False\n", SECURE + "if DEBUG: pass\n"),
]


@pytest.mark.parametrize("msgid, before, after", BLOCKS, ids=["if", "try", "one-line-if"])
def test_a_removed_setting_leaves_no_empty_block(tmp_path, capsys, msgid, before, after):
    root = settings_project(tmp_path, before, {"requirements.txt": "django==5.2\n"})
    assert tessary_ids(capsys, root) == {msgid}
    code, out, err = run(capsys, "fix", "--unsafe-fixes", root)
    assert code == 0 and (root / "site_conf" / "settings.py").read_text() == after
    assert tessary_ids(capsys, root) == set()
    if msgid == "C4015":
        fixed, reasons = transformer.transform_code(before, "site_conf/settings.py", "site_conf.settings")
        assert reasons == {msgid} and "SESSION_COOKIE_HTTPONLY" not in fixed
        compile(fixed, "settings.py", "exec")


# A split settings package. The site runs with site_conf.settings, whose
# __init__ star-imports base and then production.
BASE = HEAD + '''MIDDLEWARE = [
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
]
SECURE_SSL_REDIRECT = False
SESSION_COOKIE_HTTPONLY = False
USE_L10N = True
'''
PRODUCTION = '''from .base import *  # noqa: F401,F403

SECURE_SSL_REDIRECT = False  # overrides base
'''
# A sibling the site does not run with: its settings change nothing there.
LOCAL = '''from .base import *  # noqa: F401,F403

DEBUG = True
MIDDLEWARE = [
    "django.contrib.sessions.middleware.SessionMiddleware",
]
SESSION_COOKIE_SECURE = False
'''
INIT = "from .base import *  # noqa: F401,F403\nfrom .production import *  # noqa: F401,F403\n"
FIXED_BASE = HEAD + '''MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]
SECURE_SSL_REDIRECT = False
'''
# What the settings the site runs with lacked, added where they take effect.
ADDED = '''
SECURE_HSTS_SECONDS = 3600
SECURE_HSTS_INCLUDE_SUBDOMAINS = True
SESSION_COOKIE_SECURE = True
CSRF_COOKIE_SECURE = True
SECURE_HSTS_PRELOAD = True
'''
PACKAGES = {
    "init": ("site_conf.settings", {"__init__.py": INIT, "base.py": BASE, "production.py": PRODUCTION,
                                    "local.py": LOCAL},
             {"__init__.py": INIT + ADDED, "base.py": FIXED_BASE,
              "production.py": PRODUCTION.replace("REDIRECT = False", "REDIRECT = True"), "local.py": LOCAL}),
    "production": ("site_conf.settings.production", {"__init__.py": "", "base.py": BASE, "production.py": PRODUCTION,
                                                     "local.py": LOCAL},
                   {"__init__.py": "", "base.py": FIXED_BASE,
                    # joining the security setting there, with no blank line
                    "production.py": PRODUCTION.replace("REDIRECT = False", "REDIRECT = True") + ADDED.lstrip(),
                    "local.py": LOCAL}),
}


@pytest.mark.parametrize("layout", PACKAGES)
def test_settings_fixes_in_a_split_package_land_where_they_take_effect(tmp_path, capsys, layout):
    modpath, before, after = PACKAGES[layout]
    root = tmp_path / "site"
    package = root / "site_conf" / "settings"
    package.mkdir(parents=True)
    (root / "manage.py").write_text(MANAGE.replace("site_conf.settings", modpath))
    (root / "requirements.txt").write_text("django==5.2\n")
    (root / "site_conf" / "__init__.py").write_text("")
    for name, text in before.items():
        (package / name).write_text(text)
    found = tessary_ids(capsys, root)
    assert found == {"C4005", "C4007", "C4008", "C4009", "C4014", "C4015"}
    code, out, err = run(capsys, "fix", "--unsafe-fixes", root)
    # Each finding counts as fixed, wherever its module lies; what
    # SecurityMiddleware and HSTS bring in is fixed in the same run, in the
    # module where it takes effect (production.py, where nothing was
    # reported, turns the redirect on).
    files = 3 if layout == "init" else 2
    assert code == 0 and out.startswith(f"Fixed {len(found)} findings in {files} files (and 5 more that these fixes "
                                         "brought about: C4010, C4011, C4013, C4016, C4017); 0 findings have no")
    assert {name: (package / name).read_text() for name in before} == after
    assert tessary_ids(capsys, root) == set() == deploy_ids(root)
    assert run(capsys, "fix", "--unsafe-fixes", "--diff", root)[:2] == (0, "")


def test_transform_code_fixes_the_package_module_it_is_given(tmp_path, monkeypatch):
    from tessary.staticanalysis import checker

    root = tmp_path / "site"
    package = root / "site_conf" / "settings"
    package.mkdir(parents=True)
    (root / "site_conf" / "__init__.py").write_text("")
    for name, text in {"__init__.py": "", "base.py": BASE, "production.py": PRODUCTION, "local.py": LOCAL}.items():
        (package / name).write_text(text)
    monkeypatch.chdir(root)
    monkeypatch.syspath_prepend(str(root))
    try:
        # The text given stands for base.py, whatever its file says: the
        # findings are the text's, and the fixes change it, not the file.
        text = BASE.replace("USE_L10N = True\n", "")
        fixed, reasons = transformer.transform_code(text, "site_conf/settings/base.py", "site_conf.settings.production")
        assert reasons == {"C4007", "C4008", "C4009", "C4015"}
        settings = assigned(fixed)
        assert settings["MIDDLEWARE"][0] == "django.middleware.security.SecurityMiddleware"
        assert "SESSION_COOKIE_HTTPONLY" not in settings and "USE_L10N" not in settings
        # production.py overrides base's SECURE_SSL_REDIRECT: base's stays.
        assert settings["SECURE_SSL_REDIRECT"] is False
        assert (package / "base.py").read_text() == BASE
    finally:
        checker.forget_modules_under(str(root))


def test_a_settings_module_that_star_imports_by_its_own_name_is_followed(tmp_path, capsys):
    # manage.py's settings name (core.settings.prod) starts below the folder
    # tessary runs on: the star-import names base by the short name, and the
    # middleware fix goes into base's list, never into a list of one that
    # would replace everything prod appends to.
    site = tmp_path / "site"
    (site / "core" / "settings").mkdir(parents=True)
    (site / "manage.py").write_text('import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "core.settings.prod")\n')
    for package in (site, site / "core", site / "core" / "settings"):
        (package / "__init__.py").write_text("")
    (site / "core" / "settings" / "base.py").write_text(
        'INSTALLED_APPS = []\nDATABASES = {}\nMIDDLEWARE = [\n    "django.middleware.security.SecurityMiddleware",\n'
        '    "django.middleware.csrf.CsrfViewMiddleware",\n]\n')
    prod = 'from core.settings.base import *  # noqa\n\nMIDDLEWARE.append("shop.middleware.Audit")\n'
    (site / "core" / "settings" / "prod.py").write_text(prod)
    code, out, err = run(capsys, "fix", "--select", "C4008", "--unsafe-fixes", tmp_path)
    assert code == 0, out + err
    assert (site / "core" / "settings" / "prod.py").read_text() == prod
    assert '    "django.middleware.clickjacking.XFrameOptionsMiddleware",\n]' in (
        site / "core" / "settings" / "base.py").read_text()

    # A list the settings add to but whose module cannot be followed is
    # unknown: nothing is reported and nothing replaces it.
    (site / "core" / "settings" / "prod.py").write_text(prod.replace("core.settings.base", "vendored.settings"))
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "json", "--select", "C4007,C4008,C4009", site)
    assert code == 0 and json.loads(out) == []


def test_a_star_import_is_never_looked_for_outside_the_project(tmp_path, capsys):
    # The same module inside the project is read and judged; beside the
    # project (outside its root) it is never read, and nothing is reported.
    def layout(where):
        folder = where / "core" / "settings"
        folder.mkdir(parents=True)
        (folder / "base.py").write_text('MIDDLEWARE = ["django.middleware.security.SecurityMiddleware"]\n')
    site = tmp_path / "proj"
    (site / "conf").mkdir(parents=True)
    (site / "manage.py").write_text('import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "conf.settings")\n')
    (site / "conf" / "__init__.py").write_text("")
    (site / "conf" / "settings.py").write_text(
        "from core.settings.base import *  # noqa\n\nINSTALLED_APPS = []\nDATABASES = {}\n")
    layout(tmp_path)
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "json", "--select", "C4008", site)
    assert code == 0 and json.loads(out) == []
    layout(site)
    for package in (site / "core", site / "core" / "settings"):
        (package / "__init__.py").write_text("")
    code, out, _ = run(capsys, "check", "--no-cache", "--format", "json", "--select", "C4008", site)
    assert [(e["path"], e["message-id"]) for e in json.loads(out)] == [("core/settings/base.py", "C4008")]


# A settings module that lets a file of each machine override it: what the
# fixes add goes above that point, after the module's last setting, so the
# machine's file (a developer's plain-http runserver) keeps the last word.
OVERRIDDEN = {
    "star-import": (SECURE.replace("SESSION_COOKIE_SECURE = True\n", "")
                    + "\n# Machine-specific settings.\ntry:\n    from .local_settings import *  # noqa: F403\n"
                    "except ImportError:\n    pass\n",
                    "CSRF_COOKIE_SECURE = True\nSESSION_COOKIE_SECURE = True\n\n# Machine-specific"),
    "exec": (HEAD.replace("INSTALLED_APPS", "MIDDLEWARE = [\n    \"django.middleware.security.SecurityMiddleware\",\n"
                          "    \"django.middleware.csrf.CsrfViewMiddleware\",\n"
                          "    \"django.middleware.clickjacking.XFrameOptionsMiddleware\",\n]\nINSTALLED_APPS")
             + "\nimport os\n\nf = os.path.join(os.path.dirname(__file__), \"local_settings.py\")\n"
             "if os.path.exists(f):\n    exec(open(f).read())\n\nconfigure(globals())\n",
             "INSTALLED_APPS = [\"django.contrib.sessions\"]\n\nSECURE_HSTS_SECONDS = 3600\n"),
}


@pytest.mark.parametrize("layout", OVERRIDDEN)
def test_added_settings_go_above_what_overrides_them(tmp_path, capsys, layout):
    before, expected = OVERRIDDEN[layout]
    root = settings_project(tmp_path, before, {"requirements.txt": "django==5.2\n"})
    assert tessary_ids(capsys, root)
    assert run(capsys, "fix", "--unsafe-fixes", root)[0] == 0
    after = (root / "site_conf" / "settings.py").read_text()
    assert expected in after
    override = "try:" if layout == "star-import" else "f = os.path"
    assert after.index(override) > after.rindex(" = True\n")
    assert tessary_ids(capsys, root) == set()
    assert run(capsys, "fix", "--unsafe-fixes", "--diff", root)[:2] == (0, "")
