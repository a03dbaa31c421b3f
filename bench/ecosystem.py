"""Tessary on twelve public Django codebases, pinned, with judged findings.

Each codebase is one release from PyPI, pinned by file name and sha256
below. `pip download` fetches it into the cache folder (default
bench/.ecosystem/, ignored by git), the sha256 is checked, and the
archive is unpacked into a folder of its own. Nothing of these codebases
is imported or run: they are only read by tessary.

A wheel has neither manage.py nor pyproject.toml, so an empty
pyproject.toml is written at the root of each unpacked folder to make it
the project root. The cache sits inside this repository and git ignores
it, and tessary lists a project's files through git, which would leave
out every file of the codebase; GIT_CEILING_DIRECTORIES is set to the
cache folder for each run so git never finds this repository from there.

For each codebase, one at a time, in fresh processes (the machine is
shared): `tessary check --select ALL --format json -j1 --no-cache` and
`tessary fix --select ALL --diff --unsafe-fixes` (every rule, the opt-in
ones too), with wall time and peak memory
(ru_maxrss of the child, from os.wait4). The diff is applied in memory to
a copy of each file's text, never to the cache, and every fixed .py file
is compiled to see that it still parses. The full report and the diff of
each codebase are kept in the cache's out/ folder.

The results (findings per codebase as path, line, id; counts per rule;
times; the diff's files and hunks; fixed files that no longer parse) are
compared with the committed bench/ecosystem-results.json (or --previous):
per rule, the findings that came and went. --write overwrites the file.

Judged findings live in bench/verdicts.csv (codebase, path, line, id,
verdict, reason) with the drawn sample in bench/verdicts-sample.json: the
seed, and per codebase and rule the finding count and the findings drawn
(all of them up to 25, else 25 at random with the seed). --sample draws it
afresh from the current run, keeping the verdicts already given. The
precision of a rule is right / judged per codebase, weighted by that
codebase's finding count when the sample was drawn. The report also shows
judged findings that the current run no longer gives, and findings of the
current run that were not there when the sample was drawn.

    python bench/ecosystem.py [--only NAME] [--previous FILE] [--write]
                              [--sample] [--tessary PATH] [--cache DIR]
    python bench/ecosystem.py --from-results   # the tables and precision, running nothing

The machine is shared: tessary runs with -j1 and the codebases one after
the other. A full run takes about four minutes on two cores.
"""
import argparse
import collections
import csv
import hashlib
import json
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
RESULTS = HERE / "ecosystem-results.json"
VERDICTS = HERE / "verdicts.csv"
SAMPLE = HERE / "verdicts-sample.json"
SAMPLE_SIZE = 25
SEED = 20251208
VERDICT_KINDS = ("right", "wrong", "wrong advice")

# name, PyPI project, version, file, sha256 (the newest release on the day it was pinned)
CODEBASES = [
    ("wagtail", "wagtail", "8.0.1", "wagtail-8.0.1-py3-none-any.whl",
     "1e6ad5c7891a54efce1400e168298b5a2cc343b642cee89c31bf5ec30c98b26c"),
    ("django-oscar", "django-oscar", "4.2.1", "django_oscar-4.2.1-py3-none-any.whl",
     "adbb95ea0130859c204cc6fb221052d6d437ecbaa90800e8418a809f72645e9c"),
    ("django-allauth", "django-allauth", "65.22.1", "django_allauth-65.22.1-py3-none-any.whl",
     "08f7a3ddbd5ff7f1000d685dee9c0678d0da2057e18bed473a6eb2de18bd04e4"),
    ("django-filer", "django-filer", "3.6.0", "django_filer-3.6.0-py3-none-any.whl",
     "b441e081f0f5688d234815bd0421a1bafa10217eac31bdfe7c3ef3b092430bb3"),
    ("django-helpdesk", "django-helpdesk", "2.6.1", "django_helpdesk-2.6.1-py3-none-any.whl",
     "f2167cd340577088be861fa5d25ca6f828226ac0d25db7e67b96a35a89ca4e44"),
    ("mezzanine", "mezzanine", "6.1.1", "mezzanine-6.1.1-py2.py3-none-any.whl",
     "abb8a3d7ee91b724d8aa89fa971bad1cf8e368c21055da4913e20e1418a96d1b"),
    ("label-studio", "label-studio", "1.23.2", "label_studio-1.23.2-py3-none-any.whl",
     "c575b2552d0b271554224c5e56ab2ce9449c6e62a0b4851bc8c706d8fe651137"),
    ("dj-stripe", "dj-stripe", "2.11.0", "dj_stripe-2.11.0-py3-none-any.whl",
     "9f3073c486e84c13f1d143822d52d4b8967c9e0c00185351353778afe0f7ef05"),
    ("wiki", "wiki", "0.13.0", "wiki-0.13.0-py3-none-any.whl",
     "5075e640ef89283876a65a8088a17dd43038b64d5bee3a65c0af2424fe13ede9"),
    ("django-machina", "django-machina", "1.3.1", "django_machina-1.3.1-py3-none-any.whl",
     "df1779b49480269e3fdcc888ac26a501ab4428fe4e62b0e40d63c7a91bb2a6e5"),
    ("django-simple-history", "django-simple-history", "3.13.0",
     "django_simple_history-3.13.0-py3-none-any.whl",
     "1cf1d83054479f64aee022023afc1671843aa0a99888799c5c4c3966b0252521"),
    ("django-polymorphic", "django-polymorphic", "4.11.7", "django_polymorphic-4.11.7-py3-none-any.whl",
     "23ee903f79b9c4ebd36fee952f955d80c3d51f3eee9fa23639c4bafe3be616a2"),
]

SHORT = {
    "wagtail": "wagt", "django-oscar": "oscar", "django-allauth": "allau", "django-filer": "filer",
    "django-helpdesk": "helpd", "mezzanine": "mezz", "label-studio": "label", "dj-stripe": "strip",
    "wiki": "wiki", "django-machina": "mach", "django-simple-history": "hist", "django-polymorphic": "poly",
}


# -- fetching ---------------------------------------------------------------

def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def fetch(cache, project, version, filename, sha):
    """The pinned archive in the cache, downloaded by pip if it is not there yet."""
    archive = cache / "dist" / filename
    if not archive.exists():
        archive.parent.mkdir(parents=True, exist_ok=True)
        kind = ["--only-binary", ":all:"] if filename.endswith(".whl") else ["--no-binary", ":all:"]
        subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--no-deps", *kind,
                        "-d", str(archive.parent), f"{project}=={version}"], check=True)
        if not archive.exists():
            sys.exit(f"pip did not bring {filename}")
    got = sha256_of(archive)
    if got != sha:
        sys.exit(f"{filename}: sha256 {got}, pinned {sha}")
    return archive


def unpack(cache, name, archive, sha):
    """The codebase's folder, unpacked afresh when the archive changed."""
    root = cache / "src" / name
    stamp = root / ".ecosystem-sha256"
    if stamp.exists() and stamp.read_text().strip() == sha:
        return root
    if root.exists():
        shutil.rmtree(root)
    root.mkdir(parents=True)
    if archive.name.endswith(".whl") or archive.name.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(root)
    else:
        with tarfile.open(archive) as t:
            t.extractall(root, filter="data")
        tops = list(root.iterdir())
        if len(tops) == 1 and tops[0].is_dir():  # an sdist's one top folder becomes the root
            for child in tops[0].iterdir():
                child.rename(root / child.name)
            tops[0].rmdir()
    if not (root / "pyproject.toml").exists() and not (root / "manage.py").exists():
        (root / "pyproject.toml").write_text("")
    stamp.write_text(sha + "\n")
    return root


# -- running ----------------------------------------------------------------

def measured(cmd, cwd, env):
    """Run cmd; return (exit status, stdout, stderr, seconds, peak MiB of its process tree)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        started = time.perf_counter()
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - started
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return (proc.returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace"),
                round(seconds, 2), round(usage.ru_maxrss / 1024, 1))


def tessary_env(cache):
    env = dict(os.environ)
    env["GIT_CEILING_DIRECTORIES"] = str(cache.resolve() / "src")
    env.pop("VIRTUAL_ENV", None)
    env.pop("CONDA_PREFIX", None)
    return env


def git_unquote(name):
    """A diff header's file name, with git's C-style quoting undone."""
    if not name.startswith('"'):
        return name
    raw = name[1:-1].encode("latin-1", "backslashreplace")
    return raw.decode("unicode_escape").encode("latin-1").decode("utf-8", "surrogateescape")


def parse_diff(text):
    """{path: [(old_start, old_lines, new_lines)]} from a unified diff."""
    files = {}
    path = None
    lines = text.splitlines(keepends=True)
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("--- ") and i + 1 < len(lines) and lines[i + 1].startswith("+++ "):
            target = lines[i + 1][4:].rstrip("\n").split("\t")[0]
            target = git_unquote(target)
            path = target[2:] if target.startswith("b/") else target
            files[path] = []
            i += 2
            continue
        m = re.match(r"@@ -(\d+)(?:,(\d+))? \+(\d+)(?:,(\d+))? @@", line)
        if m and path is not None:
            old_count = int(m.group(2) if m.group(2) is not None else 1)
            new_count = int(m.group(4) if m.group(4) is not None else 1)
            old, new = [], []
            i += 1
            while i < len(lines) and (old_count > len(old) or new_count > len(new)):
                body = lines[i]
                if body.startswith("\\"):
                    i += 1
                    continue
                tag, rest = body[:1], body[1:]
                if body in ("\n", "\r\n"):  # an empty context line that lost its space
                    tag, rest = " ", body
                if tag == " ":
                    old.append(rest)
                    new.append(rest)
                elif tag == "-":
                    old.append(rest)
                elif tag == "+":
                    new.append(rest)
                i += 1
            start = int(m.group(1))
            files[path].append((start - 1 if old_count else start, old, new))
            continue
        i += 1
    return files


def apply_hunks(text, hunks):
    """The text after the hunks, or None when a hunk's old lines are not where it says."""
    lines = text.splitlines(keepends=True)
    out, pos = [], 0
    for start, old, new in hunks:
        if lines[start:start + len(old)] != old:
            return None
        out += lines[pos:start]
        out += new
        pos = start + len(old)
    out += lines[pos:]
    return "".join(out)


def check_fix(root, diff):
    """Files and hunks of the diff, and the fixed .py files that no longer parse."""
    files = parse_diff(diff)
    unparsable, not_applied = [], []
    for path, hunks in sorted(files.items()):
        source = root / path
        try:
            before = source.read_bytes().decode("utf-8", "surrogateescape")
        except OSError:
            not_applied.append(path)
            continue
        after = apply_hunks(before, hunks)
        if after is None:
            not_applied.append(path)
            continue
        if path.endswith(".py"):
            try:
                compile(before, path, "exec", dont_inherit=True)
            except (SyntaxError, ValueError):
                continue  # did not parse before the fix either
            try:
                compile(after, path, "exec", dont_inherit=True)
            except (SyntaxError, ValueError) as exc:
                unparsable.append(f"{path}: {exc}")
    return {"files": len(files), "hunks": sum(len(h) for h in files.values()),
            "unparsable": unparsable, "not_applied": not_applied}


def run_codebase(tessary, cache, name, root):
    env = tessary_env(cache)
    result = {}
    code, out, err, seconds, peak = measured(
        [tessary, "check", "--select", "ALL", "--format", "json", "--exit-zero", "-j1", "--no-cache", "--no-progress"],
        root, env)
    result["check"] = {"exit": code, "seconds": seconds, "peak_mib": peak, "stderr": err.strip()[-4000:]}
    raw = cache / "out"
    raw.mkdir(exist_ok=True)
    (raw / f"{name}.json").write_text(out)  # the full report, messages and all, for judging
    try:
        findings = json.loads(out)
    except ValueError:
        findings = []
        result["check"]["stdout"] = out[-4000:]
    rows = sorted((f["path"], f["line"], f["message-id"]) for f in findings)
    result["counts"] = dict(sorted(collections.Counter(r[2] for r in rows).items()))
    result["findings"] = [list(r) for r in rows]
    code, out, err, seconds, peak = measured([tessary, "fix", "--select", "ALL", "--diff", "--unsafe-fixes"], root, env)
    result["fix"] = {"exit": code, "seconds": seconds, "peak_mib": peak, "stderr": err.strip()[-4000:]}
    (raw / f"{name}.diff").write_text(out)
    result["fix"].update(check_fix(root, out))
    # files whose fixes tessary itself threw away because the fixed text did not parse
    result["fix"]["refused"] = re.findall(r"^tessary: (.*): left unchanged: (.*)$", err, re.M)
    return result


# -- reporting --------------------------------------------------------------

def findings_of(results, name):
    return collections.Counter(tuple(f) for f in results.get("codebases", {}).get(name, {}).get("findings", []))


def print_changes(previous, current, names):
    print("\nChanges from the previous results")
    any_change = False
    for name in names:
        if name not in previous.get("codebases", {}):
            print(f"  {name}: not in the previous results")
            any_change = True
            continue
        old, new = findings_of(previous, name), findings_of(current, name)
        added, removed = new - old, old - new
        by_rule = collections.defaultdict(lambda: ([], []))
        for (path, line, rule), n in added.items():
            by_rule[rule][0].extend([f"{path}:{line}"] * n)
        for (path, line, rule), n in removed.items():
            by_rule[rule][1].extend([f"{path}:{line}"] * n)
        for rule in sorted(by_rule):
            plus, minus = by_rule[rule]
            any_change = True
            print(f"  {name} {rule}: +{len(plus)} -{len(minus)}")
            for p in sorted(plus):
                print(f"      + {p}")
            for p in sorted(minus):
                print(f"      - {p}")
    if not any_change:
        print("  none")


def print_table(current, names):
    rules = sorted({r for n in names for r in current["codebases"][n]["counts"]})
    width = 6
    print("\nFindings per rule and codebase")
    print("rule   " + "".join(f"{SHORT.get(n, n)[:width]:>{width}}" for n in names) + f"{'all':>{width + 1}}")
    for rule in rules:
        counts = [current["codebases"][n]["counts"].get(rule, 0) for n in names]
        print(f"{rule:7}" + "".join(f"{c or '.':>{width}}" for c in counts) + f"{sum(counts):>{width + 1}}")
    totals = [sum(current["codebases"][n]["counts"].values()) for n in names]
    print(f"{'all':7}" + "".join(f"{c:>{width}}" for c in totals) + f"{sum(totals):>{width + 1}}")
    print("\nRuns (check, then fix --diff --unsafe-fixes)")
    print(f"{'codebase':24}{'check s':>9}{'MiB':>8}{'fix s':>9}{'MiB':>8}{'files':>7}{'hunks':>7}  problems")
    for n in names:
        c = current["codebases"][n]
        problems = []
        for step in ("check", "fix"):
            if "Traceback" in c[step]["stderr"] or c[step]["exit"] not in (0, 1) and not c[step].get("refused"):
                problems.append(f"{step} exit {c[step]['exit']}")
        problems += [f"does not parse: {p}" for p in c["fix"]["unparsable"]]
        problems += [f"hunk not applied: {p}" for p in c["fix"]["not_applied"]]
        problems += [f"fix refused: {p} ({why})" for p, why in c["fix"].get("refused", [])]
        print(f"{n:24}{c['check']['seconds']:>9}{c['check']['peak_mib']:>8}{c['fix']['seconds']:>9}"
              f"{c['fix']['peak_mib']:>8}{c['fix']['files']:>7}{c['fix']['hunks']:>7}  {'; '.join(problems)}")


# -- verdicts ---------------------------------------------------------------

def read_verdicts():
    if not VERDICTS.exists():
        return []
    with open(VERDICTS, newline="") as f:
        rows = list(csv.DictReader(f))
    for r in rows:
        r["line"] = int(r["line"])
    return rows


def draw_sample(current, names, previous_sample):
    """Per codebase and rule: the finding count and the findings to judge."""
    sample = previous_sample or {"seed": SEED, "size": SAMPLE_SIZE, "drawn": {}}
    for name in names:
        cells = {}
        rows = [tuple(f) for f in current["codebases"][name]["findings"]]
        for rule in sorted({r[2] for r in rows}):
            of_rule = sorted({r for r in rows if r[2] == rule})
            count = sum(1 for r in rows if r[2] == rule)
            if len(of_rule) > sample["size"]:
                chosen = sorted(random.Random(f"{sample['seed']}:{name}:{rule}").sample(of_rule, sample["size"]))
            else:
                chosen = of_rule
            cells[rule] = {"count": count, "findings": [list(r) for r in of_rule],
                           "drawn": [list(r) for r in chosen]}
        sample["drawn"][name] = cells
    return sample


def write_sample(sample, verdicts):
    """Write the sample, and add a row with an empty verdict for each drawn finding not yet judged."""
    SAMPLE.write_text(json.dumps(sample, indent=1) + "\n")
    have = {(v["codebase"], v["path"], v["line"], v["id"]) for v in verdicts}
    rows = list(verdicts)
    for name, cells in sample["drawn"].items():
        for rule, cell in cells.items():
            for path, line, _ in cell["drawn"]:
                if (name, path, line, rule) not in have:
                    rows.append({"codebase": name, "path": path, "line": line, "id": rule,
                                 "verdict": "", "reason": ""})
    order = {n: i for i, (n, *_) in enumerate(CODEBASES)}
    rows.sort(key=lambda v: (v["id"], order.get(v["codebase"], 99), v["path"], v["line"]))
    with open(VERDICTS, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=["codebase", "path", "line", "id", "verdict", "reason"])
        w.writeheader()
        w.writerows(rows)


def print_precision(current, names):
    if not SAMPLE.exists():
        return
    sample = json.loads(SAMPLE.read_text())
    verdicts = read_verdicts()
    per_cell = collections.defaultdict(collections.Counter)
    for v in verdicts:
        if v["verdict"]:
            per_cell[(v["id"], v["codebase"])][v["verdict"]] += 1
    rules = sorted({rule for cells in sample["drawn"].values() for rule in cells})
    now = {n: findings_of(current, n) for n in names}
    # The same verdicts, of the findings this run still gives, weighted by
    # this run's counts: the precision after a change.
    per_cell_now = collections.defaultdict(collections.Counter)
    for v in verdicts:
        if v["verdict"] and v["codebase"] in now and (v["path"], v["line"], v["id"]) in now[v["codebase"]]:
            per_cell_now[(v["id"], v["codebase"])][v["verdict"]] += 1
    print(f"\nPrecision of judged findings (seed {sample['seed']}, weighted by each codebase's count when drawn; "
          "'now': the judged findings this run still gives, weighted by this run's counts)")
    print(f"{'rule':7}{'found':>7}{'judged':>8}{'right':>7}{'wrong':>7}{'advice':>8}{'precision':>11}"
          f"{'now':>7}{'now':>9}  unjudged codebases")
    for rule in rules:
        found_now = 0
        weighted_now = weight_now = 0.0
        for name in names:
            count = sum(1 for f in now[name] if f[2] == rule)
            found_now += count
            c = per_cell_now.get((rule, name), collections.Counter())
            if count and sum(c.values()):
                weighted_now += count * c["right"] / sum(c.values())
                weight_now += count
        precision_now = f"{100 * weighted_now / weight_now:8.1f}%" if weight_now else f"{'-':>9}"
        found = judged = 0
        kinds = collections.Counter()
        weighted = weight = 0.0
        unjudged = []
        for name, cells in sample["drawn"].items():
            if rule not in cells:
                continue
            found += cells[rule]["count"]
            c = per_cell.get((rule, name), collections.Counter())
            n = sum(c.values())
            if n < len(cells[rule]["drawn"]):
                unjudged.append(f"{SHORT.get(name, name)} {len(cells[rule]['drawn']) - n}")
            if n:
                judged += n
                kinds.update(c)
                weighted += cells[rule]["count"] * c["right"] / n
                weight += cells[rule]["count"]
        precision = f"{100 * weighted / weight:9.1f}%" if weight else f"{'-':>10}"
        print(f"{rule:7}{found:>7}{judged:>8}{kinds['right']:>7}{kinds['wrong']:>7}{kinds['wrong advice']:>8}"
              f"{precision:>11}{found_now:>7}{precision_now:>9}  {', '.join(unjudged)}")
    # judged findings the current run no longer gives, and new findings since the draw
    gone = [v for v in verdicts if v["verdict"] and v["codebase"] in now
            and (v["path"], v["line"], v["id"]) not in now[v["codebase"]]]
    print(f"\nJudged findings this run no longer gives: {len(gone)}")
    for v in gone:
        print(f"  {v['id']} {v['codebase']} {v['path']}:{v['line']}  [{v['verdict']}] {v['reason']}")
    came = []
    for n in names:
        cells = sample["drawn"].get(n)
        if cells is None:
            continue
        then = {tuple(f) for cell in cells.values() for f in cell["findings"]}
        came += [(n, f) for f in sorted(now[n]) if f not in then]
    print(f"Findings this run gives that were not there when the sample was drawn: {len(came)}")
    for n, (path, line, rule) in came:
        print(f"  {rule} {n} {path}:{line}")


# -- main -------------------------------------------------------------------

def default_tessary():
    beside = pathlib.Path(sys.executable).parent / "tessary"
    return shutil.which("tessary") or (str(beside) if beside.exists() else "tessary")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", action="append", metavar="NAME", help="only this codebase (repeatable)")
    parser.add_argument("--previous", type=pathlib.Path, default=RESULTS, help="results to compare with")
    parser.add_argument("--write", action="store_true", help="overwrite bench/ecosystem-results.json")
    parser.add_argument("--sample", action="store_true",
                        help="draw the sample of findings to judge afresh from this run")
    parser.add_argument("--tessary", default=default_tessary(), help="the tessary command")
    parser.add_argument("--cache", type=pathlib.Path, default=HERE / ".ecosystem", help="download folder")
    parser.add_argument("--from-results", action="store_true",
                        help="run nothing: report on the previous results file")
    args = parser.parse_args()

    known = [c[0] for c in CODEBASES]
    for n in args.only or []:
        if n not in known:
            parser.error(f"unknown codebase {n}; one of {', '.join(known)}")
    chosen = [c for c in CODEBASES if not args.only or c[0] in args.only]
    previous = json.loads(args.previous.read_text()) if args.previous.exists() else {}

    if args.from_results:
        current = previous
    else:
        version = subprocess.run([args.tessary, "--version"], capture_output=True, text=True).stdout.strip()
        current = {"tessary": version, "codebases": {}}
        for name, project, ver, filename, sha in chosen:
            archive = fetch(args.cache, project, ver, filename, sha)
            root = unpack(args.cache, name, archive, sha)
            print(f"{name} {ver} ...", end=" ", flush=True, file=sys.stderr)
            result = run_codebase(args.tessary, args.cache, name, root)
            result = {"version": ver, "file": filename, "sha256": sha, **result}
            current["codebases"][name] = result
            print(f"{sum(result['counts'].values())} findings, {result['check']['seconds']}s", file=sys.stderr)
    names = [c[0] for c in chosen if c[0] in current.get("codebases", {})]

    if previous and not args.from_results:
        print_changes(previous, current, names)
    print_table(current, names)
    if args.sample:
        old = json.loads(SAMPLE.read_text()) if SAMPLE.exists() else None
        write_sample(draw_sample(current, names, old), read_verdicts())
    print_precision(current, names)

    if args.write:
        if args.only and previous:  # keep the codebases that were not run
            merged = dict(previous)
            merged["tessary"] = current["tessary"]
            merged["codebases"] = {**previous.get("codebases", {}), **current["codebases"]}
            current = merged
        order = {n: i for i, n in enumerate(known)}
        current["codebases"] = dict(sorted(current["codebases"].items(), key=lambda kv: order.get(kv[0], 99)))
        text = json.dumps(current, indent=1)
        # one line for each finding: [path, line, id]
        text = re.sub(r'\[\n\s+("(?:[^"\\]|\\.)*"),\n\s+(\d+),\n\s+("[A-Z]\d+")\n\s+\]', r"[\1, \2, \3]", text)
        RESULTS.write_text(text + "\n")


if __name__ == "__main__":
    main()
