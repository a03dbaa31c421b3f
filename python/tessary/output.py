"""The report formats of `tessary check` (text, json, github, sarif), the
version-advice line and the diff `tessary fix --diff` prints. Text names
files as the working directory reaches them; the other formats keep the
project-relative paths."""
import json
import os
import pathlib
import sys

import tessary
from tessary.terminal import git_quoted, printable


def display_root(root, start):
    """The project root as the command line reached it: the nearest folder
    at or above `start` (as given, made absolute without resolving links)
    that is the root once links are resolved, else the root itself. A file
    below a symlinked folder then keeps the name the user typed."""
    if start is None:
        return pathlib.Path(root)
    given = pathlib.Path(os.path.abspath(start))
    for candidate in (given, *given.parents):
        if os.path.realpath(candidate) == os.path.realpath(root):
            return candidate
    return pathlib.Path(root)


class ShownPaths:
    """Project-relative paths as text output names them: relative to the
    working directory, as editors and terminals resolve them
    (`models.py` from inside `shop/`, `proj/shop/models.py` from above the
    project)."""

    def __init__(self, root, start=None, cwd=None):
        self.base = display_root(root, start)
        self.cwd = cwd if cwd is not None else os.getcwd()

    def __call__(self, path):
        full = os.path.join(self.base, path)
        try:
            return os.path.relpath(full, self.cwd)
        except ValueError:  # another drive
            return full


def advice_entries(records, root):
    from tessary import render

    return render.render_message_centric_advice(
        messages=records, project_root=str(root), settings={}, settings_modpath="", code_style={},
        code_reader=lambda path: (root / path).read_text(encoding="utf-8"),
    )


def symbol_of(record, catalogue):
    return record.get("symbol") or catalogue.get(record["message-id"], {}).get("symbol", "")


def format_text(entries, catalogue, files, statistics, colour, quiet=False, shown=None):
    """One line per finding, `path:line:column:` first (`shown` names the
    path: by default, project-relative), then the statistics and summary."""
    shown = shown or (lambda path: path)

    def paint(text, code):
        return f"\033[{code}m{text}\033[0m" if colour else text

    lines = []
    for entry in entries:
        # Columns count from 1, as editors do (JSON keeps pylint's 0-based column).
        where = paint(f"{printable(shown(entry['path']))}:{entry['line']}:{entry['column'] + 1}:", "1")
        msgid = paint(entry["message-id"], "31")
        fixable = ""
        if entry["fixable"]:
            fixable = "  " + paint("[unsafe fix]" if entry.get("fix") == "unsafe" else "[fixable]", "36")
        lines.append(f"{where} {msgid} {entry['symbol']}  {printable(entry['advice'])}{fixable}")
    if statistics and entries:
        counts = {}
        for entry in entries:
            counts[entry["message-id"]] = counts.get(entry["message-id"], 0) + 1
        lines.append("")
        for msgid, count in sorted(counts.items()):
            lines.append(f"{count:6}  {msgid}  {catalogue.get(msgid, {}).get('symbol', '')}")
    if quiet:
        return "\n".join(lines)
    fixable = sum(1 for e in entries if e["fixable"])
    unsafe = sum(1 for e in entries if e["fixable"] and e.get("fix") == "unsafe")
    failed = len({e["path"] for e in entries if e["message-id"].startswith("F")})
    files -= failed
    noun = "file" if files == 1 else "files"
    if entries:
        found = "finding" if len(entries) == 1 else "findings"
        grades = f", {unsafe} of them with --unsafe-fixes" if unsafe else ""
        lines.append(f"Found {len(entries)} {found} ({fixable} fixable{grades}) in {files} {noun}.")
    else:
        lines.append(f"No findings in {files} {noun}.")
    if failed:
        lines.append(f"{failed} {'file' if failed == 1 else 'files'} could not be analysed (F0001).")
    return "\n".join(lines)


def format_json(entries):
    """A JSON array with one finding per line."""
    if not entries:
        return "[]"
    return "[\n" + ",\n".join("  " + json.dumps(entry, default=str) for entry in entries) + "\n]"


def github_escape(text, property_value=False):
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if property_value:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


def format_github(entries, prefix=""):
    """GitHub workflow commands; `prefix` (the project's folder in its
    repository) makes the paths repository-relative."""
    lines = []
    for entry in entries:
        props = ",".join(
            f"{key}={github_escape(str(value), property_value=True)}"
            for key, value in (
                ("file", printable(prefix + entry["path"])), ("line", entry["line"]), ("col", entry["column"] + 1),
                ("title", f"{entry['message-id']} {entry['symbol']}"),
            )
        )
        level = "error" if entry["message-id"][0] in "EF" else "warning"
        lines.append(f"::{level} {props}::{github_escape(printable(entry['advice']))}")
    return "\n".join(lines)


def sarif_uri(path):
    """A project-relative path as the relative URI reference SARIF wants:
    percent-encoded (a file named pct%41.html is not pctA.html), its bytes
    as they are on disk."""
    from urllib.parse import quote

    return quote(os.fsencode(path), safe="/")


def format_sarif(entries, catalogue, prefix=""):
    """SARIF 2.1.0. Paths are relative to %SRCROOT%: the top of the git
    repository (`prefix` is the project's folder in it), else the project
    root."""
    in_repository = prefix is not None
    prefix = prefix or ""
    used = sorted({entry["message-id"] for entry in entries})
    index = {msgid: position for position, msgid in enumerate(used)}
    rules = []
    for msgid in used:
        rule = catalogue.get(msgid, {"symbol": msgid, "description": msgid, "finds": msgid, "why": ""})
        rules.append({
            "id": msgid,
            "name": rule["symbol"],
            "shortDescription": {"text": rule["description"]},
            "fullDescription": {"text": rule["finds"]},
            "help": {"text": f"{rule['finds']} {rule['why']}".strip()},
        })
    results = []
    for entry in entries:
        results.append({
            "ruleId": entry["message-id"],
            "ruleIndex": index[entry["message-id"]],
            "level": "error" if entry["message-id"][0] in "EF" else "warning",
            "message": {"text": entry["advice"] or entry["symbol"]},
            "locations": [{
                "physicalLocation": {
                    "artifactLocation": {"uri": sarif_uri(prefix + entry["path"]), "uriBaseId": "%SRCROOT%"},
                    "region": {"startLine": max(entry["line"], 1), "startColumn": entry["column"] + 1},
                }
            }],
        })
    document = {
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "version": "2.1.0",
        "runs": [{
            "tool": {"driver": {"name": "tessary", "version": tessary.__version__, "rules": rules}},
            "originalUriBaseIds": {"%SRCROOT%": {"description": {
                "text": "the top of the git repository" if in_repository else "the project root"}}},
            "results": results,
        }],
    }
    return json.dumps(document, indent=2)


def print_version_advice(records):
    if not records:
        print("No Django requirement found in the project's dependency files.", file=sys.stderr)
        return
    body = records[0]["body"]
    print(
        f"Django requirement {printable(body['specs'] or '(unpinned)')} in {printable(records[0]['path'])}: "
        f"oldest admitted minor version {body['minor']}; "
        f"{len(body['matching_versions'])} known releases from 2.0 on match.",
        file=sys.stderr,
    )


def unified_diff(path, before, after):
    import difflib

    lines = []
    for line in difflib.unified_diff(
        before.splitlines(keepends=True), after.splitlines(keepends=True), git_quoted(f"a/{path}"),
        git_quoted(f"b/{path}"),
    ):
        if not line.endswith(("\n", "\r")):
            line += "\n\\ No newline at end of file\n"
        lines.append(line)
    return "".join(lines)
