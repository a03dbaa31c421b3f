"""Fixing speed: the whole-project fixer against linting the same files.

For synthetic projects of bench_check.py and the installed Django's
contrib packages, prints the seconds to fix, the seconds to lint, their
ratio, and the fixes per id. Each measurement runs in a fresh process.
Then, for one module of 500 to 5,000 models with two fixes each, the
seconds to fix beside the seconds to check it and the time per fix, which
stays about the same as the module grows (the fixes of one file cost
linear time).
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
        for models in (500, 2000, 5000):
            root = pathlib.Path(tmp) / f"one{models}"
            one_module(root, models)
            fix_seconds = float(run(FIX, root).split(" ", 1)[0])
            lint_seconds = float(run(LINT, root))
            print(f"one module, {models:5} models  fix {fix_seconds:7.2f}s  lint {lint_seconds:7.2f}s  "
                  f"per fix {1000 * fix_seconds / (2 * models):5.2f} ms", flush=True)


def one_module(root, models):
    """A project whose one models.py has `models` models, each with a
    nullable string field and a redundant keyword to fix."""
    (root / "shop").mkdir(parents=True)
    (root / "manage.py").write_text("")
    (root / "shop" / "__init__.py").write_text("")
    lines = ["from django.db import models", "", ""]
    for n in range(models):
        lines += [f"class M{n}(models.Model):", "    name = models.CharField(max_length=20, null=True)",
                  "    flag = models.BooleanField(blank=False, default=False)", "", ""]
    (root / "shop" / "models.py").write_text("\n".join(lines))


if __name__ == "__main__":
    main()
