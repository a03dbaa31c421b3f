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
        "from django.urls import reverse_lazy, reverse\n"
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
SESSION_COOKIE_SECURE = True
CSRF_COOKIE_SECURE = True
SECURE_HSTS_SECONDS = 3600
SECURE_HSTS_INCLUDE_SUBDOMAINS = True
SECURE_HSTS_PRELOAD = True
'''


def test_settings_fixes(tmp_path, capsys):
    root = settings_project(tmp_path, SETTINGS_BEFORE, {"requirements.txt": "django==5.2\n"})
    assert tessary_ids(capsys, root) == {"C4005", "C4007", "C4008", "C4009", "C4014", "C4015"}
    code, out, err = run(capsys, "fix", root)
    assert "Held back" in out and (root / "site_conf" / "settings.py").read_text() == SETTINGS_BEFORE
    # With SecurityMiddleware in, the rules that need it apply on the next
    # run, and the HSTS sub-rules once HSTS is on, as Django's checks go.
    for _ in range(3):
        assert run(capsys, "fix", "--unsafe-fixes", root)[0] == 0
    assert (root / "site_conf" / "settings.py").read_text() == SETTINGS_AFTER
    assert tessary_ids(capsys, root) == set() == deploy_ids(root)


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
    (HEAD, HEAD + NEW_LIST + "\n"),
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
