"""The README's `tessary` sessions, run on a copy of the demo project: each
command must succeed as shown and print what the README shows."""
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent.parent
README = HERE / "README.md"
DEMO = HERE / "examples" / "bookshop"
# Flags of commands that need the network and a pull request: not run.
NEEDS_A_PULL_REQUEST = ("--post",)


def sessions(text):
    """[(first line number, [(command argv, expected output or None)])] for
    each fenced block whose lines start with `$ tessary`. A command followed
    at once by the next command (or the end of the block) shows no output."""
    found = []
    for match in re.finditer(r"^```[^\n]*\n(.*?)^```", text, re.M | re.S):
        lines = match.group(1).splitlines()
        if not lines or not lines[0].startswith("$ tessary"):
            continue
        steps = []
        for line in lines:
            if line.startswith("$ "):
                steps.append((shlex.split(line[2:], comments=True)[1:], []))
            else:
                steps[-1][1].append(line)
        found.append((text[: match.start()].count("\n") + 1,
                      [(argv, "\n".join(out) + "\n" if out else None) for argv, out in steps]))
    return found


SESSIONS = sessions(README.read_text(encoding="utf-8"))


def test_the_readme_has_sessions_with_output():
    assert len(SESSIONS) >= 3
    assert sum(1 for _, steps in SESSIONS for _, out in steps if out) >= 4


@pytest.fixture
def demo(tmp_path):
    """A copy of the demo project in a git repository of its own, with
    `origin/main` at its first commit."""
    root = tmp_path / "bookshop"
    shutil.copytree(DEMO, root, ignore=shutil.ignore_patterns(".venv", ".tessary_cache", "__pycache__"))
    for args in (["init", "-q", "-b", "main"], ["add", "-A"], ["commit", "-q", "-m", "demo"],
                 ["update-ref", "refs/remotes/origin/main", "HEAD"]):
        subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *args], cwd=root, check=True,
                       capture_output=True)
    return root


@pytest.mark.parametrize("line, steps", SESSIONS, ids=[f"README line {line}" for line, _ in SESSIONS])
def test_readme_session(demo, line, steps):
    for argv, expected in steps:
        if any(flag in argv for flag in NEEDS_A_PULL_REQUEST):
            continue
        done = subprocess.run([sys.executable, "-c", "from tessary.cli import run; run()", *argv], cwd=demo,
                              capture_output=True, text=True, check=False)
        assert done.returncode in (0, 1), f"tessary {shlex.join(argv)}: {done.stderr}"
        if expected is not None:
            # What the README shows is the report, then what went to stderr.
            assert done.stdout + done.stderr == expected, f"tessary {shlex.join(argv)} (README line {line})"
