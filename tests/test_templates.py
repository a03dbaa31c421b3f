"""Template checks: hard-coded URLs and static URLs."""
import os

import pytest

from tessary.staticanalysis.checkers import templates


def check(tmp_path, *texts):
    paths = []
    for number, text in enumerate(texts):
        path = tmp_path / f"t{number}.html"
        path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
        paths.append(str(path))
    checker = templates.Checker()
    checker.check(paths)
    return paths, [(r["path"], r["line"], r["column"], r["message-id"], r["message"]) for r in checker.messages]


@pytest.mark.parametrize("href", ["/", "//cdn.example.com/x", "https://example.com/", "page.html", None])
def test_links_that_are_not_hard_coded(tmp_path, href):
    attr = "href" if href is None else f'href="{href}"'
    assert check(tmp_path, f"<a {attr}>x</a>")[1] == []


def test_hard_coded_link_and_static_paths(tmp_path):
    (path,), records = check(
        tmp_path,
        '<p>\n  <a href="/about/">About</a>\n'
        '<link rel="stylesheet" href="/static/site.css">\n'
        '<IMG SRC="/media/a.png" src="/media/b.png"/>\n'
        '<script src="/static/app.js"></script><iframe src="/embed/"></iframe>\n'
        '<img src="{% static \'x.png\' %}">\n',
    )
    assert records == [
        (path, 2, 2, "C7000", {}),
        (path, 3, 0, "C7001", {"path": "/static/site.css"}),
        # /media/ is outside the static prefix: uploads a view serves.
        (path, 5, 0, "C7001", {"path": "/static/app.js"}),
    ]


def test_undecodable_file_is_a_finding_and_the_next_is_read(tmp_path):
    paths, records = check(tmp_path, b'\xff\xfe<a href="/x">', '<a href="/y">y</a>', b'\xef\xbb\xbf<a href="/z">')
    assert records == [
        (paths[0], 1, 0, "F0001", {"reason": "it is not valid UTF-8 text (byte 0xff at line 1, column 1)"}),
        (paths[1], 1, 0, "C7000", {}),
        (paths[2], 1, 0, "C7000", {}),  # a UTF-8 byte-order mark is allowed
    ]


def test_record_shape_and_predicate(tmp_path):
    checker = templates.Checker()
    path = tmp_path / "a.html"
    path.write_text('<a href="/x">')
    checker.check([str(path)])
    (record,) = checker.messages
    assert list(record) == ["path", "line", "message", "type", "column", "module", "symbol", "hint", "message-id"]
    assert templates.is_hardcoded_path("/{{ x }}/") and not templates.is_hardcoded_path("")
    assert templates.Codes.C7000 == "C7000" and templates.Codes.C7001 == "C7001"


def test_only_html_a_template_loader_finds_is_checked(tmp_path):
    from tessary.staticanalysis import checker

    root = tmp_path / "site"
    (root / "conf").mkdir(parents=True)
    (root / "manage.py").write_text('import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "conf.settings")\n')
    (root / "conf" / "__init__.py").write_text("")
    (root / "conf" / "settings.py").write_text(
        'INSTALLED_APPS = ["shop"]\nDATABASES = {}\nSTATIC_URL = "/assets/"\n'
        'TEMPLATES = [{"BACKEND": "django.template.backends.django.DjangoTemplates",\n'
        '              "DIRS": [BASE_DIR / "frontend" / "pages"]}]\n')
    page = '<a href="/about/">x</a><img src="/assets/i.png"><img src="/static/j.png">\n'
    files = ["shop/templates/shop/page.html", "frontend/pages/home.html", "shop/static/shop/row.html",
             "jinja2/page.html", "docs/page.html"]
    for name in files:
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(page)
    records = checker.get_html_messages(str(root), {name: None for name in files})
    found = sorted((os.path.relpath(r["path"], root), r["message-id"], r["message"].get("path")) for r in records)
    # Static files, Jinja2 templates and documentation are not Django
    # templates; /static/ is not this site's static prefix.
    assert found == [
        ("frontend/pages/home.html", "C7000", None), ("frontend/pages/home.html", "C7001", "/assets/i.png"),
        ("shop/templates/shop/page.html", "C7000", None), ("shop/templates/shop/page.html", "C7001", "/assets/i.png"),
    ]


def test_a_static_path_is_fixable_only_where_the_fix_rewrites_it(tmp_path):
    """Without a STATIC_URL the site serves, the static tag would write an
    unknown prefix: check reports the path but does not call it fixable,
    and fix leaves it; with one, both agree the other way."""
    from tessary.staticanalysis import checker, transformer

    for static_url, fixed in ((None, False), ('"/static/"', True)):
        root = tmp_path / str(fixed) / "site"
        (root / "conf").mkdir(parents=True)
        (root / "manage.py").write_text('import os\nos.environ.setdefault("DJANGO_SETTINGS_MODULE", "conf.settings")\n')
        (root / "conf" / "__init__.py").write_text("")
        settings = 'INSTALLED_APPS = ["shop"]\n' + (f"STATIC_URL = {static_url}\n" if static_url else "")
        (root / "conf" / "settings.py").write_text(settings)
        page = root / "shop" / "templates" / "page.html"
        page.parent.mkdir(parents=True)
        page.write_text('<img src="/static/i.png">\n<img src="/static/{{ name }}.png">\n')
        records = checker.get_html_messages(str(root), {"shop/templates/page.html": None})
        # The second path holds template syntax the tag cannot take.
        assert [(r["message-id"], r["fixable"]) for r in records] == [("C7001", fixed), ("C7001", False)]
        unsaved = checker.lint_source(str(root), "shop/templates/page.html", page.read_text())
        assert [r["fixable"] for r in unsaved] == [fixed, False]
        result = transformer.fix_project(str(root), {"shop/templates/page.html": None}, "conf.settings",
                                         {"line_length": 88})
        assert result["fixed"] == ({"C7001": 1} if fixed else {})
