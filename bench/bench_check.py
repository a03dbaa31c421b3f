"""End-to-end speed and memory of `tessary check` beside the floor, in one run.

The floor is pylint with every check disabled: astroid's parse and the tree
walk, which tessary pays anyway as a pylint linter. "pylint+plugin" is
pylint with the common Django plugin's checks, when that plugin is
installed. Every time is the minimum of --runs fresh processes, so a slower
machine reads the same ratios; memory is the peak, over the runs, of the
proportional set size summed over the process and its workers (pages the
workers share with the parent counted once).

Corpora: the installed Django's contrib packages, a synthetic project of
the same size (models, querysets, migrations, templates), a synthetic
project of 20 files, one models.py of the demo project, and any project
folders given as arguments. For each: seconds at -j1, -j2 and the default
job count for tessary, at -j1 and -j2 for the floor, and their ratios; the
warm re-run from the results cache; peak memory of both at -j1 and of
tessary at -j2; the seconds of `tessary fix --diff` beside `check` (both at
the default job count) and beside `check -j1`.
With --before PYTHON, the -j1 and -j2 times and memory of the tessary
installed for that interpreter, measured in the same run, as the "before"
figures. Then the time per field of one module of 10 to 500 models.

The findings of the cold run, the warm run, and the runs at -j2 and the
default job count must be equal; with --baseline FILE they must also equal
the findings kept in FILE (written when it does not exist). Any difference
fails the run.

    python bench/bench_check.py [--runs N] [--baseline FILE] [--before PYTHON] [PROJECT ...]
"""
import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
DEMO = HERE.parent / "examples" / "bookshop"

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


def models_module(count):
    lines = ["from django.db import models", ""]
    for m in range(count):
        lines += ["", f"class Model{m}(models.Model):"]
        lines += [f"    field{f} = {FIELDS[f]}" for f in range(10)]
        if m:
            lines.append(f"    parent = models.ForeignKey(Model{m - 1}, on_delete=models.CASCADE, related_name='+')")
        lines += ["", "    def __str__(self):", "        return str(self.pk)", ""]
    return "\n".join(lines) + "\n"


def views_module(count):
    views = ["from .models import *", ""]
    for m in range(count):
        views.append(textwrap.dedent(f"""
            def view{m}(request):
                rows = Model{m}.objects.filter(field0="x")
                if rows.count() > 0:
                    return len(rows)
                if not rows:
                    return 0
                return rows.first().parent.pk
            """))
    return "\n".join(views)


def synthetic_project(root, apps, models_per_app=30):
    """A project of `apps` apps, each with models, views, admin, two
    migrations and a template: with 48 apps of 30 models, about as many
    modules and lines as contrib."""
    root.mkdir(parents=True, exist_ok=True)
    (root / "manage.py").write_text("")
    for a in range(apps):
        app = root / f"app{a}"
        (app / "migrations").mkdir(parents=True)
        (app / "templates").mkdir()
        for package in (app, app / "migrations"):
            (package / "__init__.py").write_text("")
        (app / "models.py").write_text(models_module(models_per_app))
        (app / "views.py").write_text(views_module(models_per_app))
        (app / "admin.py").write_text(f"from django.contrib import admin\n\nfrom .models import Model0\n\n"
                                      f"admin.site.register(Model0)\n")
        (app / "migrations" / "0001_initial.py").write_text(
            "from django.db import migrations, models\n\n\nclass Migration(migrations.Migration):\n"
            "    initial = True\n    operations = [\n" + "".join(
                f'        migrations.CreateModel(name="Model{m}", fields=[("id", models.AutoField(primary_key=True))]),\n'
                for m in range(models_per_app)) + "    ]\n")
        (app / "migrations" / "0002_data.py").write_text(
            "from django.db import migrations\n\n\ndef forwards(apps, schema_editor):\n    pass\n\n\n"
            "class Migration(migrations.Migration):\n    operations = [migrations.RunPython(forwards)]\n")
        (app / "templates" / "page.html").write_text(
            '<link href="/static/site.css" rel="stylesheet">\n<a href="/home/">home</a>\n')
    return root


def tree_pss(pid):
    """Proportional set size (MiB) of a process and its descendants."""
    pids, total = [pid], 0
    for parent in pids:
        try:
            with open(f"/proc/{parent}/task/{parent}/children") as children:
                pids.extend(int(child) for child in children.read().split())
        except OSError:
            pass
    for each in pids:
        try:
            with open(f"/proc/{each}/smaps_rollup") as rollup:
                total += sum(int(line.split()[1]) for line in rollup if line.startswith("Pss:"))
        except OSError:
            pass
    return total / 1024


def twenty_file_project(root):
    """Three apps of the synthetic project, without templates, and one data
    migration: 20 files."""
    synthetic_project(root, 3)
    for path in [*root.glob("app*/templates/page.html"), root / "app1/migrations/0002_data.py",
                 root / "app2/migrations/0002_data.py"]:
        path.unlink()
    return root


def run_measured(command, cwd):
    """Seconds and peak memory (MiB, summed over the process tree) of one
    fresh process, and what it printed."""
    started = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    peak, done = [0.0], threading.Event()

    def sample():
        while not done.wait(0.02):
            peak[0] = max(peak[0], tree_pss(process.pid))

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    out = process.stdout.read()
    process.wait()
    seconds = time.perf_counter() - started
    done.set()
    sampler.join()
    if peak[0] == 0:  # no /proc: the largest single process
        import resource

        peak[0] = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
    return seconds, peak[0], out


def best(command, cwd, runs, before=None):
    results = []
    for _ in range(runs):
        if before:
            before()
        results.append(run_measured(command, cwd))
    seconds = min(r[0] for r in results)
    memory = max(r[1] for r in results)
    return seconds, memory, results[-1][2]


def floor_command(paths, jobs, plugin=False):
    args = ["--disable=all", "--persistent=n", f"--jobs={jobs}", "--recursive=y"]
    if plugin:
        args = ["--load-plugins=pylint_django", "--disable=all", "--enable=pylint_django", "--persistent=n",
                f"--jobs={jobs}", "--recursive=y"]
    code = f"import pylint.lint; pylint.lint.Run({args + [str(p) for p in paths]!r}, exit=False)"
    return [sys.executable, "-c", code]


def tessary_command(paths, jobs, cache=None, python=None):
    command = [python or sys.executable, "-c", "from tessary.cli import run; run()", "check",
               "--no-progress", "--format", "json"]
    command += [] if jobs is None else [f"--jobs={jobs}"]
    command += ["--no-cache"] if cache is None else ["--cache-dir", str(cache)]
    return command + [str(p) for p in paths]


def fix_command(paths):
    return [sys.executable, "-c", "from tessary.cli import run; run()", "fix", "--diff", "--quiet"] + [
        str(p) for p in paths]


def findings_of(out):
    return sorted((e["path"], e["line"], e["message-id"], json.dumps(e["arguments"], sort_keys=True))
                  for e in json.loads(out))


def plugin_installed():
    try:
        import pylint_django  # noqa: F401
    except ImportError:
        return False
    return True


ROWS = []  # the table printed at the end


def interleaved(commands, root, runs):
    """Seconds (the minimum), peak memory (the maximum) and the last output
    of each named command, run in rounds of one run each: a machine whose
    speed drifts during the bench slows every command alike."""
    results = {name: [] for name in commands}
    for _ in range(runs):
        for name, (command, before) in commands.items():
            if before:
                before()
            results[name].append(run_measured(command, root))
    return {name: (min(r[0] for r in runs_of), max(r[1] for r in runs_of), runs_of[-1][2])
            for name, runs_of in results.items()}


def bench_corpus(label, root, paths, runs, baseline, failures, before_python=None):
    cache = pathlib.Path(tempfile.mkdtemp(prefix="tessary-cache-"))
    clear = lambda: shutil.rmtree(cache, ignore_errors=True)  # noqa: E731
    commands = {
        "floor1": (floor_command(paths, 1), None), "floor2": (floor_command(paths, 2), None),
        "cold1": (tessary_command(paths, 1, cache), clear), "warm": (tessary_command(paths, 1, cache), None),
        "cold2": (tessary_command(paths, 2), None), "default": (tessary_command(paths, None), None),
        "fix": (fix_command(paths), None),
    }
    # The before -j1 run is a cold run that writes a cache of its own, as
    # the -j1 run is: the two time the same work.
    old_cache = pathlib.Path(tempfile.mkdtemp(prefix="tessary-cache-before-"))
    clear_old = lambda: shutil.rmtree(old_cache, ignore_errors=True)  # noqa: E731
    if before_python:
        commands["old1"] = (tessary_command(paths, 1, old_cache, python=before_python), clear_old)
        commands["old2"] = (tessary_command(paths, 2, python=before_python), None)
    measured = interleaved(commands, root, runs)
    floor1, floor_mem, _ = measured["floor1"]
    floor2 = measured["floor2"][0]
    cold1, mem1, out_cold = measured["cold1"]
    cold2, mem2, out_j2 = measured["cold2"]
    default, _, out_default = measured["default"]
    warm, _, out_warm = measured["warm"]
    fix = measured["fix"][0]
    row = dict(label=label, floor1=floor1, cold1=cold1, floor2=floor2, cold2=cold2, default=default, warm=warm,
               floor_mem=floor_mem, mem1=mem1, mem2=mem2, fix=fix)
    line = (f"{label:26} floor -j1 {floor1:6.2f}s  tessary -j1 {cold1:6.2f}s  ratio {cold1 / floor1:4.2f}  |  "
            f"floor -j2 {floor2:6.2f}s  tessary -j2 {cold2:6.2f}s  -j1/-j2 {cold1 / cold2:4.2f}  |  "
            f"default {default:6.2f}s ({default / cold1:4.2f} of -j1)  |  warm {warm:5.2f}s ({100 * warm / cold1:3.0f}%)  |  "
            f"memory -j1 {mem1:5.0f} MiB (floor {floor_mem:4.0f})  -j2 {mem2:5.0f} MiB ({mem2 / mem1:4.2f}x)  |  "
            f"fix {fix:6.2f}s ({fix / default:4.2f} of check, {fix / cold1:4.2f} of check -j1)")
    if before_python:
        old1, old_mem1, out_old = measured["old1"]
        old2, old_mem2, _ = measured["old2"]
        row.update(old1=old1, old2=old2, old_mem1=old_mem1, old_mem2=old_mem2)
        line += (f"  |  before: -j1 {old1:6.2f}s  -j2 {old2:6.2f}s  memory -j1 {old_mem1:5.0f} MiB "
                 f"-j2 {old_mem2:5.0f} MiB")
        if findings_of(out_old) != findings_of(out_cold):
            line += "  (findings differ from before)"
    if plugin_installed():
        plugin, _, _ = best(floor_command(paths, 1, plugin=True), root, runs)
        line += f"  |  pylint+plugin -j1 {plugin:6.2f}s (tessary {cold1 / plugin:4.2f}x)"
    print(line, flush=True)
    ROWS.append(row)
    findings = findings_of(out_cold)
    if any(findings != findings_of(out) for out in (out_warm, out_j2, out_default)):
        failures.append(f"{label}: the cold, warm, -j2 and default-jobs runs disagree")
    if baseline is not None:
        kept = baseline.setdefault(label, findings)
        if [list(f) for f in findings] != [list(f) for f in kept]:
            failures.append(f"{label}: findings differ from the baseline")
    shutil.rmtree(cache, ignore_errors=True)
    clear_old()


def print_table():
    """The goals' figures as one Markdown table."""
    before = any("old1" in row for row in ROWS)
    head = ["corpus", "floor -j1", "-j1", "÷ floor", "-j2", "-j1 ÷ -j2", "default", "default ÷ -j1",
            "MiB floor", "MiB -j1", "MiB -j2 (÷ -j1)", "fix ÷ check", "fix ÷ check -j1"]
    if before:
        head += ["before -j1", "before -j2", "before -j1 ÷ -j2", "before MiB -j1 / -j2"]
    print("\n| " + " | ".join(head) + " |\n|" + "---|" * len(head))
    for r in ROWS:
        cells = [r["label"], f"{r['floor1']:.2f} s", f"{r['cold1']:.2f} s", f"{r['cold1'] / r['floor1']:.2f}",
                 f"{r['cold2']:.2f} s", f"{r['cold1'] / r['cold2']:.2f}", f"{r['default']:.2f} s",
                 f"{r['default'] / r['cold1']:.2f}", f"{r['floor_mem']:.0f}", f"{r['mem1']:.0f}",
                 f"{r['mem2']:.0f} ({r['mem2'] / r['mem1']:.2f})", f"{r['fix'] / r['default']:.2f}",
                 f"{r['fix'] / r['cold1']:.2f}"]
        if "old1" in r:
            cells += [f"{r['old1']:.2f} s", f"{r['old2']:.2f} s", f"{r['old1'] / r['old2']:.2f}",
                      f"{r['old_mem1']:.0f} / {r['old_mem2']:.0f}"]
        print("| " + " | ".join(cells) + " |")


def bench_scaling(tmp, runs):
    print("\nOne module of N models (10 fields each): seconds, time per field and per model beside the floor")
    for count in (10, 50, 200, 500):
        root = pathlib.Path(tmp) / f"scale{count}"
        (root / "app").mkdir(parents=True)
        (root / "manage.py").write_text("")
        (root / "app" / "__init__.py").write_text("")
        (root / "app" / "models.py").write_text(models_module(count))
        paths = [root / "app" / "models.py"]
        floor, floor_mem, _ = best(floor_command(paths, 1), root, runs)
        seconds, mem, _ = best(tessary_command(paths, 1), root, runs)
        print(f"  {count:4} models  tessary {seconds:6.2f}s  floor {floor:6.2f}s  "
              f"ms/field {1000 * seconds / (10 * count):6.2f} (floor {1000 * floor / (10 * count):5.2f})  "
              f"ms/model {1000 * seconds / count:6.1f}  memory {mem:5.0f} MiB (floor {floor_mem:4.0f})", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("projects", nargs="*", type=pathlib.Path)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--baseline", type=pathlib.Path)
    parser.add_argument("--no-scaling", action="store_true")
    parser.add_argument("--before", metavar="PYTHON", help="an interpreter whose tessary gives the before figures")
    args = parser.parse_args()
    import django

    baseline = None
    if args.baseline:
        baseline = json.loads(args.baseline.read_text()) if args.baseline.exists() else {}
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        contrib = pathlib.Path(tmp) / "contrib"
        shutil.copytree(pathlib.Path(django.__file__).parent / "contrib", contrib / "contrib",
                        ignore=shutil.ignore_patterns("locale", "static", "*.mo", "*.po"))
        (contrib / "manage.py").write_text("")
        before = args.before
        bench_corpus("django contrib", contrib, [contrib], args.runs, baseline, failures, before)
        synthetic = synthetic_project(pathlib.Path(tmp) / "synthetic", 48)
        bench_corpus("synthetic, contrib-sized", synthetic, [synthetic], args.runs, baseline, failures, before)
        small = twenty_file_project(pathlib.Path(tmp) / "small")
        bench_corpus("synthetic, 20 files", small, [small], args.runs, baseline, failures, before)
        bench_corpus("demo catalog/models.py", DEMO, [DEMO / "catalog" / "models.py"], args.runs, baseline,
                     failures, before)
        for project in args.projects:
            bench_corpus(str(project), project, [project.resolve()], args.runs, baseline, failures, before)
        print_table()
        if not args.no_scaling:
            bench_scaling(tmp, args.runs)
    if args.baseline:
        args.baseline.write_text(json.dumps(baseline, indent=1))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
