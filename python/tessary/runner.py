"""Linting a project's files: the work split into shares of about equal
cost, the worker processes, the progress bar, the results cache's policy
(which files to lint afresh, what to keep) and the order of the findings."""
import json
import multiprocessing
import os
import pathlib
import sys
import threading
import time


# Files done, shared with the worker processes for the progress bar.
_files_done = None
# Held by the progress bar while it writes, and while workers are forked: a
# worker forked while the bar held the terminal stream's own lock would
# wait for it forever the first time it wrote there.
_writing = threading.Lock()


def share_counter(counter):
    global _files_done
    _files_done = counter


def count_file():
    if _files_done is not None:
        with _files_done.get_lock():
            _files_done.value += 1


def lint_batch(root, batch, environment, config=None, claim=None):
    """Findings of one batch of the line filter, in tessary's own order
    (with `claim`, of the batch's modules it grants: see Claims)."""
    import tessary.staticanalysis.shims  # noqa: F401  (once per process)
    from tessary import meta
    from tessary.staticanalysis import checker

    meta.use_config_file(config)  # a spawned worker starts without --config

    return checker.get_messages(str(root), batch, default_django_version=django_minor(environment),
                                search_paths=environment["paths"], progress=count_file, claim=claim)


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
# A template is tokenized and matched, never built into a tree and
# inferred: byte for byte, about a thirtieth of a module's work.
TEMPLATE_DISCOUNT = 32


def work(root, key):
    """What linting one file costs, in bytes of Python source."""
    try:
        weight = FILE_COST + os.path.getsize(os.path.join(root, key))
    except OSError:
        weight = FILE_COST
    return weight / TEMPLATE_DISCOUNT if key.endswith(".html") else weight


def shares(root, line_filter, count, weights=None):
    """The filter split into `count` contiguous parts of about equal work,
    reckoned from the files' sizes. Neighbouring files stay together, and a
    part ends between two packages (the first folders below the one all the
    files in folders share) when such a place is near its share: a package's modules
    import each other, and astroid's work on them is then done once."""
    keys = list(line_filter)
    if count <= 1 or len(keys) <= 1:
        return [line_filter] if keys else []
    if weights is None:
        weights = [work(root, key) for key in keys]
    before = [0]  # the work of the files before each index
    for weight in weights:
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


# The least work, in bytes of Python source, that pays for one more
# worker: a worker builds for itself the trees of the Django modules its
# files lead to, and below this its share of the project saves less time
# than that and its start cost.
WORK_PER_WORKER = 160 * 1024


def worker_count(jobs, weights):
    """How many workers the work pays for, at most `jobs`."""
    return max(1, min(jobs, len(weights), int(sum(weights) // WORK_PER_WORKER)))


def lint(root, line_filter, jobs, environment, counter=None, config=None):
    weights = [work(root, key) for key in line_filter]
    parts = shares(root, line_filter, worker_count(jobs, weights), weights)
    share_counter(counter)
    if len(parts) > 1:
        findings = lint_in_parallel(root, parts, environment, config)
    else:
        findings = lint_batch(root, line_filter, environment, config)
    relative = {}  # each file's findings share its path: resolved once
    for record in findings:
        path = record["path"]
        if path not in relative:
            relative[path] = relative_path(root, path)
        record["path"] = relative[path]
    return sorted(findings, key=sort_key)


def prepare_workers(root, environment):
    """Work every worker would otherwise do for itself, done once before
    they are forked, so that they share it: the checks loaded, the
    project's configuration, dependency and settings files read (a file
    passed over is warned about once), and the trees of Django's model
    layer, which inference of any model, manager or queryset leads to. Then
    the collector is told to leave all of it alone, so that no worker's
    collection copies those pages."""
    import gc

    import tessary.staticanalysis.shims  # noqa: F401
    from tessary.staticanalysis import checker

    checker.prepare_workers(str(root), django_minor(environment), environment["paths"])
    gc.freeze()


class Claims:
    """Which worker lints each module, settled as they go. Every worker is
    handed all the modules: first its own share, in order, then the
    others' from the far end back. Just before building a module's tree it
    claims the module, and lints it only if no other worker has: a worker
    whose share goes quickly takes over the tail of a slow one's, and
    neighbouring modules still mostly go to one worker."""

    def __init__(self, root, modules, context):
        self.index = {str(pathlib.Path(root).joinpath(module)): n for n, module in enumerate(modules)}
        self.taken = context.Array("b", len(modules))  # shared with the forked workers

    def __call__(self, item):
        return self.take(item.filepath)

    def take(self, filepath):
        n = self.index.get(filepath)
        if n is None:
            return True
        with self.taken.get_lock():
            if self.taken[n]:
                return False
            self.taken[n] = 1
            return True


def claim_order(parts, own):
    """Part `own`'s modules, then the other parts' from the last back."""
    others = [key for n, part in enumerate(parts) if n != own for key in part]
    return [*parts[own], *reversed(others)]


def lint_in_parallel(root, parts, environment, config):
    """Findings of the parts, linted by this process and a worker process
    for each other part. Templates and the dependency advice stay here;
    the modules go to whichever process claims them first."""
    fork = hasattr(os, "fork")
    if fork:
        prepare_workers(root, environment)
    context = multiprocessing.get_context("fork" if fork else "spawn")
    modules = [[key for key in part if key.endswith(".py")] for part in parts]
    everything = {key: value for part in parts for key, value in part.items()}
    claims = Claims(root, [key for part in modules for key in part], context)
    batches = [{key: everything[key] for key in claim_order(modules, n)} for n in range(len(parts))]
    batches[0].update((key, value) for key, value in everything.items() if not key.endswith(".py"))
    workers = []
    for batch in batches[1:]:
        receiver, sender = context.Pipe(duplex=False)
        process = context.Process(target=worker_main, daemon=True,
                                  args=(sender, root, batch, environment, config, _files_done, claims))
        with _writing:
            process.start()
        sender.close()
        workers.append((process, receiver))
    if fork:  # the workers keep theirs frozen; this process collects as before
        import gc

        gc.unfreeze()
    findings = lint_batch(root, batches[0], environment, config, claims)
    for process, receiver in workers:
        findings.extend(outcome_of(process, receiver))
    return findings


def worker_main(sender, root, batch, environment, config, counter, claims):
    """A worker's whole life: the findings of the modules it claims, or
    what went wrong, sent back to the parent."""
    share_counter(counter)
    send_outcome(sender, lambda: lint_batch(root, batch, environment, config, claims))


def send_outcome(sender, work):
    """What `work()` returns, or what went wrong, sent back to the parent."""
    import traceback

    try:
        result = ("ok", work())
    except BaseException:  # the parent reports it; nothing may end this silently
        result = ("error", traceback.format_exc())
    sender.send(result)
    sender.close()


def outcome_of(process, receiver, what="findings"):
    """What a worker sent back; an error if it sent nothing or failed."""
    try:
        outcome, value = receiver.recv()
    except EOFError:
        outcome, value = "error", None
    process.join()
    if outcome != "ok":
        detail = f":\n{value}" if value else f" (exit code {process.exitcode})"
        raise RuntimeError(f"a worker process ended without its {what}{detail}")
    return value


# Fixes whose findings any module may carry but which edit settings
# modules as a whole stay in the main process, with the templates.
SETTINGS = "settings"
# The least work, in bytes of the modules to fix, that pays for a worker
# forked to fix them: it starts with the trees the lint built here, and
# fixing a module costs about two lints of it (its fixed text is linted
# again to count what was fixed).
FIX_WORK_PER_WORKER = 32 * 1024


def fixable_modules(whitelist, found):
    """The whitelist's modules with findings that have a fix, less those
    that settings fixes may edit: the work that may go to other processes."""
    from tessary.rules import registry

    rules = registry()
    fixable, settings_like = set(), set()
    for record in found:
        path = record["path"]
        rule = rules.get(record["message-id"])
        if rule is None or rule["module"] == SETTINGS:
            settings_like.add(path)
        elif rule["fix"]:
            fixable.add(path)
    return [path for path in whitelist
            if path in fixable and path.endswith(".py") and path not in settings_like
            and not any(SETTINGS in part for part in pathlib.PurePosixPath(path).parts)]


def fix_in_parallel(root, whitelist, found, jobs, fix):
    """`fix(whitelist, claim)` done by this process and, when the modules
    to fix are enough to pay for them, forked workers, merged into one
    result in the whitelist's order of files. This process keeps the
    templates, the files without findings and every module that settings
    fixes may edit; the modules with fixes go to whichever process claims
    them first (see Claims), the workers taking them from the far end. The
    workers start with the trees of the Django modules the lint built."""
    movable = fixable_modules(whitelist, found)
    weights = [work(root, path) for path in movable]
    count = max(1, min(jobs, len(weights), int(sum(weights) // FIX_WORK_PER_WORKER)))
    if count <= 1 or not hasattr(os, "fork"):
        return fix(whitelist, None)
    context = multiprocessing.get_context("fork")
    claims = Claims(root, movable, context)

    def claim(path):
        return claims.take(str(pathlib.Path(root).joinpath(path)))

    parts = [list(part) for part in shares(root, dict.fromkeys(movable), count, weights)]
    workers = []
    for n in range(1, len(parts)):
        part = {path: whitelist[path] for path in claim_order(parts, n)}
        receiver, sender = context.Pipe(duplex=False)
        process = context.Process(target=send_outcome, daemon=True, args=(sender, lambda part=part: fix(part, claim)))
        with _writing:
            process.start()
        sender.close()
        workers.append((process, receiver))
    results = [fix(whitelist, claim), *(outcome_of(process, receiver, "fixes") for process, receiver in workers)]
    return merge_fix_results(results, list(whitelist))


def merge_fix_results(results, order):
    """One fix result of several, the changed files in `order` (templates,
    fixed after the modules, last)."""
    merged = {key: {} for key in ("fixed", "unfixed", "uncovered", "held_back", "refused", "changed_models",
                                  "originals", "read")}
    files = []
    for result in results:
        files.extend(result["files"])
        for key in ("fixed", "unfixed", "uncovered", "held_back"):
            for name, count in result.get(key, {}).items():
                merged[key][name] = merged[key].get(name, 0) + count
        for key in ("refused", "originals", "read"):
            merged[key].update(result[key])
        for app, models in result["changed_models"].items():
            merged["changed_models"].setdefault(app, []).extend(models)
    place = {path: n for n, path in enumerate(order)}
    merged["files"] = sorted(files, key=lambda change: (change[1].endswith(".html"), place.get(change[1], len(place))))
    return merged


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
            with _writing:
                sys.stderr.write(f"\rtessary: [{bar}] {done}/{self.files} files  {elapsed:.0f}s")
                sys.stderr.flush()
        if shown:
            with _writing:
                sys.stderr.write("\r\033[K")
                sys.stderr.flush()

    def __exit__(self, *exc):
        self.done.set()
        if self.thread.is_alive():
            self.thread.join()


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
    wanted = meta.filter_records(hits + [r for r in fresh if r["message-id"] != "C1000"], line_filter, root)
    return sorted(wanted + [r for r in fresh if r["message-id"] == "C1000"], key=sort_key)
