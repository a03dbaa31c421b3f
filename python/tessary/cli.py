"""The ``tessary`` command: lint a Django project from the terminal, in CI
and in pre-commit. A thin front end over the compiled modules."""
import argparse
import concurrent.futures
import gc
import json
import logging
import multiprocessing
import os
import pathlib
import sys
import threading
import time

import tessary
from tessary.terminal import git_quoted, print_warnings, printable

EXIT_CLEAN, EXIT_FINDINGS, EXIT_ERROR = 0, 1, 2
SOURCE_SUFFIXES = (".py", ".html")


class UsageError(Exception):
    """A problem with the command line or the project's configuration."""


class ArgumentParser(argparse.ArgumentParser):
    """A command line that does not parse is one error line, as any other
    usage error is: no usage block."""

    def error(self, message):
        raise UsageError(message)


# --------------------------------------------------------------------------
# The rule catalogue


def rule_catalogue():
    """{id: rule} for every finding tessary reports, in id order: the rule
    registry less the version advice (which --version-advice prints)."""
    from tessary.staticanalysis.helpers import RULES

    return {rule["id"]: rule for rule in sorted(RULES, key=lambda r: r["id"]) if rule["id"] != "C1000"}


def registry():
    from tessary.staticanalysis.helpers import RULES

    return {rule["id"]: rule for rule in RULES}


def fixable_ids():
    return frozenset(msgid for msgid, rule in registry().items() if rule["fix"])


def unsafe_fix_reasons():
    """{id: why its fix can change what the program does} for unsafe fixes."""
    return {msgid: rule["unsafe_because"] for msgid, rule in registry().items() if rule["unsafe_because"]}


def fix_grade(msgid):
    """"safe", "unsafe", or None when the finding has no automatic fix."""
    rule = registry().get(msgid)
    return rule["fix_grade"] if rule else None


def resolve_ids(names, catalogue):
    """Ids from a mix of ids and symbols; unknown names are a usage error."""
    by_symbol = {rule["symbol"]: msgid for msgid, rule in catalogue.items()}
    ids = set()
    for name in names:
        name = name.strip()
        if not name:
            continue
        if name.upper() in catalogue:
            ids.add(name.upper())
        elif name in by_symbol:
            ids.add(by_symbol[name])
        else:
            raise UsageError(f"unknown rule {name!r} (see 'tessary rules')")
    return ids


# --------------------------------------------------------------------------
# The project and its files


def find_project_root(start):
    start = start.resolve()
    folder = start if start.is_dir() else start.parent
    for candidate in (folder, *folder.parents):
        if (candidate / "manage.py").is_file() or (candidate / "pyproject.toml").is_file():
            return candidate
    return folder


def project_files(root, exclude=()):
    """Project-relative paths of the .py and .html files to lint, sorted,
    less those an `exclude` pattern matches."""
    from tessary import meta

    files, _ = meta.project_files(str(root), list(exclude))  # files passed over are logged as warnings
    return list(files)


def narrow(files, root, paths):
    """Keep the files at or below the given paths."""
    if not paths:
        return files
    wanted = []
    for path in paths:
        resolved = path.resolve()
        if not resolved.exists():
            raise UsageError(f"{path}: no such file or directory")
        try:
            wanted.append(resolved.relative_to(root).as_posix())
        except ValueError:
            raise UsageError(f"{path}: outside the project at {root}") from None
    return [f for f in files if any(w in (".", f) or f.startswith(w.rstrip("/") + "/") for w in wanted)]


def default_base(root):
    from tessary import meta

    return meta.default_base(str(root))


def diff_ranges(root, rev, context):
    """{path: [(first line, last line)]} of the new side of each hunk of the
    diff from `rev` to the work tree with `context` lines around each
    change, paths relative to the project root. Untracked new files map to
    None (every line is new)."""
    from tessary import meta

    try:
        return meta.diff_ranges(str(root), rev, context)
    except ValueError as error:
        raise UsageError(str(error)) from None


def changed_lines(root, rev):
    """{path: set of changed line numbers, or None for new untracked files},
    paths relative to the project root."""
    return {
        path: None if spans is None else {n for first, last in spans for n in range(first, last + 1)}
        for path, spans in diff_ranges(root, rev, 0).items()
    }


# --------------------------------------------------------------------------
# Linting


# Files done, shared with the worker processes for the progress bar.
_files_done = None


def share_counter(counter):
    global _files_done
    _files_done = counter


def count_file():
    if _files_done is not None:
        with _files_done.get_lock():
            _files_done.value += 1


def lint_batch(root, batch, environment, config=None):
    """Findings of one batch of the line filter, in tessary's own order."""
    import tessary.staticanalysis.shims  # noqa: F401  (once per process)
    from tessary import meta
    from tessary.staticanalysis import checker

    meta.use_config_file(config)  # a spawned worker starts without --config

    return checker.get_messages(str(root), batch, default_django_version=django_minor(environment),
                                search_paths=environment["paths"], progress=count_file)


def project_django_version(root, environment):
    """The Django release the checks judge by: the oldest the project's
    requirement admits, else the installed one's."""
    from tessary.staticanalysis import dependencies

    found = dependencies.resolve_django_version(str(root))
    return (found or {}).get("version") or django_minor(environment)


def django_minor(environment):
    """The installed Django's feature release, when tessary knows it: the
    version the checks assume when the project's requirements name none."""
    from tessary.staticanalysis import dependencies

    version = environment.get("django") or ""
    minor = ".".join(version.split(".")[:2])
    return minor if minor in dependencies.versions else "3.2"


def sort_key(record):
    return (
        0 if record["path"].endswith(".py") else 1,
        record["path"], record.get("line") or 0, record.get("column") or 0, record["message-id"],
    )


# What a file costs to lint beyond its bytes, in bytes of source: reading,
# tokenizing and walking it.
FILE_COST = 2048


def shares(root, line_filter, count):
    """The filter split into `count` contiguous parts of about equal work,
    reckoned from the files' sizes. Neighbouring files stay together, and a
    part ends between two packages (the first folders below the one all the
    files in folders share) when such a place is near its share: a package's modules
    import each other, and astroid's work on them is then done once."""
    keys = list(line_filter)
    if count <= 1 or len(keys) <= 1:
        return [line_filter] if keys else []
    before = [0]  # the work of the files before each index
    for key in keys:
        try:
            weight = FILE_COST + os.path.getsize(os.path.join(root, key))
        except OSError:
            weight = FILE_COST
        before.append(before[-1] + weight)
    folders = [pathlib.PurePosixPath(key).parts[:-1] for key in keys]
    # Files beside the shared folder's packages (manage.py) do not narrow it.
    shared = len(os.path.commonprefix([folder for folder in folders if folder] or [()]))
    package = [folder[shared] if len(folder) > shared else None for folder in folders]
    share = before[-1] / count
    cuts = []
    for n in range(1, count):
        # Leave at least one file for each part still to come.
        low, high = (cuts[-1] + 1 if cuts else 1), len(keys) - (count - n)
        if low > high:
            break
        places = range(low, high + 1)
        distance = lambda i, target=share * n: abs(before[i] - target)  # noqa: E731
        between_packages = [i for i in places if package[i] != package[i - 1] and distance(i) <= share / 4]
        cuts.append(min(between_packages or places, key=distance))
    edges = [0, *cuts, len(keys)]
    return [{key: line_filter[key] for key in keys[a:b]} for a, b in zip(edges, edges[1:])]


# Below this many files per worker, starting workers costs more than it
# saves.
FILES_PER_WORKER = 8


def lint(root, line_filter, jobs, environment, counter=None, config=None):
    workers = max(1, min(jobs, len(line_filter) // FILES_PER_WORKER))
    parts = shares(root, line_filter, workers)
    findings = []
    if len(parts) > 1:
        # Each worker reads the dependency files; read them here first, so
        # that a file passed over is warned about once, not once a worker.
        from tessary.staticanalysis import dependencies

        dependencies.resolve_django_version(str(root))
        context = multiprocessing.get_context("fork" if hasattr(os, "fork") else "spawn")
        with concurrent.futures.ProcessPoolExecutor(max_workers=len(parts), mp_context=context,
                                                    initializer=share_counter, initargs=(counter,)) as pool:
            for result in pool.map(lint_batch, [root] * len(parts), parts, [environment] * len(parts),
                                   [config] * len(parts)):
                findings.extend(result)
    else:
        share_counter(counter)
        findings = lint_batch(root, line_filter, environment, config)
    relative = {}  # each file's findings share its path: resolved once
    for record in findings:
        path = record["path"]
        if path not in relative:
            relative[path] = relative_path(root, path)
        record["path"] = relative[path]
    return sorted(findings, key=sort_key)


def relative_path(root, path):
    candidate = pathlib.Path(path)
    if not candidate.is_absolute():
        candidate = pathlib.Path.cwd() / candidate
    try:
        return candidate.resolve().relative_to(root).as_posix()
    except ValueError:
        return path


class Progress:
    """A progress bar on stderr, on a terminal only, once a run has taken
    more than a second: files done out of the total, and the time taken."""

    WIDTH = 30

    def __init__(self, files, enabled):
        self.files = files
        self.enabled = enabled and files > 0 and sys.stderr.isatty()
        self.counter = multiprocessing.Value("i", 0) if self.enabled else None
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        if self.enabled:
            self.thread.start()
        return self

    def _run(self):
        started = time.monotonic()
        shown = False
        while not self.done.wait(0.2):
            elapsed = time.monotonic() - started
            if elapsed < 1:
                continue
            shown = True
            done = min(self.counter.value, self.files)
            filled = self.WIDTH * done // self.files
            bar = "#" * filled + "-" * (self.WIDTH - filled)
            sys.stderr.write(f"\rtessary: [{bar}] {done}/{self.files} files  {elapsed:.0f}s")
            sys.stderr.flush()
        if shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()

    def __exit__(self, *exc):
        self.done.set()
        if self.thread.is_alive():
            self.thread.join()


# --------------------------------------------------------------------------
# Output


def advice_entries(records, root):
    from tessary import render

    return render.render_message_centric_advice(
        messages=records, project_root=str(root), settings={}, settings_modpath="", code_style={},
        code_reader=lambda path: (root / path).read_text(encoding="utf-8"),
    )


def symbol_of(record, catalogue):
    return record.get("symbol") or catalogue.get(record["message-id"], {}).get("symbol", "")


def format_text(entries, catalogue, files, statistics, colour, quiet=False):
    def paint(text, code):
        return f"\033[{code}m{text}\033[0m" if colour else text

    lines = []
    for entry in entries:
        # Columns count from 1, as editors do (JSON keeps pylint's 0-based column).
        where = paint(f"{printable(entry['path'])}:{entry['line']}:{entry['column'] + 1}:", "1")
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


def format_github(entries):
    lines = []
    for entry in entries:
        props = ",".join(
            f"{key}={github_escape(str(value), property_value=True)}"
            for key, value in (
                ("file", printable(entry["path"])), ("line", entry["line"]), ("col", entry["column"] + 1),
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


def format_sarif(entries, catalogue):
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
                    "artifactLocation": {"uri": sarif_uri(entry["path"]), "uriBaseId": "%SRCROOT%"},
                    "region": {"startLine": max(entry["line"], 1), "startColumn": entry["column"] + 1},
                }
            }],
        })
    document = {
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "version": "2.1.0",
        "runs": [{
            "tool": {"driver": {"name": "tessary", "version": tessary.__version__, "rules": rules}},
            "results": results,
        }],
    }
    return json.dumps(document, indent=2)


# --------------------------------------------------------------------------
# Commands


def configured_list(value):
    if value is None:
        return []
    if isinstance(value, str):
        return value.split(",")
    return list(value)


def front_end_settings(root):
    """The front end's own keys of [tool.tessary] (select, ignore, their
    extend- forms, exclude, per-file-ignores, python, unsafe-fixes). The
    whole configuration is checked here, before any work: a wrong entry is
    one error line."""
    from tessary import meta

    try:
        meta.get_toml_config(root)
        meta.get_code_style(root)
        return meta.get_front_end_config(root)
    except ValueError as error:
        raise UsageError(str(error)) from None


def chosen_ids(args, settings, key, catalogue):
    """The ids of --select or --ignore (`key`), else of the configured list
    and its extend- list; --extend-select or --extend-ignore add to either.
    No selected ids stands for every rule, which extending leaves as it is."""
    given = getattr(args, key)
    extra = getattr(args, f"extend_{key}")
    ids = resolve_ids(given.split(",") if given else configured_list(settings.get(key)), catalogue)
    more = resolve_ids((extra.split(",") if extra else [])
                       + ([] if given else configured_list(settings.get(f"extend-{key}"))), catalogue)
    if key == "select" and not ids:
        return ids
    return ids | more


class Selection:
    """Which findings a command reports: the selected ids (none: all), the
    ignored ids, and per-file-ignores, as (pattern, ids) pairs."""

    def __init__(self, select, ignore, per_file=()):
        self.select, self.ignore, self.per_file = select, ignore, list(per_file)

    def ignored_in(self, path):
        """The ids ignored in one project file: --ignore's and those of the
        per-file-ignores patterns that match it."""
        from tessary import meta

        ignored = set(self.ignore)
        for pattern, ids in self.per_file:
            if meta.path_matches([pattern], path):
                ignored |= ids
        return ignored

    def wanted(self, records):
        ignored = {}
        out = []
        for record in records:
            path = record["path"]
            if path not in ignored:
                ignored[path] = self.ignored_in(path)
            msgid = record["message-id"]
            if msgid != "C1000" and (not self.select or msgid in self.select) and msgid not in ignored[path]:
                out.append(record)
        return out


def scope(args, catalogue):
    """The project root, the selection of findings, and the files the
    command's PATH arguments name, less the excluded ones."""
    start = args.paths[0] if args.paths else pathlib.Path.cwd()
    if not start.exists():
        raise UsageError(f"{start}: no such file or directory")
    root = find_project_root(start)
    settings = front_end_settings(root)
    per_file = [(pattern, resolve_ids(configured_list(names), catalogue))
                for pattern, names in settings.get("per-file-ignores", {}).items()]
    selection = Selection(chosen_ids(args, settings, "select", catalogue),
                          chosen_ids(args, settings, "ignore", catalogue), per_file)
    exclude = settings.get("exclude", [])
    return root, selection, narrow(project_files(root, exclude), root, args.paths)


def analysed_environment(root, python):
    """The Python environment the project is analysed against (where astroid
    finds Django and the project's other packages)."""
    from tessary import meta

    try:
        return meta.find_python_environment(str(root), str(python) if python else None)
    except ValueError as error:
        raise UsageError(str(error)) from None


def describe_environment(environment):
    if environment["prefix"] is None:
        return "tessary's own environment"
    return f"{environment['source']} environment at {environment['prefix']}"


def require_django(environment):
    """Without Django nothing is a model, a queryset or a migration: every
    Python check would pass without a word."""
    if environment["django"]:
        return
    where = describe_environment(environment)
    raise UsageError(
        f"Django is not installed in {where}, so no Python check can recognise a model; "
        "point --python at the project's virtual environment, install Django there, "
        "or add Django to the pre-commit hook's additional_dependencies"
    )


def show_settings(root, environment, selection, catalogue, args):
    from tessary import meta
    from tessary.staticanalysis import dependencies

    django = environment["django"] or "not found"
    requirement = dependencies.resolve_django_version(str(root))
    if requirement:
        requirement = f"{requirement['specs'] or '(unpinned)'} in {requirement['path']}, checked as {requirement['version']}"
    else:
        requirement = f"none found; checked as {django_minor(environment)}"
    select, ignore = selection.select, selection.ignore
    rules = [msgid for msgid in catalogue if (not select or msgid in select) and msgid not in ignore]
    settings = front_end_settings(root)
    per_file = "; ".join(f"{pattern}: {', '.join(sorted(ids))}" for pattern, ids in selection.per_file)
    lines = [
        ("project root", str(root)),
        ("environment", describe_environment(environment)),
        ("environment paths", os.pathsep.join(environment["paths"]) or "-"),
        ("Django", django),
        ("Django requirement", requirement),
        ("settings module", meta.get_settings_modpath(str(root)) or "-"),
        ("configuration file", str(meta.config_file(str(root)))),
        ("line length", str(meta.get_code_style(str(root))["line_length"])),
        ("rules", ", ".join(rules)),
        ("excluded", ", ".join(settings.get("exclude", [])) or "-"),
        ("per-file ignores", per_file or "-"),
        ("output file", str(args.output_file) if args.output_file else "-"),
        ("exit status with findings", "0 (--exit-zero)" if args.exit_zero else "1"),
        ("quiet", "yes" if args.quiet else "no"),
    ]
    for name, value in lines:
        print(f"{name}: {printable(value)}")


def lint_scope(args, catalogue):
    """What a linting command works on: the project root, the selected and
    ignored ids, the files, and the analysed environment (with Django, when
    Python files are to be linted and the command will lint)."""
    if args.jobs < 1:
        raise UsageError("--jobs takes a number of processes, 1 or more")
    root, selection, files = scope(args, catalogue)
    environment = analysed_environment(root, args.python)
    if any(f.endswith(".py") for f in files) and not getattr(args, "show_settings", False):
        require_django(environment)
    return root, selection, files, environment


def output_file(path):
    """--output-file's FILE, checked before any work: a file in a folder
    that exists."""
    if path is None:
        return None
    if path.is_dir():
        raise UsageError(f"--output-file {path}: is a folder")
    if not path.absolute().parent.is_dir():
        raise UsageError(f"--output-file {path}: no such folder {path.absolute().parent}")
    return path


def write_report(output, path):
    """The report on stdout, or in the file --output-file names."""
    if path is None:
        if output:
            print(output)
        return
    try:
        with open(path, "w", encoding="utf-8", errors="surrogateescape") as stream:
            stream.write(output + "\n" if output else "")
    except OSError as error:
        raise UsageError(f"--output-file {path}: {error.strerror}") from None


def command_check(args):
    catalogue = rule_catalogue()
    target = output_file(args.output_file)
    root, selection, files, environment = lint_scope(args, catalogue)
    if args.show_settings:
        show_settings(root, environment, selection, catalogue, args)
        return EXIT_CLEAN
    if args.diff is not None:
        rev = args.diff or default_base(root)
        changes = changed_lines(root, rev)
        line_filter = {f: changes[f] for f in files if f in changes}
    else:
        line_filter = {f: None for f in files}
    if args.version_advice:
        line_filter["META"] = None

    checked = sum(1 for key in line_filter if key != "META")
    records = cached_lint(root, line_filter, args, environment)
    meta_records = [r for r in records if r["message-id"] == "C1000"]
    records = selection.wanted(records)
    entries = advice_entries(records, root)
    for entry, record in zip(entries, records):
        entry["symbol"] = symbol_of(record, catalogue)
        entry["fix"] = fix_grade(entry["message-id"]) if entry["fixable"] else None
        entry["column"] = entry["column"] or 0
        entry["line"] = entry["line"] or 0

    if args.format == "json":
        output = format_json(entries)
    elif args.format == "github":
        output = format_github(entries)
    elif args.format == "sarif":
        output = format_sarif(entries, catalogue)
    else:
        colour = target is None and sys.stdout.isatty() and not os.environ.get("NO_COLOR")
        output = format_text(entries, catalogue, checked, args.statistics, colour, args.quiet)
    write_report(output, target)
    if args.version_advice:
        print_version_advice(meta_records)
    if any(entry["message-id"].startswith("F") for entry in entries):
        return EXIT_ERROR
    return EXIT_FINDINGS if entries and not args.exit_zero else EXIT_CLEAN


def cached_lint(root, line_filter, args, environment):
    """The findings of the filter's files: from the results cache for the
    files whose text and imported project modules did not change, from a
    lint of the whole file for the others (then kept in the cache)."""
    from tessary import meta

    files = [f for f in line_filter if f != "META"]
    cache_dir = None if args.no_cache else meta.results_cache_folder(str(root), args.cache_dir)
    keys, cached, hits = {}, {}, []
    if cache_dir is not None:
        fingerprint = meta.results_fingerprint(str(root), django_minor(environment), environment["paths"])
        keys = meta.results_cache_keys(str(root), files, fingerprint, str(cache_dir))
        cached = meta.read_results_cache(str(cache_dir))
    to_lint = {}
    for path in files:
        entry = cached.get(path)
        if entry is not None and path in keys and entry["key"] == keys[path]:
            hits.extend(entry["records"])
        else:
            to_lint[path] = None if cache_dir is not None else line_filter[path]
    if "META" in line_filter:
        to_lint["META"] = None
    fresh = []
    if to_lint:  # a warm run of an unchanged project lints nothing
        with Progress(len(to_lint) - ("META" in to_lint),
                      enabled=not args.no_progress and args.format == "text") as progress:
            fresh = lint(root, to_lint, args.jobs, environment, progress.counter, config=args.config)
    if cache_dir is None:
        return fresh
    # What is kept is what is read back: plain JSON values.
    fresh = json.loads(json.dumps(fresh, default=str))
    by_path = {path: [] for path in to_lint if path != "META"}
    for record in fresh:
        if record["path"] in by_path:
            by_path[record["path"]].append(record)
    # A file (or a module it imports) that changed while it was linted: what
    # was found is of neither text, so it is not kept.
    after = meta.results_cache_keys(str(root), list(by_path), fingerprint, str(cache_dir)) if by_path else {}
    for path, records in by_path.items():
        # A file that could not be analysed is tried again next time.
        if path in keys and after.get(path) == keys[path] and not any(r.get("type") == "fatal" for r in records):
            cached[path] = {"key": keys[path], "records": records}
    cached = {path: entry for path, entry in cached.items() if (root / path).is_file()}
    meta.write_results_cache(str(cache_dir), cached)
    wanted = meta.filter_records(hits + [r for r in fresh if r["message-id"] != "C1000"], line_filter)
    return sorted(wanted + [r for r in fresh if r["message-id"] == "C1000"], key=sort_key)


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


def changes_model_fields(msgid):
    """Whether the fix of `msgid` changes what Django's migration
    autodetector sees (makemigrations is due after it)."""
    rule = registry().get(msgid)
    return bool(rule and rule["changes_model_fields"])


def command_rules(args):
    catalogue = rule_catalogue()
    fixable = fixable_ids()
    reasons = unsafe_fix_reasons()
    if args.format == "json":
        print(json.dumps([
            dict(rule, fixable=rule["id"] in fixable, fix_grade=fix_grade(rule["id"]),
                 unsafe_because=reasons.get(rule["id"]),
                 changes_model_fields=rule["id"] in fixable and changes_model_fields(rule["id"]))
            for rule in catalogue.values()
        ], indent=2))
        return EXIT_CLEAN
    for msgid, rule in catalogue.items():
        fix = "-"
        if msgid in fixable:
            fix = "unsafe" if msgid in reasons else "safe"
            if changes_model_fields(msgid):
                fix += "+mig"
        print(f"{msgid}  {rule['symbol']:30} {fix:12} {rule['description']}")
    print("\nsafe: 'tessary fix' applies it; unsafe: it can change what the program does or stores, so "
          "'tessary fix' applies it only with --unsafe-fixes ('tessary explain ID' says why); "
          "+mig: the fix changes model fields (run makemigrations after it)")
    return EXIT_CLEAN


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


def command_fix(args):
    from tessary import meta
    from tessary.staticanalysis import transformer

    catalogue = rule_catalogue()
    root, selection, files = scope(args, catalogue)
    whitelist = {}
    for path in files:
        ignored = selection.ignored_in(path)
        whitelist[path] = sorted((selection.select or set(catalogue)) - ignored) if selection.select or ignored else None

    environment = analysed_environment(root, args.python)
    if any(f.endswith(".py") for f in files):
        require_django(environment)

    import tessary.staticanalysis.shims  # noqa: F401

    unsafe = args.unsafe_fixes
    if unsafe is None:
        unsafe = front_end_settings(root).get("unsafe-fixes", False)
    result = transformer.fix_project(str(root), whitelist, meta.get_settings_modpath(str(root)),
                                     meta.get_code_style(str(root)), search_paths=environment["paths"],
                                     unsafe_fixes=unsafe, django_version=project_django_version(root, environment))
    changes = result["files"]
    if args.diff:
        for text, path in changes:
            sys.stdout.write(unified_diff(path, result["originals"][path], text))
    else:
        written = set(transformer.write_files(str(root), changes, expected=result["read"]))
        for _, path in changes:
            if path not in written:
                result["refused"][path] = "it changed on disk while tessary fixed it; run 'tessary fix' again"

    fixed = sum(result["fixed"].values())
    unfixed = sum(result["unfixed"].values())
    verb = "Would fix" if args.diff else "Fixed"
    summary = f"{verb} {fixed} finding{'s' if fixed != 1 else ''} in {len(changes)} file{'s' if len(changes) != 1 else ''}"
    summary += f"; {unfixed} finding{'s have' if unfixed != 1 else ' has'} no automatic fix."
    if not args.quiet:
        print(summary, file=sys.stderr if args.diff else sys.stdout)
    held_back = sum(result["held_back"].values())
    if held_back and not args.quiet:
        ids = ", ".join(sorted(result["held_back"]))
        print(f"Held back {held_back} unsafe fix{'es' if held_back != 1 else ''} ({ids}), which can change what "
              "the program does or stores: 'tessary fix --unsafe-fixes' applies them, "
              "'tessary explain ID' says why.", file=sys.stderr if args.diff else sys.stdout)
    for path, why in sorted(result["refused"].items()):
        print(f"tessary: {printable(path)}: left unchanged: {printable(why)}", file=sys.stderr)
    if result["changed_models"] and not args.diff:
        for app, models in sorted(result["changed_models"].items()):
            print(printable(f"Model fields changed in {app}: {', '.join(sorted(set(models)))}."))
        print("Run 'python manage.py makemigrations' to record them.")
    if result["refused"]:
        return EXIT_ERROR
    if args.diff and changes:
        return EXIT_FINDINGS
    return EXIT_CLEAN


# --------------------------------------------------------------------------
# Review suggestions


def comment_body(entry, catalogue, applied, reasons):
    """A finding as a review comment: its id, symbol and advice, and what to
    know about its fix."""
    msgid = entry["message-id"]
    body = f"**{msgid}** `{entry['symbol']}`: {entry['advice'] or catalogue.get(msgid, {}).get('description', '')}"
    grade = fix_grade(msgid)
    if grade == "unsafe" and applied:
        body += f"\n\nThis fix is unsafe: {reasons[msgid]}. Check it before you commit it."
    elif grade == "unsafe":
        body += f"\n\n`tessary fix --unsafe-fixes` can fix this; it is not suggested because {reasons[msgid]}."
    if grade and (applied or grade == "safe") and changes_model_fields(msgid):
        body += "\n\nRun `python manage.py makemigrations` after this fix."
    return body


def inside_hunks(comment, hunks):
    """Whether a review comment lies in one hunk of the pull request's
    diff, as GitHub requires of every comment of a review."""
    spans = hunks.get(comment["path"], ())
    if spans is None:  # a new file: every line is in the diff
        return True
    first = comment.get("start_line", comment["line"])
    return any(start <= first and comment["line"] <= end for start, end in spans)


def review_summary(entries, posted, outside):
    count = len(entries)
    fixable = sum(1 for c in posted if "suggestion\n" in c["body"])
    noun = "finding" if count == 1 else "findings"
    lines = [f"tessary found {count} {noun} on the lines this change touches"
             f" ({fixable} comment{'s' if fixable != 1 else ''} with a suggested fix)."
             if count else "tessary found nothing on the lines this change touches."]
    if outside:
        lines += ["", "Outside the lines this review can comment on:", ""]
        for comment in outside:
            where = comment["path"]
            if comment["line"]:
                first = comment.get("start_line", comment["line"])
                where += f":{first}" + (f"-{comment['line']}" if first != comment["line"] else "")
            body = comment["body"].replace("suggestion\n", "\n", 1)
            lines.append(f"- `{where}`: " + body.replace("\n", "\n  "))
    return "\n".join(lines)


def command_suggest(args):
    from tessary import meta
    from tessary.staticanalysis import suggest, transformer

    catalogue = rule_catalogue()
    root, selection, files, environment = lint_scope(args, catalogue)
    if args.post and args.diff is None:
        args.diff = ""  # a pull request reviews its own changes
    hunks = None
    if args.diff is not None:
        rev = args.diff or default_base(root)
        changes = changed_lines(root, rev)
        line_filter = {f: changes[f] for f in files if f in changes}
        hunks = diff_ranges(root, rev, 3)
    else:
        line_filter = {f: None for f in files}

    records = selection.wanted(cached_lint(root, line_filter, args, environment))
    entries = advice_entries(records, root)
    for entry, record in zip(entries, records):
        entry["symbol"] = symbol_of(record, catalogue)
        entry["line"] = entry["line"] or 0

    unsafe = args.unsafe_fixes
    if unsafe is None:
        unsafe = front_end_settings(root).get("unsafe-fixes", False)
    reasons = unsafe_fix_reasons()
    whitelist, only_lines = {}, {}
    for entry in entries:
        grade = fix_grade(entry["message-id"])
        if grade == "safe" or (grade == "unsafe" and unsafe):
            whitelist.setdefault(entry["path"], set()).add(entry["message-id"])
            only_lines.setdefault(entry["path"], set()).add(entry["line"])
    fixed = {}
    if whitelist:
        import tessary.staticanalysis.shims  # noqa: F401

        result = transformer.fix_project(
            str(root), {path: sorted(ids) for path, ids in whitelist.items()}, meta.get_settings_modpath(str(root)),
            meta.get_code_style(str(root)), search_paths=environment["paths"], unsafe_fixes=unsafe,
            only_lines=only_lines, django_version=project_django_version(root, environment))
        fixed = {path: (result["originals"][path], text) for text, path in result["files"]}

    comments = [
        {"path": entry["path"], "line": entry["line"], "message-id": entry["message-id"],
         "body": comment_body(entry, catalogue, entry["message-id"] in whitelist.get(entry["path"], ()), reasons)}
        for entry in entries if entry["line"] > 0
    ]
    review_comments = suggest.review_from_fixed_texts(comments, "", fixed)
    posted, outside = [], []
    for comment in review_comments:
        if "start_line" in comment:
            comment["start_side"] = "RIGHT"
        (posted if hunks is None or inside_hunks(comment, hunks) else outside).append(comment)
    # A suggestion outside the diff (the load of the static tag library at
    # the top of a template) cannot be posted; the suggestions of the same
    # file that need it say so.
    needed = {}
    for comment in outside:
        if comment["body"].lstrip("`").startswith("suggestion\n"):
            needed.setdefault(comment["path"], []).append(comment.get("start_line", comment["line"]))
    for comment in posted:
        if comment["path"] in needed and "suggestion\n" in comment["body"]:
            lines = ", ".join(str(line) for line in needed[comment["path"]])
            comment["body"] += (f"\n\nThis suggestion needs a change at line {lines} of this file too, outside "
                                "the lines this review can comment on: see the review's summary.")
    # A finding with no line (a file that could not be read) goes to the summary.
    outside += [{"path": e["path"], "line": 0, "body": comment_body(e, catalogue, False, reasons)}
                for e in entries if e["line"] <= 0]
    review = {"event": "COMMENT", "body": review_summary(entries, posted, outside), "comments": posted}
    print(json.dumps(review, indent=2))
    if args.post:
        if not entries:
            print("tessary: nothing found on the changed lines; no review posted.", file=sys.stderr)
        else:
            from tessary import github

            try:
                url = github.post_review(review)
            except github.PostError as error:
                raise UsageError(str(error)) from None
            print(f"tessary: posted a review with {len(posted)} comment{'s' if len(posted) != 1 else ''}"
                  + (f": {url}" if url else "."), file=sys.stderr)
    return EXIT_ERROR if any(e["message-id"].startswith("F") for e in entries) else EXIT_CLEAN


def command_explain(args):
    from tessary import message_templates

    catalogue = rule_catalogue()
    (msgid,) = resolve_ids([args.rule], catalogue)
    rule = catalogue[msgid]
    print(f"{msgid} {rule['symbol']}: {rule['description']}")
    print()
    print(f"What it finds: {rule['finds']}")
    print(f"Why it matters: {rule['why']}")
    advice = getattr(message_templates, msgid, None)
    if advice:
        print(f"Advice: {advice}")
    if rule["example"]:
        print()
        print("Before:")
        print("    " + rule["example"].replace("\n", "\n    "))
        print("After:")
        print("    " + rule["better"].replace("\n", "\n    "))
    if rule.get("fix") and msgid in fixable_ids():
        print()
        print(f"Automatic fix: {rule['fix']}")
        reason = unsafe_fix_reasons().get(msgid)
        if reason:
            print(f"The fix is unsafe ('tessary fix' applies it only with --unsafe-fixes): {reason}.")
        else:
            print("The fix is safe: the program means the same after it.")
    return EXIT_CLEAN


CONFIG_HELP = ("read [tool.tessary] and [tool.black] line-length from this pyproject.toml instead of the project "
               "root's")


def build_parser():
    parser = ArgumentParser(prog="tessary", description="Static analysis for Django projects.")
    parser.add_argument("--version", action="version", version=f"tessary {tessary.__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    check = commands.add_parser("check", help="lint a Django project")
    check.add_argument("paths", nargs="*", type=pathlib.Path, metavar="PATH",
                       help="files or folders to lint (default: the whole project)")
    check.add_argument("--diff", nargs="?", const="", default=None, metavar="REV",
                       help="only lines changed since REV (default: the merge base with main, else HEAD)")
    check.add_argument("--format", choices=("text", "json", "github", "sarif"), default="text")
    check.add_argument("--python", type=pathlib.Path, metavar="PATH",
                       help="the project's Python environment: a virtual environment folder or its interpreter "
                             "(default: [tool.tessary] python, $VIRTUAL_ENV, a folder with pyvenv.cfg at the "
                             "project root, $CONDA_PREFIX, else tessary's own)")
    check.add_argument("--select", metavar="IDS", help="only these ids or symbols, comma separated")
    check.add_argument("--ignore", metavar="IDS", help="never these ids or symbols, comma separated")
    check.add_argument("--extend-select", metavar="IDS", help="these ids or symbols as well as the selected ones")
    check.add_argument("--extend-ignore", metavar="IDS", help="these ids or symbols as well as the ignored ones")
    check.add_argument("--config", type=pathlib.Path, metavar="PATH", help=CONFIG_HELP)
    check.add_argument("--exit-zero", action="store_true",
                       help="exit with status 0 even when there are findings (2 still means an error)")
    check.add_argument("--output-file", type=pathlib.Path, metavar="FILE",
                       help="write the report to FILE instead of stdout")
    check.add_argument("--quiet", "-q", action="store_true", help="print the findings only, without the summary")
    check.add_argument("--statistics", action="store_true", help="count findings per id")
    check.add_argument("--version-advice", action="store_true",
                       help="print the Django requirement found and the oldest minor version it admits")
    check.add_argument("--jobs", "-j", type=int, default=os.cpu_count() or 1, metavar="N",
                       help="lint in N worker processes (default: the number of cores)")
    check.add_argument("--no-progress", action="store_true", help="never show progress on stderr")
    check.add_argument("--cache-dir", type=pathlib.Path, metavar="DIR",
                       help="where the results cache lives (default: .tessary_cache in the project root)")
    check.add_argument("--no-cache", action="store_true",
                       help="lint every file afresh, and neither read nor write the results cache")
    check.add_argument("--show-settings", action="store_true",
                       help="print the project root, the analysed environment, Django, the settings module, "
                            "the line length and the selected rules, and lint nothing")
    check.set_defaults(handler=command_check)

    fix = commands.add_parser("fix", help="fix what can be fixed automatically")
    fix.add_argument("paths", nargs="*", type=pathlib.Path, metavar="PATH",
                     help="files or folders to fix (default: the whole project)")
    fix.add_argument("--diff", action="store_true",
                     help="print the changes as a unified diff and write nothing (exit 1 if there are any)")
    fix.add_argument("--python", type=pathlib.Path, metavar="PATH",
                       help="the project's Python environment: a virtual environment folder or its interpreter "
                             "(default: [tool.tessary] python, $VIRTUAL_ENV, a folder with pyvenv.cfg at the "
                             "project root, $CONDA_PREFIX, else tessary's own)")
    fix.add_argument("--select", metavar="IDS", help="only these ids or symbols, comma separated")
    fix.add_argument("--ignore", metavar="IDS", help="never these ids or symbols, comma separated")
    fix.add_argument("--extend-select", metavar="IDS", help="these ids or symbols as well as the selected ones")
    fix.add_argument("--extend-ignore", metavar="IDS", help="these ids or symbols as well as the ignored ones")
    fix.add_argument("--config", type=pathlib.Path, metavar="PATH", help=CONFIG_HELP)
    fix.add_argument("--quiet", "-q", action="store_true", help="print no summary lines")
    fix.add_argument("--unsafe-fixes", action="store_true", default=None,
                     help="apply the unsafe fixes too, which can change what the program does or stores "
                          "(default: [tool.tessary] unsafe-fixes, else false)")
    fix.set_defaults(handler=command_fix)

    review = commands.add_parser(
        "suggest", help="the findings on changed lines as a pull-request review with one-click fixes")
    review.add_argument("paths", nargs="*", type=pathlib.Path, metavar="PATH",
                        help="files or folders to review (default: the whole project)")
    review.add_argument("--diff", nargs="?", const="", default=None, metavar="REV",
                        help="only lines changed since REV (default: the merge base with main, else HEAD)")
    review.add_argument("--post", action="store_true",
                        help="post the review to the pull request of the GitHub Actions run (implies --diff)")
    review.add_argument("--python", type=pathlib.Path, metavar="PATH",
                        help="the project's Python environment (as for 'tessary check')")
    review.add_argument("--select", metavar="IDS", help="only these ids or symbols, comma separated")
    review.add_argument("--ignore", metavar="IDS", help="never these ids or symbols, comma separated")
    review.add_argument("--extend-select", metavar="IDS", help="these ids or symbols as well as the selected ones")
    review.add_argument("--extend-ignore", metavar="IDS", help="these ids or symbols as well as the ignored ones")
    review.add_argument("--config", type=pathlib.Path, metavar="PATH", help=CONFIG_HELP)
    review.add_argument("--exit-zero", action="store_true",
                        help="exit with status 0 even when there are findings, as suggest always does "
                             "(2 still means an error)")
    review.add_argument("--unsafe-fixes", action="store_true", default=None,
                        help="suggest the unsafe fixes too (default: [tool.tessary] unsafe-fixes, else false)")
    review.add_argument("--jobs", "-j", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="lint in N worker processes (default: the number of cores)")
    review.add_argument("--cache-dir", type=pathlib.Path, metavar="DIR",
                        help="where the results cache lives (default: .tessary_cache in the project root)")
    review.add_argument("--no-cache", action="store_true", help="neither read nor write the results cache")
    review.set_defaults(handler=command_suggest, format="json", no_progress=True)

    rules = commands.add_parser("rules", help="list every rule")
    rules.add_argument("--format", choices=("text", "json"), default="text")
    rules.set_defaults(handler=command_rules)

    explain = commands.add_parser("explain", help="explain one rule, with an example")
    explain.add_argument("rule", metavar="RULE", help="an id such as C2000, or a symbol")
    explain.set_defaults(handler=command_explain)
    return parser


def main(argv=None):
    # The driver logs what it reports as F0001 findings; the findings say it.
    logging.getLogger().addHandler(logging.NullHandler())
    print_warnings()
    parser = build_parser()
    from tessary import meta

    try:
        args = parser.parse_args(argv)
        # --config names the file every reader of the configuration uses.
        meta.use_config_file(getattr(args, "config", None))
        return args.handler(args)
    except UsageError as error:
        print(f"tessary: error: {printable(error)}", file=sys.stderr)
        return EXIT_ERROR
    except BrokenPipeError:
        return EXIT_CLEAN
    finally:
        meta.use_config_file(None)


def run():
    """The console command. Once the output is flushed the process ends at
    once: tearing down the syntax trees of a large project one object at a
    time would add seconds to every run and change nothing. For the same
    reason the cyclic collector runs rarely: almost nothing the run
    allocates is garbage before it ends."""
    gc.set_threshold(50_000, 10, 10)
    code = main()
    try:
        sys.stdout.flush()
        sys.stderr.flush()
    except BrokenPipeError:
        pass
    os._exit(int(code or 0))


if __name__ == "__main__":
    run()
