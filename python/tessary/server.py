"""`tessary server`: findings and fixes in the editor, over the Language
Server Protocol on stdin and stdout. A thin front end: the lint of an
unsaved text and its fixes are the compiled modules' (`lint_source`,
`fix_source`), the same `check` and `fix` use.

What the server keeps between requests: each project's facts (its root,
configuration, analysed environment and Django release) and the modules of
Django and the other libraries that inference built. No tree of the
project's own modules outlives the lint that built it, so an edit, in the
editor or on disk, can never leave a stale result behind, and memory stays
bounded by the libraries the projects use."""
import asyncio
import logging
import os
import pathlib
import urllib.parse

from lsprotocol import types as lsp
from pygls.lsp.server import LanguageServer
from pygls.uris import to_fs_path

import tessary

# How long the text must rest after a change before it is linted.
CHANGE_PAUSE = 0.1
SOURCE = "tessary"
FIX_ALL = "source.fixAll.tessary"


class Project:
    """One project's facts, read once: what `check` reads before linting."""

    def __init__(self, root, how, python):
        from tessary import cli, meta
        from tessary.rules import rule_catalogue
        from tessary.runner import project_django_version

        self.root = pathlib.Path(root)
        self.how = how
        self.catalogue = rule_catalogue()
        self.settings = cli.front_end_settings(self.root)
        self.exclude = self.settings.get("exclude", [])
        self.environment = cli.analysed_environment(self.root, python or self.settings.get("python"))
        self.django_version = project_django_version(self.root, self.environment)
        self.settings_modpath = meta.get_settings_modpath(str(self.root))
        self.code_style = meta.get_code_style(str(self.root))
        self.selection = None

    def select(self, options):
        """The selection `check` makes, with the client's select and ignore
        (lists or comma-separated texts) for the command line's."""
        from tessary import cli

        def joined(value):
            return ",".join(value) if isinstance(value, (list, tuple)) else value

        args = type("Options", (), {
            "select": joined(options.get("select")), "ignore": joined(options.get("ignore")),
            "extend_select": joined(options.get("extendSelect")),
            "extend_ignore": joined(options.get("extendIgnore")),
        })()
        per_file = [(pattern, cli.resolve_ids(cli.configured_list(names), self.catalogue))
                    for pattern, names in self.settings.get("per-file-ignores", {}).items()]
        self.selection = cli.Selection(cli.chosen_ids(args, self.settings, "select", self.catalogue),
                                       cli.chosen_ids(args, self.settings, "ignore", self.catalogue), per_file)

    def relative(self, path):
        """The project-relative path of a file to lint, or None for a file
        that is not one (outside the project, excluded, not a module or a
        template)."""
        from tessary import meta

        try:
            relative = pathlib.Path(os.path.abspath(path)).relative_to(self.root).as_posix()
        except ValueError:
            return None
        if not relative.endswith((".py", ".html")) or meta.path_matches(self.exclude, relative):
            return None
        if any(meta.skipped_folder(part) for part in pathlib.PurePosixPath(relative).parts[:-1]):
            return None
        return relative

    def lint(self, relative, text):
        """The findings of the text, as `check` reports them: records with
        their advice, fix grade and symbol."""
        from tessary import render
        from tessary.rules import fix_grade
        from tessary.staticanalysis import checker

        records = checker.lint_source(str(self.root), relative, text, self.django_version,
                                      self.environment["paths"])
        records = self.selection.wanted(records)
        entries = render.render_message_centric_advice(
            messages=records, project_root=str(self.root), settings={}, settings_modpath="", code_style={},
            code_reader=lambda path: text)
        for entry, record in zip(entries, records):
            entry["symbol"] = record.get("symbol") or self.catalogue.get(entry["message-id"], {}).get("symbol", "")
            entry["fix"] = fix_grade(entry["message-id"]) if entry.get("fixable") else None
            entry["endLine"], entry["endColumn"] = record.get("endLine"), record.get("endColumn")
        return entries

    def fix(self, relative, text, ids, lines=None):
        """The text with the fixes of `ids` (on `lines`) made, as `fix`
        makes them, or None when nothing changes."""
        from tessary.staticanalysis import transformer

        result = transformer.fix_source(str(self.root), relative, text, ids=sorted(ids), lines=lines,
                                        settings_modpath=self.settings_modpath, code_style=self.code_style,
                                        search_paths=self.environment["paths"],
                                        django_version=self.django_version)
        return result["text"] if result["text"] != text and not result["refused"] else None


class TessaryServer(LanguageServer):
    def __init__(self):
        super().__init__(SOURCE, tessary.__version__)
        self.options = {}
        self.python = None
        self.projects = {}  # folder of a document -> Project, or the error it gave
        self.versions = {}  # uri -> the newest version handed in
        self.warned = set()

    def project_of(self, path):
        """The project a file belongs to (found as `check` finds it), or None."""
        from tessary import cli

        folder = os.path.dirname(os.path.abspath(path))
        if folder not in self.projects:
            try:
                root, how = cli.find_project_root(folder)
                known = next((p for p in self.projects.values()
                              if isinstance(p, Project) and str(p.root) == str(root)), None)
                project = known or Project(root, how, self.options.get("python") or self.python)
                project.select(self.options)
                if not project.environment["django"] and str(project.root) not in self.warned:
                    self.warned.add(str(project.root))
                    self.window_show_message(lsp.ShowMessageParams(
                        type=lsp.MessageType.Warning,
                        message=f"tessary: Django is not installed in {cli.describe_environment(project.environment)}"
                                ", so no Python check can recognise a model; set the 'python' option to the "
                                "project's virtual environment."))
                self.projects[folder] = project
            except Exception as error:  # a configuration error: said once, nothing linted
                self.projects[folder] = error
                self.window_show_message(lsp.ShowMessageParams(type=lsp.MessageType.Error,
                                                               message=f"tessary: {error}"))
        project = self.projects[folder]
        return project if isinstance(project, Project) else None

    def target(self, uri):
        """(document, project, relative path) for a document to lint, or None."""
        if not uri.startswith("file:"):
            return None
        document = self.workspace.get_text_document(uri)
        path = to_fs_path(uri)
        project = self.project_of(path) if path else None
        relative = project.relative(path) if project else None
        return (document, project, relative) if relative else None

    def publish(self, uri):
        """Lint the document's text as it is now and publish what was found,
        unless the text changed meanwhile (its newer version is published)."""
        found = self.target(uri)
        if not found:
            return
        document, project, relative = found
        version = document.version
        try:
            entries = project.lint(relative, document.source)
        except Exception as error:  # the server stays up; the editor is told
            logging.getLogger(__name__).exception("linting %s failed", relative)
            self.window_log_message(lsp.LogMessageParams(type=lsp.MessageType.Error,
                                                         message=f"tessary: linting {relative} failed: {error}"))
            return
        if self.workspace.get_text_document(uri).version != version:
            return
        diagnostics = [diagnostic(document, entry) for entry in entries]
        self.text_document_publish_diagnostics(
            lsp.PublishDiagnosticsParams(uri=uri, version=version, diagnostics=diagnostics))

    def publish_open(self, except_uri=None):
        """Lint every open document afresh: a module another imports has
        changed, and what the importer is told may change with it."""
        for uri in list(self.workspace.text_documents):
            if uri != except_uri:
                self.publish(uri)


def diagnostic(document, entry):
    lines = document.lines
    first = max((entry.get("line") or 1) - 1, 0)
    start = lsp.Position(line=first, character=characters(lines, first, entry.get("column") or 0, entry))
    end_line, end_column = entry.get("endLine"), entry.get("endColumn")
    if end_line is None or end_column is None:
        text = lines[first] if first < len(lines) else ""
        end = lsp.Position(line=first, character=len(text.rstrip("\r\n")))
    else:
        last = max(end_line - 1, first)
        end = lsp.Position(line=last, character=characters(lines, last, end_column, entry))
    range_ = document.position_codec.range_to_client_units(lines, lsp.Range(start=start, end=end))
    msgid = entry["message-id"]
    fatal = msgid.startswith(("E", "F"))
    message = entry.get("advice") or entry.get("symbol") or msgid
    if entry.get("fix") == "unsafe":
        message += " (unsafe fix available)"
    elif entry.get("fix"):
        message += " (fix available)"
    return lsp.Diagnostic(
        range=range_, message=message, source=SOURCE, code=msgid,
        severity=lsp.DiagnosticSeverity.Error if fatal else lsp.DiagnosticSeverity.Warning,
        data={"id": msgid, "symbol": entry.get("symbol", ""), "fix": entry.get("fix"),
              "line": entry.get("line") or 1})


def characters(lines, line, column, entry):
    """A column as characters of the line: the parser counts a module's
    columns in UTF-8 bytes, the template checks count characters."""
    if line >= len(lines):
        return 0
    text = lines[line]
    if entry.get("path", "").endswith(".html"):
        return min(column, len(text))
    return len(text.encode("utf-8")[:column].decode("utf-8", errors="ignore"))


def whole_edit(document, new_text):
    """The edit that makes the document `new_text`: the lines between the
    first and the last that differ, replaced."""
    old = document.source.splitlines(True)
    new = new_text.splitlines(True)
    head = 0
    while head < min(len(old), len(new)) and old[head] == new[head]:
        head += 1
    tail = 0
    while tail < min(len(old), len(new)) - head and old[-1 - tail] == new[-1 - tail]:
        tail += 1
    replaced = lsp.Range(start=lsp.Position(line=head, character=0),
                         end=lsp.Position(line=len(old) - tail, character=0))
    return lsp.TextEdit(range=replaced, new_text="".join(new[head:len(new) - tail]))


def action(title, kind, document, edit, **fields):
    """A code action that makes one edit of the document, at its version."""
    change = lsp.TextDocumentEdit(
        text_document=lsp.OptionalVersionedTextDocumentIdentifier(uri=document.uri, version=document.version),
        edits=[edit])
    return lsp.CodeAction(title=title, kind=kind, edit=lsp.WorkspaceEdit(document_changes=[change]), **fields)


def disable_edit(document, relative, line, msgid):
    """The comment that silences `msgid` on its line: `# noqa: ID` in a
    module (added to the line's noqa list if it has one), the template
    pragma in a template. None where a comment cannot go (a line continued
    with a backslash)."""
    lines = document.lines
    if line >= len(lines):
        return None
    text = lines[line]
    body = text.rstrip("\r\n")
    if relative.endswith(".html"):
        added = f" {{# tessary: disable={msgid} #}}"
    else:
        if body.rstrip().endswith("\\"):
            return None
        at = body.find("# noqa:")
        if at >= 0:
            added = f", {msgid}"
        else:
            added = f"  # noqa: {msgid}" if "#" not in body else f" # noqa: {msgid}"
    position = document.position_codec.position_to_client_units(lines, lsp.Position(line=line, character=len(body)))
    return lsp.TextEdit(range=lsp.Range(start=position, end=position), new_text=added)


server = TessaryServer()


# Linted once while the client waits for the server to start: it builds
# the modules of Django that inference needs, so that the first file opened
# is linted as fast as any other.
WARM_UP = """from django.db import models


class WarmUp(models.Model):
    name = models.CharField(max_length=10)
"""


@server.feature(lsp.INITIALIZE)
def initialize(ls: TessaryServer, params: lsp.InitializeParams):
    options = params.initialization_options
    ls.options = dict(options) if isinstance(options, dict) else {}
    folders = [to_fs_path(folder.uri) for folder in params.workspace_folders or []]
    if not folders and params.root_uri:
        folders = [to_fs_path(params.root_uri)]
    for folder in filter(None, folders[:1]):
        project = ls.project_of(os.path.join(folder, "__init__.py"))
        if project is not None and project.environment["django"]:
            try:
                project.lint("tessary_warm_up.py", WARM_UP)
            except Exception:  # only a head start: the first lint builds them anyway
                logging.getLogger(__name__).exception("warming up failed")


@server.feature(lsp.INITIALIZED)
async def initialized(ls: TessaryServer, params: lsp.InitializedParams):
    """Ask the client to tell of files changed on disk (a checkout, another
    editor, a formatter), where it lets servers ask."""
    workspace = ls.client_capabilities.workspace
    watched = workspace and workspace.did_change_watched_files
    if not (watched and watched.dynamic_registration):
        return
    watchers = [lsp.FileSystemWatcher(glob_pattern=pattern)
                for pattern in ("**/*.py", "**/*.html", "**/pyproject.toml", "**/requirements*.txt")]
    await ls.client_register_capability_async(lsp.RegistrationParams(registrations=[lsp.Registration(
        id="tessary-watched-files", method=lsp.WORKSPACE_DID_CHANGE_WATCHED_FILES,
        register_options=lsp.DidChangeWatchedFilesRegistrationOptions(watchers=watchers))]))


@server.feature(lsp.TEXT_DOCUMENT_DID_OPEN)
def did_open(ls: TessaryServer, params: lsp.DidOpenTextDocumentParams):
    ls.versions[params.text_document.uri] = params.text_document.version
    ls.publish(params.text_document.uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_CHANGE)
async def did_change(ls: TessaryServer, params: lsp.DidChangeTextDocumentParams):
    uri, version = params.text_document.uri, params.text_document.version
    ls.versions[uri] = version
    await asyncio.sleep(CHANGE_PAUSE)
    if ls.versions.get(uri) == version:  # else a newer change is on its way
        ls.publish(uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_SAVE)
def did_save(ls: TessaryServer, params: lsp.DidSaveTextDocumentParams):
    ls.publish(params.text_document.uri)
    ls.publish_open(except_uri=params.text_document.uri)


@server.feature(lsp.TEXT_DOCUMENT_DID_CLOSE)
def did_close(ls: TessaryServer, params: lsp.DidCloseTextDocumentParams):
    ls.versions.pop(params.text_document.uri, None)
    ls.text_document_publish_diagnostics(lsp.PublishDiagnosticsParams(uri=params.text_document.uri, diagnostics=[]))


@server.feature(lsp.WORKSPACE_DID_CHANGE_WATCHED_FILES)
def did_change_watched_files(ls: TessaryServer, params: lsp.DidChangeWatchedFilesParams):
    # A configuration file changed: the projects' facts are read again.
    if any(urllib.parse.unquote(change.uri).endswith(("pyproject.toml", "requirements.txt", "manage.py"))
           for change in params.changes):
        ls.projects.clear()
    ls.publish_open()


@server.feature(lsp.TEXT_DOCUMENT_HOVER)
def hover(ls: TessaryServer, params: lsp.HoverParams):
    """Over a finding: what `tessary explain` says of its rule."""
    from tessary.cli import explanation

    found = ls.target(params.text_document.uri)
    if not found:
        return None
    document, project, relative = found
    line = params.position.line
    entries = [e for e in project.lint(relative, document.source) if (e.get("line") or 1) - 1 <= line
               <= max((e.get("endLine") or e.get("line") or 1) - 1, (e.get("line") or 1) - 1)]
    texts = ["\n".join(explanation(e["message-id"], project.catalogue)) for e in entries
             if e["message-id"] in project.catalogue]
    if not texts:
        return None
    return lsp.Hover(contents=lsp.MarkupContent(kind=lsp.MarkupKind.PlainText, value="\n\n".join(texts)))


@server.feature(
    lsp.TEXT_DOCUMENT_CODE_ACTION,
    lsp.CodeActionOptions(code_action_kinds=[lsp.CodeActionKind.QuickFix, FIX_ALL], resolve_provider=False))
def code_action(ls: TessaryServer, params: lsp.CodeActionParams):
    found = ls.target(params.text_document.uri)
    if not found:
        return None
    document, project, relative = found
    wanted = params.context.only
    actions = []
    if not wanted or any(kind == lsp.CodeActionKind.QuickFix or kind.startswith("quickfix") for kind in wanted):
        for diagnostic_ in params.context.diagnostics:
            if diagnostic_.source != SOURCE or not isinstance(diagnostic_.data, dict):
                continue
            msgid, grade = diagnostic_.data.get("id"), diagnostic_.data.get("fix")
            line = diagnostic_.data.get("line") or diagnostic_.range.start.line + 1
            if grade:
                fixed = project.fix(relative, document.source, {msgid}, [line])
                if fixed is not None:
                    title = f"Fix {msgid} ({diagnostic_.data.get('symbol')})"
                    if grade == "unsafe":
                        title += ": unsafe, it can change what the program does or stores"
                    actions.append(action(title, lsp.CodeActionKind.QuickFix, document, whole_edit(document, fixed),
                                          diagnostics=[diagnostic_], is_preferred=grade == "safe"))
            edit = disable_edit(document, relative, line - 1, msgid)
            if edit:
                actions.append(action(f"Disable {msgid} for this line", lsp.CodeActionKind.QuickFix, document, edit,
                                      diagnostics=[diagnostic_]))
    if not wanted or any(FIX_ALL.startswith(kind) for kind in wanted):
        safe = {msgid for msgid in project.selection.select or project.catalogue
                if project.catalogue.get(msgid, {}).get("fix_grade") == "safe"}
        safe -= project.selection.ignored_in(relative)
        fixed = project.fix(relative, document.source, safe) if safe else None
        if fixed is not None:
            actions.append(action("Fix all safe tessary findings", FIX_ALL, document, whole_edit(document, fixed)))
    return actions


def serve(args):
    # The process never touches the project's files: it reads them only.
    logging.getLogger().addHandler(logging.NullHandler())
    import tessary.staticanalysis.shims  # noqa: F401  (once, before any lint)

    server.python = args.python
    server.start_io()
    return 0
