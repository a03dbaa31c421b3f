"""Review suggestions: the template fix, suggestions for Python and HTML,
comment markup, and `tessary suggest` from a git change to a posted review."""
import http.server
import json
import pathlib
import shutil
import subprocess
import threading

import pytest

from tessary.staticanalysis import constants, helpers, suggest
from tessary.staticanalysis.checkers import templates

from .conftest import run

HERE = pathlib.Path(__file__).parent
DEMO = HERE.parent / "examples" / "bookshop"
PAIRS = sorted(p for p in (HERE / "template_fixes").glob("*.html") if not p.name.endswith(".fixed.html"))


# --------------------------------------------------------------------------
# The template fix, end to end through `tessary fix`


def template_project(tmp_path, static_url='"static/"'):
    root = tmp_path / "site"
    (root / "site").mkdir(parents=True)
    (root / "templates").mkdir()
    (root / "manage.py").write_text(
        'import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "site.settings")\n')
    (root / "site" / "__init__.py").write_text("")
    (root / "site" / "settings.py").write_text(f"STATIC_URL = {static_url}\n" if static_url else "DEBUG = True\n")
    return root


@pytest.mark.parametrize("before", PAIRS, ids=lambda p: p.stem)
def test_template_fix_pairs(tmp_path, capsys, before):
    root = template_project(tmp_path)
    target = root / "templates" / before.name
    shutil.copyfile(before, target)
    code, out, err = run(capsys, "fix", root)
    assert code == 0, err
    expected = before.with_name(before.stem + ".fixed.html").read_bytes()
    assert target.read_bytes() == expected


def test_template_fix_needs_a_static_url_the_site_serves(tmp_path, capsys):
    for static_url in (None, '"https://cdn.example.com/static/"'):
        root = template_project(tmp_path / str(bool(static_url)), static_url)
        page = root / "templates" / "page.html"
        page.write_text('<img src="/static/a.png">\n')
        code, out, err = run(capsys, "fix", root)
        assert page.read_text() == '<img src="/static/a.png">\n'
        assert "1 finding has no automatic fix" in out


RENDER = """
import sys, django
from django.conf import settings
settings.configure(STATIC_URL="/static/", INSTALLED_APPS=[])
django.setup()
from django.template import Context, Engine
engine = Engine(libraries={"static": "django.templatetags.static"})
sys.stdout.write(engine.from_string(open(sys.argv[1], encoding="utf-8").read()).render(Context()))
"""


def test_fixed_templates_render_the_same_urls(tmp_path, capsys):
    """The static tag gives the same URLs back, and the load tag stands
    where the template engine accepts it (in a process of its own: Django's
    settings are global)."""
    import sys

    root = template_project(tmp_path, '"/static/"')
    page = root / "templates" / "page.html"
    page.write_text('<link href="/static/css/a.css?v=2"><img src=\'/static/b c.png\'>\n')
    run(capsys, "fix", root)
    fixed = page.read_text()
    assert fixed.startswith("{% load static %}\n")
    rendered = subprocess.run([sys.executable, "-c", RENDER, str(page)], capture_output=True, text=True, check=True)
    assert rendered.stdout == '\n<link href="/static/css/a.css?v=2"><img src=\'/static/b%20c.png\'>\n'


# --------------------------------------------------------------------------
# The template mutators and the HTML suggestions


def test_visitor_runs_the_fix_once_per_id_and_only_for_c7001():
    html = '<img src="/static/a.png">'
    assert templates.build_transformer_visitor(["C7000"], {"STATIC_URL": "/static/"}).visit(html) == html
    twice = templates.build_transformer_visitor(["C7001", "C7001"], {"STATIC_URL": "/static/"})
    assert len(twice.mutators) == 2
    assert twice.visit(html) == "<img src=\"{% static 'a.png' %}\">"
    assert templates.build_transformer_visitor(["C7001"], {"STATIC_URL": "/static/"}).visit("<p>x</p>") == "<p>x</p>"
    with pytest.raises(KeyError):
        templates.build_transformer_visitor(["C7001"], {}).visit(html)


def test_collector_gathers_what_the_parser_reports():
    collector = templates.HardCodedStaticUrlToStaticTagHTMLMutator()
    assert collector.results == []
    collector.feed('<link href="/"><link href="//cdn/x.css"><img src="a.png"><img src><a href="/static/x">')
    assert collector.results == ["/", "//cdn/x.css", "a.png"]


LIST = ['{% extends "base.html" %}\n', "{% block content %}\n", '  <img src="/static/a.png">\n', "{% endblock %}\n"]


def test_html_suggestions_rewrite_the_line_and_load_the_library():
    records = suggest.get_suggestions_for_html(LIST, 3, {"C7001"}, {"STATIC_URL": "/static/"})
    assert records == [
        (3, 3, "  <img src=\"{% static 'a.png' %}\">"),
        (2, 2, "{% load static %}\n{% block content %}"),
    ]
    # No static prefix: the line stays, the load is still suggested.
    assert suggest.get_suggestions_for_html(LIST, 3, {"C7001"}, {"STATIC_URL": ""}) == [
        (2, 2, "{% load static %}\n{% block content %}")]
    assert suggest.get_suggestions_for_html(LIST, 3, {"C7000"}, {"STATIC_URL": "/static/"}) == []


@pytest.mark.parametrize("content, point", [
    ("{% load  static %}\n<img>", None),
    ("<p>\n{% load\nstatic %}</p>", None),
    ("{% load i18n static %}", None),
    ("{% load static from staticfiles %}", None),
    ("{%load static%}", 0),  # the template engine needs no blank; the check wants one
    ("{% load foo from static %}", 0),
    ('{% extends "base.html" %}\n<p>', 1),
    ('{# page #}\n\n{% extends "base.html" %}\n<p>', 3),
    ("<p>", 0),
])
def test_where_the_load_tag_goes(content, point):
    assert suggest.get_staticfile_template_tag_insertion_point(content) == point


def test_load_after_an_extends_tag_on_the_last_line():
    lines = ['{% extends "base.html" %}']
    assert suggest.get_suggestions_for_html(lines, 1, {"C7001"}, {"STATIC_URL": "/static/"}) == [
        (1, 1, '{% extends "base.html" %}\n{% load static %}')]


# --------------------------------------------------------------------------
# Python suggestions

MODELS = '''from django.db import models


class Shelf(models.Model):
    label = models.CharField(
        max_length=40,
        unique=False,
    )
    active = models.NullBooleanField()  # kept
'''


def atok_of(source):
    return helpers.build_atok(source, "shop.models", "shop/models.py")


def test_python_suggestion_fixes_only_the_named_ids():
    atok = atok_of(MODELS)
    assert suggest.get_suggestions_for_python(atok, 9, {"C2008"}, {"line_length": 88}, "site.settings") == [
        [9, 9, "    active = models.BooleanField(null=True)  # kept"]]
    atok = atok_of(MODELS)
    active = helpers.find_node_by_position(atok.tree, 9)
    assert suggest.get_suggestion_for_python(atok, active, {"C2002"}, "s") == (None, None, None)
    atok = atok_of(MODELS)
    records = suggest.get_suggestions_for_python(atok, 5, {"C2002"}, {"line_length": 88}, "s", False)
    assert records == [[5, 8, "label = models.CharField(max_length=40)"]]


def test_skip_request_puts_the_pragma_on_the_commented_line():
    atok = atok_of(MODELS)
    skip = constants.SKIP_LINE_ID
    records = suggest.get_suggestions_for_python(atok, 7, {skip, "C2002", "C2000"}, {"line_length": 88}, "s")
    assert records == [[5, 8, "    label = models.CharField(\n        max_length=40,\n"
                                "        unique=False,  # tessary: disable=nullable-string-field, "
                                "redundant-default-args\n    )"]]
    assert suggest.get_suggestions_for_python(atok_of(MODELS), 2, {skip}, {"line_length": 88}, "s") == []


def test_rule_tables_name_every_fix():
    from tessary.staticanalysis import transformer

    assert constants.SKIP_LINE_ID not in transformer.FIXABLE_MESSAGE_IDS
    assert constants.TRANSFORMABLE_RULES == transformer.FIXABLE_MESSAGE_IDS
    assert "C7001" in constants.TRANSFORMABLE_RULES and "C8001" in constants.TRANSFORMABLE_MIGRATION_RULES


# --------------------------------------------------------------------------
# Comment markup


def test_markup_fence_outgrows_the_code():
    assert suggest.markup_suggestion("x = 1") == "```suggestion\nx = 1\n```"
    assert suggest.markup_suggestion("") == "```suggestion\n\n```"
    assert suggest.markup_suggestion('"""\n````py\n````\n"""').startswith("`````suggestion\n")


def test_build_comment_spans_lines_only_when_it_must():
    assert suggest.build_comment("a.py", 3, 3, "b") == {"body": "b", "path": "a.py", "side": "RIGHT", "line": 3}
    assert list(suggest.build_comment("a.py", 3, 5, "b")) == ["body", "path", "side", "start_line", "line"]


def test_suggest_fixes_merges_groups_and_attaches_the_fix(tmp_path):
    root = tmp_path / "proj"
    (root / "shop").mkdir(parents=True)
    (root / "manage.py").write_text("")
    (root / "shop" / "models.py").write_text(MODELS)
    path = f"{root}/shop/models.py"
    comments = [
        {"path": path, "line": 5, "message-id": "C2002", "body": "first"},
        {"path": path, "line": "5", "message-id": "C3001", "body": "second"},
        {"path": path, "line": 9, "message-id": "C3001", "body": "plain"},
    ]
    out = suggest.suggest_fixes(comments, str(root))
    assert out == [
        {"body": "```suggestion\n    label = models.CharField(max_length=40)\n```\n\nfirst\n\nsecond",
         "path": "/shop/models.py", "side": "RIGHT", "start_line": 5, "line": 8},
        {"body": "plain", "path": "/shop/models.py", "side": "RIGHT", "line": 9},
    ]


def test_suggest_fixes_refuses_paths_outside_the_project(tmp_path):
    (tmp_path / "proj").mkdir()
    (tmp_path / "secret.py").write_text("x = 1\n")
    comment = {"path": str(tmp_path / "proj" / ".." / "secret.py"), "line": 1, "message-id": "C2002", "body": "b"}
    with pytest.raises(ValueError, match="outside the project"):
        suggest.suggest_fixes([comment], str(tmp_path / "proj"))


def test_standalone_suggestions_are_posted_once():
    before = "a\nb\nc\nd\n"
    after = "top\na\nB\nc\nD\n"
    comments = [{"path": "t.html", "line": 2, "message-id": "C7001", "body": "one"},
                {"path": "t.html", "line": 4, "message-id": "C7001", "body": "two"}]
    out = suggest.review_from_fixed_texts(comments, "", {"t.html": (before, after)})
    assert [(c.get("start_line"), c["line"], c["body"].split("\n")[1]) for c in out] == [
        (None, 1, "top"), (None, 2, "B"), (None, 4, "D")]


# --------------------------------------------------------------------------
# `tessary suggest` on a git change of the demo project

SHELF_MODELS = '''from django.db import models


class Shelf(models.Model):
    label = models.CharField(max_length=40, unique=False)
    code = models.SlugField(db_index=True)
    active = models.NullBooleanField()
'''
SHELF_PAGE = '''{% extends "base.html" %}
{% block content %}
<img src="/static/shelves/shelf.png" alt="">
<script src="/static/shelves/app.js?v=3"></script>
{% endblock %}
'''


def git(root, *args):
    subprocess.run(["git", "-c", "user.email=t@example.com", "-c", "user.name=t", *args], cwd=root, check=True,
                   capture_output=True)


@pytest.fixture
def changed_demo(tmp_path):
    root = tmp_path / "bookshop"
    shutil.copytree(DEMO, root)
    git(root, "init", "-q", "-b", "main")
    git(root, "add", "-A")
    git(root, "commit", "-qm", "base")
    git(root, "checkout", "-qb", "feature")
    (root / "shelves").mkdir()
    (root / "shelves" / "__init__.py").write_text("")
    (root / "shelves" / "models.py").write_text(SHELF_MODELS)
    (root / "templates" / "shelves").mkdir()
    (root / "templates" / "shelves" / "shelf.html").write_text(SHELF_PAGE)
    views = root / "catalog" / "views.py"
    views.write_text(views.read_text() + "\n\ndef shelf_size(request):\n    return len(Book.objects.all())\n")
    git(root, "add", "-A")
    git(root, "commit", "-qm", "shelves")
    return root


def hunk_ranges(root):
    diff = subprocess.run(["git", "diff", "-U3", "main", "--"], cwd=root, capture_output=True, text=True).stdout
    ranges, current = {}, None
    for line in diff.splitlines():
        if line.startswith("+++ "):
            current = line[6:]
        elif line.startswith("@@"):
            start, _, count = line.split("+")[1].split(" ")[0].partition(",")
            count = int(count) if count else 1
            ranges.setdefault(current, []).append((int(start), int(start) + count - 1))
    return ranges


def apply_suggestions(root, comments):
    by_file = {}
    for comment in comments:
        if "```suggestion\n" not in comment["body"]:
            continue
        code = comment["body"].split("```suggestion\n", 1)[1].split("\n```", 1)[0]
        by_file.setdefault(comment["path"], []).append((comment.get("start_line", comment["line"]), comment["line"], code))
    for path, changes in by_file.items():
        lines = (root / path).read_text().split("\n")
        for first, last, code in sorted(changes, reverse=True):
            lines[first - 1:last] = code.split("\n")
        (root / path).write_text("\n".join(lines))


def apply_patches(top, summary):
    """Applies the patches of a review's summary with git, at the
    repository's top."""
    for patch in summary.split("```diff\n")[1:]:
        (top / "summary.patch").write_text(patch.split("\n```", 1)[0] + "\n")
        git(top, "apply", "summary.patch")
        (top / "summary.patch").unlink()


def test_suggest_review_matches_what_fix_writes(changed_demo, tmp_path, capsys):
    code, out, err = run(capsys, "suggest", changed_demo, "--diff", "main", "--no-cache")
    assert code == 0, err
    review = json.loads(out)
    assert review["event"] == "COMMENT" and isinstance(review["body"], str)
    hunks = hunk_ranges(changed_demo)
    ids = set()
    for comment in review["comments"]:
        assert set(comment) <= {"body", "path", "side", "line", "start_line", "start_side"}
        first = comment.get("start_line", comment["line"])
        assert any(a <= first and comment["line"] <= b for a, b in hunks[comment["path"]]), comment
        ids.update(part.split("**")[0] for part in comment["body"].split("**C")[1:])
    bodies = "\n".join(c["body"] for c in review["comments"])
    assert "C9000" in bodies and "--unsafe-fixes" in bodies  # reported, its unsafe fix not suggested
    # The three field fixes are one-click suggestions; a template fix also
    # needs the load of the static tag library, so the summary carries it.
    assert bodies.count("```suggestion") == 3
    assert bodies.count("the review's summary has the whole fix as a patch") == 2
    assert review["body"].count("```diff") == 1  # one patch per file

    fixed = tmp_path / "fixed"
    shutil.copytree(changed_demo, fixed)
    new_files = ["shelves/models.py", "templates/shelves/shelf.html"]
    code, out, err = run(capsys, "fix", *[fixed / f for f in new_files], "--select", "C2002,C2008,C7001")
    assert code == 0, err
    apply_suggestions(changed_demo, review["comments"])
    apply_patches(changed_demo, review["body"])
    for path in new_files:
        assert (changed_demo / path).read_text() == (fixed / path).read_text(), path
    assert "{% load static %}" in (fixed / "templates/shelves/shelf.html").read_text()


class ReviewService(http.server.BaseHTTPRequestHandler):
    requests = []

    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        self.requests.append((self.path, self.headers["Authorization"], body))
        hunks = self.server.hunks
        outside = [c for c in body["comments"]
                   if not any(a <= c.get("start_line", c["line"]) and c["line"] <= b for a, b in hunks[c["path"]])]
        if outside:
            answer, status = {"message": "Unprocessable Entity",
                              "errors": ["Line could not be resolved"]}, 422
        else:
            answer, status = {"html_url": "https://github.example/r/1"}, 200
        data = json.dumps(answer).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


def test_post_sends_the_review_github_expects(changed_demo, tmp_path, capsys, monkeypatch):
    server = http.server.HTTPServer(("127.0.0.1", 0), ReviewService)
    server.hunks = hunk_ranges(changed_demo)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    event = tmp_path / "event.json"
    event.write_text(json.dumps({"pull_request": {"number": 7, "head": {"sha": "abc123"}}}))
    monkeypatch.setenv("GITHUB_TOKEN", "t0ken")
    monkeypatch.setenv("GITHUB_REPOSITORY", "shop/bookshop")
    monkeypatch.setenv("GITHUB_API_URL", f"http://127.0.0.1:{server.server_port}")
    monkeypatch.setenv("GITHUB_EVENT_PATH", str(event))
    ReviewService.requests.clear()
    try:
        code, out, err = run(capsys, "suggest", changed_demo, "--diff", "main", "--post", "--no-cache")
        assert code == 0, err
        assert "posted a review with" in err
        path, auth, body = ReviewService.requests[0]
        assert path == "/repos/shop/bookshop/pulls/7/reviews" and auth == "Bearer t0ken"
        assert body["commit_id"] == "abc123" and body["event"] == "COMMENT" and body["comments"]

        # A comment outside the hunks makes the service refuse the review.
        server.hunks = {path: [(1, 1)] for path in server.hunks}
        code, out, err = run(capsys, "suggest", changed_demo, "--diff", "main", "--post", "--no-cache")
        assert code == 2
        assert err.strip() == ("tessary: error: posting the review failed: HTTP 422: "
                               "Unprocessable Entity; Line could not be resolved")
    finally:
        server.shutdown()


def test_fix_loads_the_static_library_in_the_demo_templates(tmp_path, capsys):
    root = tmp_path / "bookshop"
    shutil.copytree(DEMO, root)
    code, out, err = run(capsys, "fix", root / "templates")
    assert code == 0, err
    page = (root / "templates" / "catalog" / "book_list.html").read_text(encoding="utf-8-sig")
    assert page.splitlines()[:4] == [
        '{% extends "base.html" %}', "{% load static %}", "{% block content %}",
        "<link rel=\"stylesheet\" href=\"{% static 'catalog/list.css' %}\">"]
    assert "Fixed 2 findings in 1 file" in out
