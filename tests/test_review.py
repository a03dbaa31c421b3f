"""`tessary suggest` on a pull request of a Django project that lives in a
folder of its repository: every suggestion can be clicked alone and leaves
the project sound, the summary carries what the comments cannot, paths are
the repository's, and the Markdown renders as meant."""
import json
import os
import pathlib
import py_compile
import shutil
import subprocess
import sys

import pytest
from markdown_it import MarkdownIt

from tessary.staticanalysis import constants, suggest

from .test_suggest import hunk_ranges

DEMO = pathlib.Path(__file__).parent.parent / "examples" / "bookshop"

SHELF = '''

class Shelf(models.Model):
    label = models.CharField(
        max_length=40,
    )
    code = models.SlugField(
        max_length=20,
    )
    width = models.IntegerField(default=0)
    height = models.IntegerField(default=0)
    depth = models.IntegerField(default=0)
    shelves = models.IntegerField(default=1)
    owner = models.ForeignKey(
        Author,
        on_delete=models.CASCADE,
        db_index=False,
        verbose_name="owner",
        help_text="who keeps it",
    )

    def __str__(self):
        return self.label
'''
LINKS = '''from django.urls import reverse


def home_link():
    return reverse("book-list")
'''


def git(cwd, *args):
    return subprocess.run(["git", "-c", "user.email=t@example.com", "-c", "user.name=t", *args], cwd=cwd,
                          check=True, capture_output=True, text=True).stdout


def edit(path, old, new):
    text = path.read_text()
    assert old in text, old
    path.write_text(text.replace(old, new, 1))


@pytest.fixture(scope="module")
def pull_request(tmp_path_factory):
    """A repository with the demo project under backend/, and a branch
    with one edit of each kind a review meets."""
    top = tmp_path_factory.mktemp("review") / "repo"
    backend = top / "backend"
    shutil.copytree(DEMO, backend, ignore=shutil.ignore_patterns(".tessary_cache", "__pycache__"))
    (top / "README.md").write_text("shop\n")
    with (backend / "catalog" / "models.py").open("a") as models:
        models.write(SHELF)
    (backend / "catalog" / "links.py").write_text(LINKS)
    with (backend / "bookshop" / "settings.py").open("a") as settings:
        settings.write("\nSECURE_SSL_REDIRECT = True\nSESSION_COOKIE_HTTPONLY = True\n")
    git(top, "init", "-q", "-b", "main")
    git(top, "add", "-A")
    git(top, "commit", "-qm", "base")
    git(top, "checkout", "-qb", "feature")
    models = backend / "catalog" / "models.py"
    # Keywords added inside calls that span several lines: the findings
    # are reported on the calls' first lines, which did not change.
    edit(models, "        max_length=40,\n", "        max_length=40,\n        null=True,\n")
    edit(models, "        max_length=20,\n", "        max_length=20,\n        blank=False,\n")
    # A change five lines into a call: its finding's line is outside the hunk.
    edit(models, 'help_text="who keeps it"', 'help_text="who keeps the shelf"')
    # reverse() at import time: its fix also needs an import, far above.
    with (backend / "catalog" / "links.py").open("a") as links:
        links.write('\n\nHOME = reverse("book-list")\n')
    settings = backend / "bookshop" / "settings.py"
    # Two settings in a row, each with a fix of its own.
    edit(settings, "SECURE_SSL_REDIRECT = True", "SECURE_SSL_REDIRECT = False")
    edit(settings, "SESSION_COOKIE_HTTPONLY = True", "SESSION_COOKIE_HTTPONLY = False")
    # A line taken out of a statement that starts above the hunk.
    edit(settings, '    "django.middleware.csrf.CsrfViewMiddleware",\n', "")
    (backend / "templates" / "shelves").mkdir()
    (backend / "templates" / "shelves" / "shelf.html").write_text(
        '{% extends "base.html" %}\n{% block content %}\n<img src="/static/shelves/shelf.png" alt="">\n'
        "{% endblock %}\n")
    git(top, "add", "-A")
    git(top, "commit", "-qm", "shelves")
    return top


@pytest.fixture(scope="module")
def review(pull_request):
    """The review, from the project folder as a developer would run it."""
    env = dict(os.environ, NO_COLOR="1")
    env.pop("VIRTUAL_ENV", None)
    result = subprocess.run(
        [sys.executable, "-c", "from tessary.cli import run; run()", "suggest", "--diff", "main", "--no-cache", "--unsafe-fixes"],
        cwd=pull_request / "backend", capture_output=True, text=True, env=env, timeout=600)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def suggestion_of(comment):
    body = comment["body"]
    if not body.startswith("```suggestion\n"):
        return None
    return body[len("```suggestion\n"):].split("\n```", 1)[0]


def undefined_names(top, paths):
    """pylint's undefined-variable findings on these modules (parsed, not run)."""
    result = subprocess.run(
        [sys.executable, "-m", "pylint", "--disable=all", "--enable=E0602", "--score=n", *map(str, paths)],
        cwd=top, capture_output=True, text=True, timeout=300)
    return result.stdout.strip()


def test_comments_name_repository_paths_on_the_lines_of_the_diff(pull_request, review):
    changed = set(git(pull_request, "diff", "--name-only", "main", "--").split())
    spans = hunk_ranges(pull_request)
    assert review["comments"]
    for comment in review["comments"]:
        assert comment["path"] in changed, comment["path"]
        first = comment.get("start_line", comment["line"])
        assert any(a <= first and comment["line"] <= b for a, b in spans[comment["path"]]), comment
    summary = review["body"]
    for path in ("catalog/links.py", "templates/shelves/shelf.html"):
        assert f"--- a/backend/{path}" in summary and f"+++ b/backend/{path}" in summary


def test_findings_of_changed_statements_join_the_review(pull_request, review):
    bodies = "\n".join(c["body"] for c in review["comments"])
    for finding in ("**C2000** `nullable-string-field`: label", "**C2002** `redundant-default-args`: code",
                    "**C4009** `missing-csrf-middleware`", "**C4013** `missing-ssl-redirect`"):
        assert finding in bodies
    # The relation's finding is on a line GitHub cannot comment on: the
    # summary names it with its path and line.
    models = (pull_request / "backend" / "catalog" / "models.py").read_text().splitlines()
    owner = next(n for n, line in enumerate(models, 1) if line.startswith("    owner = "))
    assert f"- `backend/catalog/models.py:{owner}`: **C2005** `missing-related-name`" in review["body"]


def test_every_suggestion_alone_keeps_the_project_sound(pull_request, review, tmp_path):
    copy = tmp_path / "copy"
    shutil.copytree(pull_request, copy)
    suggestions = [(c["path"], c.get("start_line", c["line"]), c["line"], suggestion_of(c))
                   for c in review["comments"] if suggestion_of(c) is not None]
    assert len(suggestions) >= 4
    python = sorted({copy / path for path, *_ in suggestions if path.endswith(".py")})
    # Bottom-up within a file, so each suggestion's lines are still its own.
    for path, first, last, code in sorted(suggestions, key=lambda s: (s[0], -s[1])):
        target = copy / path
        lines = target.read_text().split("\n")
        lines[first - 1:last] = code.split("\n")
        target.write_text("\n".join(lines))
        for module in python:
            py_compile.compile(str(module), doraise=True)
        assert undefined_names(copy, python) == "", (path, first)
    # Nothing a suggestion did not name was touched: no line after a
    # suggestion was lost.
    settings = (copy / "backend" / "bookshop" / "settings.py").read_text()
    assert "SECURE_SSL_REDIRECT = True\nSESSION_COOKIE_HTTPONLY = False\n" in settings
    # The summary's patches apply on top, and the result is what `tessary
    # fix` would have written for those findings.
    for patch in review["body"].split("```diff\n")[1:]:
        (copy / "fix.patch").write_text(patch.split("\n```", 1)[0] + "\n")
        git(copy, "apply", "fix.patch")
    links = (copy / "backend" / "catalog" / "links.py").read_text()
    assert links.startswith("from django.urls import reverse, reverse_lazy\n")
    assert 'HOME = reverse_lazy("book-list")' in links
    assert undefined_names(copy, [copy / "backend" / "catalog" / "links.py"]) == ""
    page = (copy / "backend" / "templates" / "shelves" / "shelf.html").read_text()
    assert "{% load static %}" in page and "{% static 'shelves/shelf.png' %}" in page


def test_no_empty_suggestion_and_fixes_beyond_their_lines_say_so(review):
    by_id = {}
    for comment in review["comments"]:
        for part in comment["body"].split("**C")[1:]:
            by_id.setdefault("C" + part.split("**")[0], comment)
        code = suggestion_of(comment)
        assert code is None or code.strip(), comment
        assert comment["body"].strip() != "" and "**C" in comment["body"], comment
    assert suggestion_of(by_id["C6001"]) is None
    assert "line 1 of this file" in by_id["C6001"]["body"] and "summary" in by_id["C6001"]["body"]
    assert suggestion_of(by_id["C7001"]) is None
    # Taking out the setting leaves no line of the finding to show: said in words.
    assert suggestion_of(by_id["C4015"]) is None and "The fix deletes line" in by_id["C4015"]["body"]
    # Dropping a keyword from a call keeps the line before it in the suggestion.
    assert suggestion_of(by_id["C2002"]) == "        max_length=20,"


def test_review_markdown_renders_as_meant(review):
    """Under CommonMark, as GitHub renders it: every fence we open is one
    code block, and no fence is left over as text."""
    markdown = MarkdownIt("commonmark")
    for text in [review["body"]] + [c["body"] for c in review["comments"]]:
        tokens = markdown.parse(text)
        blocks = [t for t in tokens if t.type == "fence"]
        assert len(blocks) == text.count("```diff\n") + text.count("```suggestion\n"), text
        assert all(t.info in ("diff", "suggestion") for t in blocks)
        html = markdown.render(text)
        assert "```" not in html.replace("<code>```", ""), html
    summary = markdown.parse(review["body"])
    items = [t for t in summary if t.type == "list_item_open"]
    assert len(items) == review["body"].count("\n- `")


# --------------------------------------------------------------------------
# The programming interface: suggest_fixes


@pytest.fixture
def project(tmp_path, monkeypatch):
    root = tmp_path / "proj"
    (root / "shop").mkdir(parents=True)
    (root / "manage.py").write_text("")
    (root / "shop" / "models.py").write_text(
        "from django.db import models\n\n\nclass Shelf(models.Model):\n"
        "    label = models.CharField(max_length=40, unique=False)\n")
    monkeypatch.chdir(root)
    return root


def test_suggest_fixes_with_a_relative_root_keeps_the_paths(project):
    out = suggest.suggest_fixes([{"path": "shop/models.py", "line": 5, "message-id": "C2002", "body": "b"}], ".")
    assert [c["path"] for c in out] == ["shop/models.py"]
    assert "label = models.CharField(max_length=40)" in out[0]["body"]


def test_a_skip_request_suggests_the_disable_comment(project):
    comments = [{"path": "shop/models.py", "line": 5, "message-id": "C2002", "body": "b"},
                {"path": "shop/models.py", "line": 5, "message-id": constants.SKIP_LINE_ID, "body": "skip"}]
    (comment,) = suggest.suggest_fixes(comments, str(project))
    assert "# tessary: disable=redundant-default-args" in comment["body"]


@pytest.mark.parametrize("path", ["/etc/passwd", "../../etc/passwd", "../outside.py"])
def test_paths_outside_the_root_are_refused_before_reading(project, path):
    comment = {"path": path, "line": 1, "message-id": "C3001", "body": "b"}  # not even a fixable id
    with pytest.raises(ValueError, match="outside the project"):
        suggest.suggest_fixes([comment], str(project))
