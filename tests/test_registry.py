"""Every rule's own example and better code, as `tessary explain` shows
them, through the linter and the fixer: the example gives the finding, the
better code does not, and where the rule has a fix, fixing the example
gives the better code."""
import ast
import json
import re
import textwrap

import pytest

from tessary.staticanalysis.helpers import RULES

from .conftest import run

MANAGE = 'import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "site_conf.settings")\n'
MODELS = '''from django.db import models


class Author(models.Model):
    name = models.CharField(max_length=20)


class Book(models.Model):
    title = models.CharField(max_length=20)
    author = models.ForeignKey(Author, on_delete=models.CASCADE, related_name="books")
'''
# Settings that Django's deployment checks pass; a settings example takes
# out what it sets itself.
SETTINGS = [
    'STATIC_URL = "/static/"',
    'INSTALLED_APPS = ["django.contrib.sessions", "shop"]',
    'MIDDLEWARE = ["django.middleware.security.SecurityMiddleware", '
    '"django.contrib.sessions.middleware.SessionMiddleware", "django.middleware.common.CommonMiddleware", '
    '"django.middleware.csrf.CsrfViewMiddleware", "django.middleware.clickjacking.XFrameOptionsMiddleware"]',
    "SECURE_HSTS_SECONDS = 31536000",
    "SECURE_HSTS_INCLUDE_SUBDOMAINS = True",
    "SECURE_HSTS_PRELOAD = True",
    "SECURE_SSL_REDIRECT = True",
    "SESSION_COOKIE_SECURE = True",
    "CSRF_COOKIE_SECURE = True",
]
# Options that make a rule's example short.
OPTIONS = {"C2001": "max-model-fields = 3", "C3000": "max-models = 3"}


def assigned_names(code):
    return {line.split("=")[0].strip() for line in code.splitlines() if "=" in line and not line.startswith(" ")}


def place(rule, code):
    """(path, text) of the file that holds the code of a rule's example."""
    module = rule["module"]
    if code.startswith("# ") and code.split("\n", 1)[0].endswith((".py", ".html")):
        path, code = code[2:].split("\n", 1)
    else:
        path = {"settings": "site_conf/settings.py", "templates": "templates/page.html", "urls": "shop/views.py",
                "queryrules": "shop/views.py", "migrations": "shop/migrations/0002_data.py",
                "checker": "shop/broken.py"}.get(module, "shop/models.py")
    if module == "settings":
        names = assigned_names(rule["example"]) | assigned_names(rule["better"])
        kept = [line for line in SETTINGS if line.split("=")[0].strip() not in names]
        return path, "\n".join(kept) + "\n" + code + "\n"
    if module in ("fieldrules", "methodrules", "admin") and path.endswith("models.py"):
        header = "from django.contrib import admin\nfrom django.db import models\n\n\n"
        if not code.startswith(("class ", "from ", "import ")):
            code = "class Shelf(models.Model):\n" + textwrap.indent(code, "    ")
        return path, header + code + "\n"
    if module == "queryrules":
        body = code + ("\n    pass" if code.rstrip().endswith(":") else "")
        return path, ("from shop.models import Book\n\n\ndef view():\n    books = Book.objects.filter(title=\"x\")\n"
                      "    book = Book.objects.get(pk=1)\n" + textwrap.indent(body, "    ") + "\n")
    if module == "urls":
        # The functions the code calls are imported (a fix imports the one
        # it calls and drops the one it leaves unused).
        names = ", ".join(name for name in ("reverse", "reverse_lazy") if f"{name}(" in code)
        return path, (f"from django.urls import {names}\nfrom django.views.generic import CreateView\n\n\n"
                      + code + "\n")
    return path, code + "\n"


def project(tmp_path, rule, code):
    root = tmp_path / "site"
    for folder in ("site_conf", "shop/migrations", "templates"):
        (root / folder).mkdir(parents=True, exist_ok=True)
    (root / "manage.py").write_text(MANAGE)
    (root / "requirements.txt").write_text("django==5.2\n")
    (root / "pyproject.toml").write_text(f"[tool.tessary]\n{OPTIONS.get(rule['id'], '')}\n")
    for package in ("site_conf", "shop", "shop/migrations"):
        (root / package / "__init__.py").write_text("")
    (root / "site_conf" / "settings.py").write_text("\n".join(SETTINGS) + "\n")
    (root / "shop" / "models.py").write_text(MODELS)
    path, text = place(rule, code)
    (root / path).write_text(text)
    if path == "shop/models.py":
        # The admin shows every model of the example, as most projects' do.
        names = re.findall(r"^class (\w+)\(models\.Model\)", text, re.M)
        (root / "shop" / "admin.py").write_text(
            "from django.contrib import admin\n\nfrom shop import models\n\n"
            + "".join(f"admin.site.register(models.{name})\n" for name in names))
    return root, path


def findings(capsys, root, msgid):
    code, out, err = run(capsys, "check", "--no-cache", "--format", "json", "--select", msgid, root)
    assert code in (0, 1), err
    return [e for e in json.loads(out) if e["message-id"] == msgid]


def same_code(path, fixed, better):
    if path.endswith(".py"):
        return ast.dump(ast.parse(fixed)) == ast.dump(ast.parse(better))
    return fixed.strip() == better.strip()


EXAMPLES = [rule for rule in RULES if rule["example"]]


@pytest.mark.parametrize("rule", EXAMPLES, ids=[rule["id"] for rule in EXAMPLES])
def test_rule_examples(tmp_path, capsys, rule):
    root, path = project(tmp_path / "example", rule, rule["example"])
    assert findings(capsys, root, rule["id"]), f"{rule['id']}: the example gives no finding"
    better_root, better_path = project(tmp_path / "better", rule, rule["better"])
    assert not findings(capsys, better_root, rule["id"]), f"{rule['id']}: the better code gives the finding"
    if rule["fix"]:
        assert run(capsys, "fix", "--unsafe-fixes", "--select", rule["id"], root)[0] == 0
        fixed = (root / path).read_text()
        better = (better_root / better_path).read_text()
        assert same_code(path, fixed, better), f"{rule['id']}: the fix gives\n{fixed}"
