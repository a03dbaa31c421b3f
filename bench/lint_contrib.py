"""Lint every module of the installed Django's contrib packages with all
checkers; print the findings per id, the files and the seconds taken.

Run by hand: python bench/lint_contrib.py [--jobs-free]
"""
import collections
import pathlib
import sys
import time

import django

import tessary.staticanalysis.shims  # noqa: F401
from tessary.staticanalysis import checker


def contrib_files():
    root = pathlib.Path(django.__file__).parent / "contrib"
    return sorted(str(p) for p in root.rglob("*.py"))


def main():
    files = contrib_files()
    started = time.perf_counter()
    linter = checker.create_linter(linter_class=checker.Linter)
    linter.check(files)
    seconds = time.perf_counter() - started
    counts = collections.Counter(r["message-id"] for r in linter.reporter.messages)
    print(f"files: {len(files)}  seconds: {seconds:.1f}")
    for msgid, count in sorted(counts.items()):
        print(f"{msgid} {checker.message_id_symbol_store.get(msgid, '?'):32} {count}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
