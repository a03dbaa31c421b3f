"""`tessary server` driven end to end by a real protocol client over stdio:
diagnostics on open and change, quick fixes that make the bytes `tessary
fix` writes, importers linted afresh, and a module that does not parse."""
import os
import pathlib
import sys

import pytest
import pytest_lsp
from lsprotocol import types as lsp
from pytest_lsp import ClientServerConfig, LanguageClient, client_capabilities

from tessary.staticanalysis import transformer

TESSARY = str(pathlib.Path(sys.executable).with_name("tessary"))

MANAGE = '''import os
os.environ.setdefault("DJANGO_SETTINGS_MODULE", "site_conf.settings")
'''
MODELS = '''from django.db import models


class Book(models.Model):
    title = models.CharField(max_length=100)
    in_print = models.NullBooleanField()
'''
VIEWS = '''from shop.models import Book


def any_books():
    return Book.objects.all().count() > 0
'''


def make_site(root):
    (root / "shop").mkdir(parents=True)
    (root / "site_conf").mkdir()
    (root / "manage.py").write_text(MANAGE)
    (root / "requirements.txt").write_text("django==5.2\n")
    (root / "site_conf" / "__init__.py").write_text("")
    (root / "site_conf" / "settings.py").write_text('INSTALLED_APPS = ["shop"]\nSTATIC_URL = "/static/"\n')
    (root / "shop" / "__init__.py").write_text("")
    (root / "shop" / "models.py").write_text(MODELS)
    (root / "shop" / "views.py").write_text(VIEWS)
    return root


@pytest_lsp.fixture(config=ClientServerConfig(server_command=[TESSARY, "server"],
                                              server_env={**os.environ, "PYTHONUNBUFFERED": "1"}))
async def client(lsp_client: LanguageClient):
    lsp_client.registered = []

    @lsp_client.feature(lsp.CLIENT_REGISTER_CAPABILITY)
    def register(params: lsp.RegistrationParams):
        lsp_client.registered.extend(params.registrations)

    await lsp_client.initialize_session(lsp.InitializeParams(capabilities=client_capabilities("visual-studio-code")))
    yield
    await lsp_client.shutdown_session()


def uri_of(path):
    return path.resolve().as_uri()


async def opened(client, path, text=None, version=1):
    uri = uri_of(path)
    client.text_document_did_open(lsp.DidOpenTextDocumentParams(text_document=lsp.TextDocumentItem(
        uri=uri, language_id="python", version=version, text=path.read_text() if text is None else text)))
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    return uri


async def changed(client, uri, text, version):
    client.text_document_did_change(lsp.DidChangeTextDocumentParams(
        text_document=lsp.VersionedTextDocumentIdentifier(uri=uri, version=version),
        content_changes=[lsp.TextDocumentContentChangeWholeDocument(text=text)]))
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)


def codes(client, uri):
    return sorted((d.range.start.line + 1, d.code) for d in client.diagnostics[uri])


def applied(text, edit):
    lines = text.splitlines(True)

    def offset(position):
        return sum(len(line) for line in lines[:position.line]) + position.character

    return text[:offset(edit.range.start)] + edit.new_text + text[offset(edit.range.end):]


@pytest.mark.asyncio
async def test_a_quick_fix_makes_what_fix_writes(client: LanguageClient, tmp_path):
    root = make_site(tmp_path / "site")
    models = root / "shop" / "models.py"
    uri = await opened(client, models)
    assert codes(client, uri) == [(6, "C2008")]
    (found,) = client.diagnostics[uri]
    assert found.source == "tessary" and found.severity == lsp.DiagnosticSeverity.Warning
    assert "NullBooleanField is deprecated" in found.message

    hover = await client.text_document_hover_async(lsp.HoverParams(
        text_document=lsp.TextDocumentIdentifier(uri=uri), position=found.range.start))
    assert "C2008 deprecated-nullboolean-field" in hover.contents.value

    actions = await client.text_document_code_action_async(lsp.CodeActionParams(
        text_document=lsp.TextDocumentIdentifier(uri=uri), range=found.range,
        context=lsp.CodeActionContext(diagnostics=[found])))
    by_title = {action.title: action for action in actions}
    fix = by_title["Fix C2008 (deprecated-nullboolean-field)"]
    assert fix.is_preferred and "Disable C2008 for this line" in by_title
    (edit,) = fix.edit.document_changes[0].edits
    fixed = applied(MODELS, edit)
    # The same bytes `tessary fix` writes.
    written = transformer.fix_project(str(root), None, "site_conf.settings", {"line_length": 88})["files"]
    assert [(text, path) for text, path in written if path == "shop/models.py"] == [(fixed, "shop/models.py")]

    await changed(client, uri, fixed, 2)
    assert codes(client, uri) == []
    # The unsaved text was linted; the file is as it was.
    assert models.read_text() == MODELS

    (disable,) = by_title["Disable C2008 for this line"].edit.document_changes[0].edits
    await changed(client, uri, applied(MODELS, disable), 3)
    assert codes(client, uri) == []


@pytest.mark.asyncio
async def test_an_importer_is_linted_afresh_when_a_module_it_imports_changes(client: LanguageClient, tmp_path):
    root = make_site(tmp_path / "site")
    views = await opened(client, root / "shop" / "views.py")
    assert codes(client, views) == [(5, "C9002")]
    # The server asked to be told of modules changed on disk.
    (watching,) = [r for r in client.registered if r.method == lsp.WORKSPACE_DID_CHANGE_WATCHED_FILES]
    assert "**/*.py" in [w["globPattern"] for w in watching.register_options["watchers"]]
    # Book is no longer a model: its objects are no queryset.
    (root / "shop" / "models.py").write_text("class Book:\n    objects = None\n")
    client.workspace_did_change_watched_files(lsp.DidChangeWatchedFilesParams(changes=[lsp.FileEvent(
        uri=uri_of(root / "shop" / "models.py"), type=lsp.FileChangeType.Changed)]))
    await client.wait_for_notification(lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
    assert codes(client, views) == []


@pytest.mark.asyncio
async def test_a_module_that_does_not_parse_is_a_diagnostic_and_the_server_goes_on(client: LanguageClient,
                                                                                      tmp_path):
    root = make_site(tmp_path / "site")
    broken = root / "shop" / "broken.py"
    broken.write_text("def broken(:\n    pass\n")
    uri = await opened(client, broken)
    (found,) = client.diagnostics[uri]
    assert found.code == "E0001" and found.severity == lsp.DiagnosticSeverity.Error
    models = await opened(client, root / "shop" / "models.py")
    assert codes(client, models) == [(6, "C2008")]
    # A file outside any lint (not a module or a template) gets nothing.
    notes = root / "notes.txt"
    notes.write_text("hello\n")
    client.text_document_did_open(lsp.DidOpenTextDocumentParams(text_document=lsp.TextDocumentItem(
        uri=uri_of(notes), language_id="plaintext", version=1, text="hello\n")))
    actions = await client.text_document_code_action_async(lsp.CodeActionParams(
        text_document=lsp.TextDocumentIdentifier(uri=uri_of(notes)),
        range=lsp.Range(start=lsp.Position(line=0, character=0), end=lsp.Position(line=0, character=1)),
        context=lsp.CodeActionContext(diagnostics=[])))
    assert not actions


@pytest.mark.asyncio
async def test_templates_and_fix_all(client: LanguageClient, tmp_path):
    root = make_site(tmp_path / "site")
    page = root / "shop" / "templates" / "shop" / "page.html"
    page.parent.mkdir(parents=True)
    html = '<link href="/static/site.css" rel="stylesheet">\n<a href="/home/">home</a>\n'
    page.write_text(html)
    uri = await opened(client, page)
    assert codes(client, uri) == [(1, "C7001")]
    (found,) = client.diagnostics[uri]
    actions = await client.text_document_code_action_async(lsp.CodeActionParams(
        text_document=lsp.TextDocumentIdentifier(uri=uri), range=found.range,
        context=lsp.CodeActionContext(diagnostics=[found])))
    (edit,) = next(a for a in actions if a.title.startswith("Fix C7001")).edit.document_changes[0].edits
    assert applied(html, edit) == ('{% load static %}\n<link href="{% static \'site.css\' %}" rel="stylesheet">\n'
                                   '<a href="/home/">home</a>\n')

    # Fix all: the safe fixes of the file, and no unsafe one.
    models = root / "shop" / "models.py"
    text = MODELS + "    published = models.DateField(null=True)\n"
    uri = await opened(client, models, text)
    assert codes(client, uri) == [(6, "C2008"), (7, "C2003")]
    actions = await client.text_document_code_action_async(lsp.CodeActionParams(
        text_document=lsp.TextDocumentIdentifier(uri=uri),
        range=lsp.Range(start=lsp.Position(line=0, character=0), end=lsp.Position(line=0, character=0)),
        context=lsp.CodeActionContext(diagnostics=[], only=["source.fixAll.tessary"])))
    (fix_all,) = actions
    (edit,) = fix_all.edit.document_changes[0].edits
    assert applied(text, edit) == text.replace("NullBooleanField()", "BooleanField(null=True)")
