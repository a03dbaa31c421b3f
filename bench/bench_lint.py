"""Linting speed: all checkers against the framework's own parse and walk.

For synthetic projects (10, 50 and 200 models of 10 fields each, with views
that use querysets and a migration per project) and for the installed
Django's contrib packages, prints the seconds taken with every checker, the
seconds taken by the same linter with no checker registered, their ratio,
and for the synthetic projects the time per field.

Each measurement runs in a fresh process so that astroid's caches start
cold every time. Run by hand:  python bench/bench_lint.py
"""
import pathlib
import subprocess
import sys
import tempfile
import textwrap

FIELDS = [
    "models.CharField(max_length=100)",
    "models.CharField(max_length=2000, null=True)",
    "models.IntegerField(default=0)",
    "models.DateField(null=True)",
    "models.BooleanField(default=False)",
    "models.TextField(blank=True)",
    "models.DecimalField(max_digits=8, decimal_places=2)",
    "models.SlugField(unique=True)",
    "models.EmailField(blank=True)",
    "models.DateTimeField(auto_now_add=True)",
]


def synthetic_project(root, models):
    app = root / "app"
    (app / "migrations").mkdir(parents=True)
    for package in (app, app / "migrations"):
        (package / "__init__.py").write_text("")
    lines = ["from django.db import models", ""]
    for m in range(models):
        lines += ["", f"class Model{m}(models.Model):"]
        lines += [f"    field{f} = {FIELDS[f]}" for f in range(10)]
        if m:
            lines.append(f"    parent = models.ForeignKey(Model{m - 1}, on_delete=models.CASCADE)")
        lines += ["", "    def __str__(self):", "        return str(self.pk)", ""]
    (app / "models.py").write_text("\n".join(lines) + "\n")

    views = ["from app.models import *", ""]
    for m in range(models):
        views.append(
            textwrap.dedent(
                f"""
                def view{m}(request):
                    rows = Model{m}.objects.filter(field0="x")
                    if rows.count() > 0:
                        return len(rows)
                    if not rows:
                        return 0
                    return rows[0].pk
                """
            )
        )
    (app / "views.py").write_text("\n".join(views))

    operations = "\n".join(
        f'        migrations.CreateModel(name="Model{m}", fields=[("id", models.AutoField(primary_key=True)), '
        f'("field0", models.CharField(max_length=100))]),'
        for m in range(models)
    )
    (app / "migrations" / "0001_initial.py").write_text(
        "from django.db import migrations, models\n\n\ndef forwards(apps, schema_editor):\n    pass\n\n\n"
        "class Migration(migrations.Migration):\n    initial = True\n    operations = [\n"
        f"{operations}\n        migrations.RunPython(forwards),\n    ]\n"
    )
    return sorted(str(p) for p in app.rglob("*.py"))


MEASURE = """
import sys, time
import tessary.staticanalysis.shims
from tessary.staticanalysis import checker
if sys.argv[1] == "none":
    del checker.python_checker_classes[:]
files = sys.argv[2:]
linter = checker.create_linter(linter_class=checker.Linter)
started = time.perf_counter()
linter.check(files)
print(time.perf_counter() - started, len(linter.reporter.messages))
"""


def measure(mode, files):
    out = subprocess.run([sys.executable, "-c", MEASURE, mode, *files], check=True, capture_output=True, text=True)
    seconds, findings = out.stdout.split()
    return float(seconds), int(findings)


def report(label, files, fields=None):
    base, _ = measure("none", files)
    full, findings = measure("all", files)
    line = f"{label:28} files {len(files):4}  checkers {full:7.2f}s  bare {base:7.2f}s  ratio {full / base:5.2f}"
    line += f"  findings {findings:5}"
    if fields:
        line += f"  ms/field {1000 * full / fields:6.2f}"
    print(line, flush=True)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        for models in (10, 50, 200):
            root = pathlib.Path(tmp) / f"p{models}"
            files = synthetic_project(root, models)
            report(f"synthetic {models} models", files, fields=models * 10)
    import django

    contrib = pathlib.Path(django.__file__).parent / "contrib"
    report("django.contrib (all)", sorted(str(p) for p in contrib.rglob("*.py")))
    for app in ("admin", "auth", "contenttypes", "gis"):
        report(f"django.contrib.{app}", sorted(str(p) for p in (contrib / app).rglob("*.py")))


if __name__ == "__main__":
    main()
