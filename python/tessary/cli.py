"""The ``tessary`` command: lint a Django project from the terminal, in CI
and in pre-commit. A thin front end over the compiled modules."""
import argparse
import gc
import json
import logging
import os
import pathlib
import sys

import tessary
from tessary.output import (advice_entries, format_github, format_json, format_sarif, format_text,
                            print_version_advice, ShownPaths, symbol_of, unified_diff)
from tessary.rules import changes_model_fields, fix_grade, fixable_ids, rule_catalogue, unsafe_fix_reasons
from tessary.runner import cached_lint, django_minor, project_django_version
from tessary.terminal import print_warnings, printable

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


def resolve_ids(names, catalogue):
    """Ids from a mix of ids and symbols (`ALL`: every rule); unknown names
    are a usage error."""
    by_symbol = {rule["symbol"]: msgid for msgid, rule in catalogue.items()}
    ids = set()
    for name in names:
        name = name.strip()
        if not name:
            continue
        if name.upper() == "ALL":
            ids |= set(catalogue)
        elif name.upper() in catalogue:
            ids.add(name.upper())
        elif name in by_symbol:
            ids.add(by_symbol[name])
        else:
            raise UsageError(f"unknown rule {name!r} (see 'tessary rules')")
    return ids


# --------------------------------------------------------------------------
# The project and its files


def find_project_root(start):
    """(root, how it was found): see meta.find_project_root."""
    from tessary import meta

    return meta.find_project_root(str(start))


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


def default_ids(catalogue):
    """The rules `check`, `fix` and `suggest` run when none are selected."""
    return {msgid for msgid, rule in catalogue.items() if rule["default"]}


def chosen_ids(args, settings, key, catalogue):
    """The ids of --select or --ignore (`key`), else of the configured list
    and its extend- list; --extend-select or --extend-ignore add to either.
    No selected ids stands for the default rule set."""
    given = getattr(args, key)
    extra = getattr(args, f"extend_{key}")
    ids = resolve_ids(given.split(",") if given else configured_list(settings.get(key)), catalogue)
    more = resolve_ids((extra.split(",") if extra else [])
                       + ([] if given else configured_list(settings.get(f"extend-{key}"))), catalogue)
    if key == "select" and not ids:
        ids = default_ids(catalogue)
    return ids | more


# A module that does not parse or could not be analysed is reported
# whatever is selected: its findings are unknown.
ALWAYS_REPORTED = frozenset({"E0001", "F0001"})


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

    def fix_whitelist(self, path, catalogue):
        """The ids `tessary fix` may fix in one project file, or None for
        every id."""
        ignored = self.ignored_in(path)
        if not self.select and not ignored:
            return None
        return sorted((self.select or set(catalogue)) - ignored)

    def wanted(self, records):
        ignored = {}
        out = []
        for record in records:
            path = record["path"]
            if path not in ignored:
                ignored[path] = self.ignored_in(path)
            msgid = record["message-id"]
            selected = not self.select or msgid in self.select or msgid in ALWAYS_REPORTED
            if msgid != "C1000" and selected and msgid not in ignored[path]:
                out.append(record)
        return out


def start_path(args):
    """Where the project root is looked for: the first PATH, else the
    working directory."""
    return args.paths[0] if args.paths else pathlib.Path.cwd()


def scope(args, catalogue):
    """The project root, how it was found, the selection of findings, and
    the files the command's PATH arguments name, less the excluded ones."""
    start = start_path(args)
    if not start.exists():
        raise UsageError(f"{start}: no such file or directory")
    root, how = find_project_root(start)
    settings = front_end_settings(root)
    per_file = [(pattern, resolve_ids(configured_list(names), catalogue))
                for pattern, names in settings.get("per-file-ignores", {}).items()]
    selection = Selection(chosen_ids(args, settings, "select", catalogue),
                          chosen_ids(args, settings, "ignore", catalogue), per_file)
    exclude = settings.get("exclude", [])
    return root, how, selection, narrow(project_files(root, exclude), root, args.paths)


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


def settings_module_line(root):
    from tessary import meta

    found = meta.find_settings_modules(str(root))
    if not found:
        return "- (none found: no DJANGO_SETTINGS_MODULE named, no settings module that sets INSTALLED_APPS and the like)"
    modpath, how = found[0]
    return f"{modpath} ({how})"


def show_settings(root, how, environment, selection, catalogue, args):
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
        ("project root", f"{root} (found by {how})"),
        ("environment", describe_environment(environment)),
        ("environment paths", os.pathsep.join(environment["paths"]) or "-"),
        ("Django", django),
        ("Django requirement", requirement),
        ("settings module", settings_module_line(root)),
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
    root, how, selection, files = scope(args, catalogue)
    environment = analysed_environment(root, args.python)
    if any(f.endswith(".py") for f in files) and not getattr(args, "show_settings", False):
        require_django(environment)
    return root, how, selection, files, environment


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
    root, how, selection, files, environment = lint_scope(args, catalogue)
    if args.show_settings:
        show_settings(root, how, environment, selection, catalogue, args)
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
    elif args.format in ("github", "sarif"):
        # GitHub resolves paths from the repository's top, which may lie
        # above the project.
        from tessary import meta

        prefix = meta.repository_prefix(str(root)) if meta.in_git_repository(str(root)) else None
        if args.format == "github":
            output = format_github(entries, prefix or "")
        else:
            output = format_sarif(entries, catalogue, prefix)
    else:
        colour = target is None and sys.stdout.isatty() and not os.environ.get("NO_COLOR")
        output = format_text(entries, catalogue, checked, args.statistics, colour, args.quiet,
                             shown=ShownPaths(root, start_path(args)))
    write_report(output, target)
    if args.version_advice:
        print_version_advice(meta_records)
    if any(entry["message-id"].startswith("F") for entry in entries):
        return EXIT_ERROR
    return EXIT_FINDINGS if entries and not args.exit_zero else EXIT_CLEAN


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
        chosen = "default" if rule["default"] else "opt-in"
        print(f"{msgid}  {rule['symbol']:30} {chosen:8} {fix:12} {rule['description']}")
    print("\ndefault: 'check', 'fix' and 'suggest' run it; opt-in: only when selected (--select, "
          "--extend-select, or ALL; 'tessary explain ID' says why). safe: 'tessary fix' applies it; unsafe: it can "
          "change what the program does or stores, so 'tessary fix' applies it only with --unsafe-fixes; "
          "+mig: the fix changes model fields (run makemigrations after it)")
    return EXIT_CLEAN


def command_fix(args):
    from tessary import meta, runner
    from tessary.staticanalysis import transformer

    if args.jobs < 1:
        raise UsageError("--jobs takes a number of processes, 1 or more")
    catalogue = rule_catalogue()
    root, _, selection, files = scope(args, catalogue)
    whitelist = {path: selection.fix_whitelist(path, catalogue) for path in files}

    environment = analysed_environment(root, args.python)
    if any(f.endswith(".py") for f in files):
        require_django(environment)

    import tessary.staticanalysis.shims  # noqa: F401

    unsafe = args.unsafe_fixes
    if unsafe is None:
        unsafe = front_end_settings(root).get("unsafe-fixes", False)
    settings_modpath, code_style = meta.get_settings_modpath(str(root)), meta.get_code_style(str(root))
    django_version = project_django_version(root, environment)

    def fix(part, found=None, claim=None):
        return transformer.fix_project(str(root), part, settings_modpath, code_style, search_paths=environment["paths"],
                                       unsafe_fixes=unsafe, django_version=django_version, found=found, claim=claim)

    # A project large enough for several workers is linted by them, as
    # `check` lints it, and the modules with findings are then fixed in as
    # many processes as they pay for (each builds their trees again).
    modules = {path: None for path in files if path.endswith(".py")}
    if runner.worker_count(args.jobs, [runner.work(root, path) for path in modules]) > 1:
        found = runner.lint(root, modules, args.jobs, environment, config=args.config)
        result = runner.fix_in_parallel(root, whitelist, found, args.jobs,
                                        lambda part, claim: fix(part, found, claim))
    else:
        result = fix(whitelist)
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
    uncovered = sum(result.get("uncovered", {}).values())
    if uncovered:
        ids = ", ".join(sorted(result["uncovered"]))
        summary += f" (and {uncovered} more that {'these fixes' if fixed != 1 else 'this fix'} brought about: {ids})"
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


def command_suggest(args):
    catalogue = rule_catalogue()
    root, _, selection, files, environment = lint_scope(args, catalogue)
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
        entry["end_line"] = record.get("endLine")

    unsafe = args.unsafe_fixes
    if unsafe is None:
        unsafe = front_end_settings(root).get("unsafe-fixes", False)
    import tessary.staticanalysis.shims  # noqa: F401
    from tessary import meta
    from tessary.staticanalysis import suggest

    review = suggest.build_review(str(root), entries, hunks, unsafe, environment["paths"],
                                  project_django_version(root, environment), meta.repository_prefix(str(root)))
    posted = review["comments"]
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


def explanation(msgid, catalogue):
    """What `tessary explain` prints of one rule, as lines."""
    from tessary import message_templates

    rule = catalogue[msgid]
    lines = [f"{msgid} {rule['symbol']}: {rule['description']}", "",
             f"What it finds: {rule['finds']}", f"Why it matters: {rule['why']}"]
    advice = getattr(message_templates, msgid, None)
    if advice:
        lines.append(f"Advice: {advice}")
    if rule["example"]:
        lines += ["", "Before:", "    " + rule["example"].replace("\n", "\n    "),
                  "After:", "    " + rule["better"].replace("\n", "\n    ")]
    if not rule["default"]:
        lines += ["", f"Opt-in: {rule['opt_in_because']}. It runs only when selected "
                      f"(--select {msgid}, --extend-select {msgid}, or extend-select in [tool.tessary])."]
    if rule.get("fix") and msgid in fixable_ids():
        lines += ["", f"Automatic fix: {rule['fix']}"]
        reason = unsafe_fix_reasons().get(msgid)
        if reason:
            lines.append(f"The fix is unsafe ('tessary fix' applies it only with --unsafe-fixes): {reason}.")
        else:
            lines.append("The fix is safe: the program means the same after it.")
    return lines


def command_explain(args):
    catalogue = rule_catalogue()
    (msgid,) = resolve_ids([args.rule], catalogue)
    print("\n".join(explanation(msgid, catalogue)))
    return EXIT_CLEAN


def command_server(args):
    try:
        from tessary import server
    except ImportError as error:
        raise UsageError(f"'tessary server' needs the language-server packages ({error.name} is missing): "
                         "pip install 'tessary[server]'") from None
    return server.serve(args)


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
    fix.add_argument("--jobs", "-j", type=int, default=os.cpu_count() or 1, metavar="N",
                     help="lint in N worker processes before fixing (default: the number of cores)")
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

    server = commands.add_parser(
        "server", help="a language server over stdin and stdout: findings and fixes in the editor")
    server.add_argument("--python", type=pathlib.Path, metavar="PATH",
                        help="the project's Python environment (as for 'tessary check'; the client's "
                             "initialization option 'python' comes first)")
    server.set_defaults(handler=command_server)
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
    except (BrokenPipeError, ValueError):  # a closed pipe, or a stream the language server closed
        pass
    os._exit(int(code or 0))


if __name__ == "__main__":
    run()
