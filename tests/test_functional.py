"""Check tests: small Django modules annotated with the findings expected on
their lines, linted from disk as a project would be.

An annotation is a trailing comment ``# expect: ID [ARGS] [; ID [ARGS] ...]``
on the line the finding is reported on; ARGS is the finding's argument map as
JSON and, when given, must match exactly. Findings on the module as a whole
are reported on line 1. A line ``# option: name=value`` sets a linter option
for that file. Every annotated finding must be reported, and every reported
finding must be annotated.
"""
import json
import os
import pathlib
import re

import astroid
import pytest

from tessary.staticanalysis import checker

ROOT = pathlib.Path(__file__).resolve().parent / "functional"
FIXTURES = sorted(p for p in ROOT.rglob("*.py") if p.name != "__init__.py" or p.stat().st_size)
EXPECT = re.compile(r"#\s*expect:\s*(.*)$")
OPTION = re.compile(r"^#\s*option:\s*([\w-]+)\s*=\s*(.+)$")
ID = re.compile(r"\s*;?\s*([A-Z]\d{4})\s*")


def parse_expectations(path):
    """[(line, id, args or None)] and {option: value} from a fixture."""
    expected, options = [], {}
    decoder = json.JSONDecoder()
    for number, line in enumerate(path.read_text().splitlines(), start=1):
        option = OPTION.match(line)
        if option:
            options[option.group(1)] = json.loads(option.group(2))
            continue
        found = EXPECT.search(line)
        if not found:
            continue
        text = found.group(1)
        position = 0
        while position < len(text):
            match = ID.match(text, position)
            assert match, f"{path.name}:{number}: cannot read annotation at {text[position:]!r}"
            msgid, position = match.group(1), match.end()
            args = None
            if position < len(text) and text[position] == "{":
                args, position = decoder.raw_decode(text, position)
            expected.append((number, msgid, args))
    return expected, options


def forget_other_modules_of_these_names():
    """astroid caches modules by dotted name for the whole process; texts
    linted by other tests under the same package names must not stand in
    for the fixture packages."""
    packages = {p.name for p in ROOT.iterdir() if p.is_dir()}
    root = str(ROOT.resolve())
    cache = astroid.MANAGER.astroid_cache
    for name in [n for n in cache if n.split(".")[0] in packages]:
        file = getattr(cache[name], "file", None) or ""
        if not os.path.realpath(file).startswith(root):
            del cache[name]


@pytest.mark.parametrize("path", FIXTURES, ids=[str(p.relative_to(ROOT)) for p in FIXTURES])
def test_fixture(path):
    expected, options = parse_expectations(path)
    forget_other_modules_of_these_names()
    linter = checker.create_linter(linter_class=checker.Linter)
    for name, value in options.items():
        linter.set_option(name, value)
    try:
        linter.check([str(path)])
    finally:
        checker.forget_modules_under(str(ROOT))
    reported = [(r["line"], r["message-id"], r["message"]) for r in linter.reporter.messages]

    unmatched = list(reported)
    missing = []
    for line, msgid, args in expected:
        for candidate in unmatched:
            if candidate[0] == line and candidate[1] == msgid and (args is None or candidate[2] == args):
                unmatched.remove(candidate)
                break
        else:
            missing.append((line, msgid, args))
    assert not missing and not unmatched, f"missing: {missing}\nunexpected: {unmatched}"


def test_symbols_match_ids():
    """Every reported id carries the symbol of its checker's table."""
    path = ROOT / "shop" / "models.py"
    linter = checker.create_linter(linter_class=checker.Linter)
    linter.check([str(path)])
    assert linter.reporter.messages
    for record in linter.reporter.messages:
        assert checker.message_id_symbol_store[record["message-id"]] == record["symbol"]
