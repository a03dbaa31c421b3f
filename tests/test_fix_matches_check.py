"""A fix belongs to its finding: on the demo project and on Django's own
contrib packages, `check` marks a finding fixable exactly when `fix`
changes that finding's statement, `fix` changes nothing else (but the
import or template-library load a fix needs), and the two commands count
the same findings."""
import ast
import json
import pathlib
import re
import shutil

import django
import pytest

from .conftest import run

DEMO = pathlib.Path(__file__).parent.parent / "examples" / "bookshop"
CONTRIB = pathlib.Path(django.__file__).parent / "contrib"


def statement_spans(source):
    """{line: (first, last)}: the simple statement, or the header of the
    compound statement, that holds each line of a module."""
    spans = {}

    def visit(body):
        for node in body:
            inner = [getattr(node, field) for field in ("body", "orelse", "finalbody", "handlers")
                     if isinstance(getattr(node, field, None), list)]
            if inner and not isinstance(node, ast.Match):
                header_end = min(n.lineno for part in inner for n in part) - 1 if any(inner) else node.end_lineno
                for line in range(node.lineno, max(node.lineno, header_end) + 1):
                    spans.setdefault(line, (node.lineno, max(node.lineno, header_end)))
                for part in inner:
                    visit([n for n in part if isinstance(n, ast.AST) and hasattr(n, "lineno")])
                    for handler in part:
                        if isinstance(handler, ast.ExceptHandler):
                            visit(handler.body)
            else:
                for line in range(node.lineno, node.end_lineno + 1):
                    spans[line] = (node.lineno, node.end_lineno)

    visit(ast.parse(source).body)
    return spans


def changed_lines(diff):
    """{path: set of old-side lines the diff changes}; a line added marks
    the line it follows (the first line, at the top)."""
    changed, path, old = {}, None, 0
    for line in diff.splitlines():
        if line.startswith("--- a/"):
            path = line[6:]
        elif line.startswith("+++ "):
            continue
        elif line.startswith("@@"):
            old = int(re.match(r"@@ -(\d+)", line).group(1)) - 1
        elif path and line.startswith("-"):
            old += 1
            changed.setdefault(path, set()).add(old)
        elif path and line.startswith("+"):
            changed.setdefault(path, set()).add(max(old, 1))
        elif path and line.startswith(" "):
            old += 1
    return changed


def allowed_extra(path, text, line):
    """The lines a fix may change beyond its finding's statement: an
    import it needs, the load of a template tag library."""
    if path.endswith(".html"):
        return "{% load" in text or "{% extends" in text
    return text.lstrip().startswith(("from ", "import "))


@pytest.mark.parametrize("corpus", ["demo", "contrib"])
def test_fixable_means_fixed_and_nothing_else(corpus, tmp_path, capsys):
    root = tmp_path / corpus
    shutil.copytree(DEMO if corpus == "demo" else CONTRIB, root,
                    ignore=shutil.ignore_patterns(".tessary_cache", "__pycache__", "locale", "static"))
    if corpus == "contrib":
        (root / "pyproject.toml").write_text("")
    code, out, err = run(capsys, "check", "--format", "json", "--no-cache", root)
    findings = [f for f in json.loads(out) if f["line"] > 0]
    code, diff, err = run(capsys, "fix", "--diff", "--unsafe-fixes", root)
    assert "left unchanged" not in err, err
    changed = changed_lines(diff)

    texts, spans = {}, {}
    for path in {f["path"] for f in findings} | set(changed):
        texts[path] = (root / path).read_text(encoding="utf-8-sig").splitlines()
        if path.endswith(".py"):
            spans[path] = statement_spans("\n".join(texts[path]) + "\n")

    def span_of(finding):
        path, line = finding["path"], finding["line"]
        if path.endswith(".py"):
            if line == 1 and finding["column"] == 0 and finding["message-id"].startswith("C4"):
                return (1, len(texts[path]) + 1)  # a setting the module lacks: added at its end
            return spans[path].get(line, (line, line))
        return (line, line)

    covered = {}  # path: lines a fixable finding's statement covers
    for finding in findings:
        if finding["fixable"]:
            first, last = span_of(finding)
            covered.setdefault(finding["path"], set()).update(range(first, last + 1))
    problems = []
    for finding in findings:
        first, last = span_of(finding)
        touched = any(first <= n <= last for n in changed.get(finding["path"], ()))
        if finding["fixable"] and not touched:
            problems.append(f"marked fixable, not fixed: {finding['path']}:{finding['line']} {finding['message-id']}")
        shared = any(first <= n <= last for n in covered.get(finding["path"], ()))
        if not finding["fixable"] and touched and not shared:
            problems.append(f"fixed, not marked: {finding['path']}:{finding['line']} {finding['message-id']}")
    for path, lines in changed.items():
        for line in sorted(lines - covered.get(path, set())):
            text = texts[path][line - 1] if line <= len(texts[path]) else ""
            if not allowed_extra(path, text, line):
                problems.append(f"changed beyond the findings: {path}:{line}: {text.strip()}")
    assert problems == []
    assert any(f["fixable"] for f in findings)

    # The two summaries count the same findings.
    fixable = sum(f["fixable"] for f in findings)
    assert f"Would fix {fixable} finding" in err, err
    assert f"{len(findings) - fixable} finding" in err.split(";")[1], err
