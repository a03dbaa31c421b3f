"""Fixing speed: the whole-project fixer against linting the same files.

For synthetic projects of bench_check.py and the installed Django's
contrib packages, prints the seconds to fix, the seconds to lint, their
ratio, and the fixes per id. Each measurement runs in a fresh process.
Run by hand:  python bench/bench_fix.py
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from bench_check import synthetic_project  # noqa: E402

FIX = """
import sys, time
import tessary.staticanalysis.shims
from tessary.staticanalysis import transformer
started = time.perf_counter()
result = transformer.fix_project(sys.argv[1], None, "", {"line_length": 88})
print(time.perf_counter() - started, dict(sorted(result["fixed"].items())))
"""

LINT = """
import sys, time, pathlib
import tessary.staticanalysis.shims
from tessary.staticanalysis import checker
files = sorted(str(p) for p in pathlib.Path(sys.argv[1]).rglob("*.py"))
linter = checker.create_linter(linter_class=checker.Linter)
started = time.perf_counter()
linter.check(files)
print(time.perf_counter() - started)
"""


def run(script, root):
    out = subprocess.run([sys.executable, "-c", script, str(root)], check=True, capture_output=True, text=True)
    return out.stdout.strip()


def report(label, root):
    fix_out = run(FIX, root)
    fix_seconds, fixed = fix_out.split(" ", 1)
    lint_seconds = float(run(LINT, root))
    print(f"{label:28} fix {float(fix_seconds):7.2f}s  lint {lint_seconds:7.2f}s  "
          f"ratio {float(fix_seconds) / lint_seconds:5.2f}  fixed {fixed}", flush=True)


def main():
    import django

    with tempfile.TemporaryDirectory() as tmp:
        for apps in (1, 4, 16):
            root = pathlib.Path(tmp) / f"p{apps}"
            synthetic_project(root, apps)
            report(f"synthetic, {apps} apps", root)
        contrib = pathlib.Path(tmp) / "contrib"
        shutil.copytree(pathlib.Path(django.__file__).parent / "contrib", contrib)
        report("django.contrib", contrib)


if __name__ == "__main__":
    main()
