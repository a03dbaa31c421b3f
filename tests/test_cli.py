"""The tessary command."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import jsonschema
import pytest

from tests.conftest import make_project, run

from tessary import cli, runner

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "bookshop"
SCHEMA = pathlib.Path(__file__).resolve().parent / "data" / "sarif-schema-2.1.0.json"

MODELS = textwrap.dedent(
    """\
    from django.db import models


    class Book(models.Model):
        title = models.CharField(max_length=10)
    """
)


@pytest.fixture
def project(tmp_path):
    root = make_project(tmp_path, MODELS)
    (root / "shop" / "page.html").write_text("<p>fine</p>\n")
    return root


def git(root, *args):
    subprocess.run(["git", *args], cwd=root, check=True, capture_output=True)


def test_demo_project_text_output(capsys, monkeypatch):
    monkeypatch.chdir(DEMO)
    code, out, _ = run(capsys, "check", "--no-progress", "--jobs", "1")
    assert code == 1
    lines = out.splitlines()
    assert lines[0].startswith("bookshop/settings.py:1:1: C4010 missing-hsts-seconds  ")
    assert "\ncatalog/models.py:9:16: C2000 nullable-string-field  nickname: a string field" in out
    assert out.count("[fixable]") == 6 and out.count("[unsafe fix]") == 14
    assert lines[-1].startswith("Found 31 findings (20 fixable, 14 of them with --unsafe-fixes) in ")
    assert "\ntemplates/catalog/book_list.html:7:7: C7000 hard-coded-url" in out


def test_clean_project_exits_zero(capsys, project):
    code, out, _ = run(capsys, "check", "--no-progress", project)
    assert code == 0 and out.strip() == "No findings in 4 files."


def test_select_ignore_and_configuration(capsys, project):
    (project / "shop" / "models.py").write_text(MODELS + "    note = models.TextField(null=True, editable=True)\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert sorted(e["message-id"] for e in json.loads(out)) == ["C2000", "C2002"]
    _, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--select", "nullable-string-field", project)
    assert [e["message-id"] for e in json.loads(out)] == ["C2000"]
    (project / "pyproject.toml").write_text('[tool.tessary]\nignore = ["C2000"]\n')
    _, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert [e["message-id"] for e in json.loads(out)] == ["C2002"]
    _, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--ignore", "C2002", project)
    assert [e["message-id"] for e in json.loads(out)] == ["C2000"]


def test_diff_reports_only_changed_lines(capsys, project):
    git(project, "init", "-q")
    (project / "shop" / "models.py").write_text(MODELS + "    note = models.TextField(null=True)\n")
    git(project, "add", ".")
    git(project, "-c", "user.email=t@t", "-c", "user.name=t", "commit", "-qm", "base")
    text = (project / "shop" / "models.py").read_text()
    (project / "shop" / "models.py").write_text(text + "    other = models.TextField(null=True)\n")
    (project / "shop" / "views.py").write_text("from shop.models import Book\nn = len(Book.objects.all())\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", "--diff", "HEAD", project)
    assert code == 1
    assert [(e["path"], e["line"], e["message-id"]) for e in json.loads(out)] == [
        ("shop/models.py", 7, "C2000"),
        ("shop/views.py", 2, "C9000"),
    ]
    code, out, _ = run(capsys, "check", "--no-progress", project)
    assert code == 1 and out.splitlines()[-1].startswith("Found 3 findings")


def test_sarif_output_is_valid(capsys):
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "sarif", DEMO)
    document = json.loads(out)
    jsonschema.validate(document, json.loads(SCHEMA.read_text()))
    results = document["runs"][0]["results"]
    assert code == 1 and len(results) == 31
    assert {r["ruleId"] for r in results} >= {"C2000", "C7001", "C9003"}


def test_github_annotations(capsys, project):
    (project / "shop" / "models.py").write_text(MODELS + "    note = models.TextField(null=True)\n")
    _, out, _ = run(capsys, "check", "--no-progress", "--format", "github", project)
    assert out.strip().startswith(
        "::warning file=shop/models.py,line=6,col=12,title=C2000 nullable-string-field::note: a string field"
    )


def test_syntax_error_is_a_finding_and_other_files_are_checked(capsys, project):
    (project / "shop" / "broken.py").write_text("def broken(:\n")
    (project / "shop" / "views.py").write_text("from shop.models import Book\nn = len(Book.objects.all())\n")
    code, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert code == 1
    assert [(e["path"], e["message-id"]) for e in json.loads(out)] == [
        ("shop/broken.py", "E0001"), ("shop/views.py", "C9000"),
    ]


def test_errors_exit_two_with_one_line(capsys, project, tmp_path):
    code, out, err = run(capsys, "check", tmp_path / "missing")
    assert code == 2 and err.count("\n") == 1 and err.startswith("tessary: error: ")
    (project / "pyproject.toml").write_text("[tool.tessary\n")
    code, out, err = run(capsys, "check", project)
    assert code == 2 and err.count("\n") == 1 and "pyproject.toml" in err
    code, _, err = run(capsys, "check", "--select", "nonsense", DEMO)
    assert code == 2 and "nonsense" in err


def test_paths_narrow_the_files_and_ignored_folders_are_skipped(capsys, project):
    (project / "shop" / "models.py").write_text(MODELS + "    note = models.TextField(null=True)\n")
    venv = project / ".venv" / "lib"
    venv.mkdir(parents=True)
    shutil.copy(project / "shop" / "models.py", venv / "models.py")
    (project / "node_modules").mkdir()
    shutil.copy(project / "shop" / "models.py", project / "node_modules" / "models.py")
    _, out, _ = run(capsys, "check", "--no-progress", "--format", "json", project)
    assert [e["path"] for e in json.loads(out)] == ["shop/models.py"]
    code, out, _ = run(capsys, "check", "--no-progress", project / "shop" / "page.html")
    assert code == 0 and out.strip() == "No findings in 1 file."


def test_jobs_give_identical_output(capsys, monkeypatch):
    _, one, _ = run(capsys, "check", "--no-progress", "--no-cache", "--format", "json", "--jobs", "1", DEMO)
    # The demo is too small to pay for a second worker: with any work
    # enough, its modules are claimed by two and three processes, each once.
    monkeypatch.setattr(runner, "WORK_PER_WORKER", 1)
    started = []
    monkeypatch.setattr(runner, "lint_in_parallel", lambda root, parts, *rest: started.append(len(parts)) or
                        lint_in_parallel(root, parts, *rest))
    for jobs in ("2", "3"):
        _, many, _ = run(capsys, "check", "--no-progress", "--no-cache", "--format", "json", "--jobs", jobs, DEMO)
        assert many == one
    assert started == [2, 3]


lint_in_parallel = runner.lint_in_parallel
merge_fix_results = runner.merge_fix_results


def test_fix_in_several_processes_gives_what_one_gives(capsys, monkeypatch):
    # The demo's settings module, migration, models, views and template all
    # have fixes; any work pays for workers here, so the lint and then the
    # modules with fixes are shared among processes.
    one = run(capsys, "fix", "--diff", "--unsafe-fixes", "--jobs", "1", DEMO)
    assert "+++ b/catalog/models.py" in one[1] and "+++ b/templates/catalog/book_list.html" in one[1]
    monkeypatch.setattr(runner, "WORK_PER_WORKER", 1)
    monkeypatch.setattr(runner, "FIX_WORK_PER_WORKER", 1)
    merged = []
    monkeypatch.setattr(runner, "merge_fix_results",
                        lambda results, order: merged.append(len(results)) or merge_fix_results(results, order))
    for jobs in ("2", "3"):
        assert run(capsys, "fix", "--diff", "--unsafe-fixes", "--jobs", jobs, DEMO) == one
    assert merged == [2, 3]
    # Settings modules stay with the main process (their fixes weigh the
    # settings as a whole): one with a settings finding, or a name like one.
    found = [{"path": "conf/production.py", "message-id": "C4010"}, {"path": "catalog/models.py", "message-id": "C2000"},
             {"path": "catalog/settings/models.py", "message-id": "C2000"}]
    whitelist = dict.fromkeys(["conf/production.py", "catalog/models.py", "catalog/settings/models.py"])
    assert runner.fixable_modules(whitelist, found) == ["catalog/models.py"]


def test_the_worker_count_follows_the_work():
    module, template = 10_000, 10_000 / runner.TEMPLATE_DISCOUNT
    assert runner.worker_count(8, [module] * 20) == 1  # a small project: one process
    assert runner.worker_count(2, [module] * 40) == 2
    assert runner.worker_count(8, [module] * 40) == 40 * module // runner.WORK_PER_WORKER
    # Templates weigh little: a hundred of them do not pay for a worker.
    assert runner.worker_count(2, [template] * 100 + [module] * 20) == 1
    assert runner.worker_count(4, [10**9]) == 1  # never more workers than files


def test_a_worker_that_fails_is_an_error_not_fewer_findings(monkeypatch):
    parent = os.getpid()
    real = runner.lint_batch

    def failing(*args, **kwargs):
        if os.getpid() != parent:
            raise MemoryError("the worker ran out")
        return real(*args, **kwargs)

    monkeypatch.setattr(runner, "lint_batch", failing)
    monkeypatch.setattr(runner, "WORK_PER_WORKER", 1)
    environment = cli.analysed_environment(DEMO, None)
    files = {path: None for path in cli.project_files(DEMO)}
    with pytest.raises(RuntimeError, match="a worker process ended without its findings(.|\n)*MemoryError"):
        runner.lint(DEMO, files, 2, environment)


@pytest.mark.parametrize(
    "name, text, specs, minor",
    [
        ("requirements.txt", "Django>=2.2,<3\n", ">=2.2,<3", "2.2"),
        ("requirements/base.txt", "Django>=4.1,<5\n", ">=4.1,<5", "4.1"),
        ("requirements-dev.in", "django~=5.0\n", "~=5.0", "5.0"),
        ("pyproject.toml", '[project]\nname = "shop"\ndependencies = ["Django==4.0.*"]\n', "==4.0.*", "4.0"),
    ],
)
def test_version_advice_and_settings_name_the_requirement_file(capsys, project, name, text, specs, minor):
    (project / name).parent.mkdir(exist_ok=True)
    (project / name).write_text(text)
    code, _, err = run(capsys, "check", "--no-progress", "--version-advice", project)
    assert code == 0
    assert f"Django requirement {specs} in {name}: oldest admitted minor version {minor}" in err
    code, out, _ = run(capsys, "check", "--show-settings", project)
    assert code == 0 and f"Django requirement: {specs} in {name}, checked as {minor}\n" in out


def test_rules_and_explain(capsys):
    code, out, _ = run(capsys, "rules")
    assert code == 0 and "C2000  nullable-string-field" in out and "E0001  syntax-error" in out
    code, out, _ = run(capsys, "explain", "nullable-string-field")
    assert code == 0 and out.startswith("C2000 nullable-string-field: Nullable")
    assert "Before:" in out and "After:" in out
    code, _, err = run(capsys, "explain", "C0000")
    assert code == 2


def test_console_command_flushes_everything_before_its_quick_exit(tmp_path):
    """The console command ends the process without tearing it down: the
    whole output must be written first, and the exit status kept."""
    command = [sys.executable, "-c", "from tessary.cli import run; run()", "check", "--no-progress", "--no-cache",
               "--format", "json", "--jobs", "1", str(DEMO)]
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    assert done.returncode == 1, done.stderr
    assert len(json.loads(done.stdout)) == 31
    # A reader that stops early is no error of ours.
    reader = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    reader.stdout.read(10)
    reader.stdout.close()
    assert reader.wait() in (0, 1)
    assert b"Traceback" not in reader.stderr.read()
    reader.stderr.close()


def test_work_is_shared_by_size_in_contiguous_parts(tmp_path):
    sizes = {"a/big.py": 60_000, "a/x.py": 10, "a/y.py": 10, "b/one.py": 20_000, "b/two.py": 20_000,
             "b/three.py": 20_000}
    for name, size in sizes.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_text("#" * size)
    line_filter = {name: None for name in sizes}
    parts = runner.shares(tmp_path, line_filter, 2)
    assert [list(part) for part in parts] == [["a/big.py", "a/x.py", "a/y.py"], ["b/one.py", "b/two.py", "b/three.py"]]
    assert runner.shares(tmp_path, line_filter, 1) == [line_filter]
    assert runner.shares(tmp_path, {}, 2) == []
    # Never more parts than asked, every file in exactly one, in order.
    parts = runner.shares(tmp_path, line_filter, 4)
    assert len(parts) <= 4 and [k for part in parts for k in part] == list(sizes)
    # A part ends between two packages when that is near its share, and
    # inside a package when no such place is.
    for name, size in {"c/one.py": 9_000, "c/two.py": 9_000, "c/three.py": 9_000, "c/four.py": 9_000}.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_text("#" * size)
    two_packages = {name: None for name in ("a/big.py", "c/one.py", "c/two.py", "c/three.py", "c/four.py")}
    assert [list(part) for part in runner.shares(tmp_path, two_packages, 2)] == [
        ["a/big.py"], ["c/one.py", "c/two.py", "c/three.py", "c/four.py"]]
    (tmp_path / "site" / "a").mkdir(parents=True)
    (tmp_path / "site" / "c").mkdir()
    for name in two_packages:
        (tmp_path / "site" / name).write_text((tmp_path / name).read_text())
    (tmp_path / "manage.py").write_text("")
    nested = {**{f"site/{name}": None for name in two_packages}, "manage.py": None}
    assert [list(part) for part in runner.shares(tmp_path, nested, 2)][0] == ["site/a/big.py"]
    one_package = {name: None for name in ("c/one.py", "c/two.py", "c/three.py", "c/four.py")}
    assert [list(part) for part in runner.shares(tmp_path, one_package, 2)] == [
        ["c/one.py", "c/two.py"], ["c/three.py", "c/four.py"]]


def test_a_worker_claims_each_module_once_it_has_linted_the_one_before():
    # Claimed while the trees are all built first, modules would be shared
    # out by what building them costs, not by what linting them costs.
    from tessary.staticanalysis import checker

    environment = cli.analysed_environment(DEMO, None)
    modules = [path for path in cli.project_files(DEMO) if path.endswith(".py")]
    linted, seen = [], []

    def claim(item):
        seen.append(len(linted))
        return True

    checker.get_messages(str(DEMO), dict.fromkeys(modules), runner.django_minor(environment),
                         search_paths=environment["paths"], progress=lambda: linted.append(1), claim=claim)
    assert len(modules) > 3 and seen == list(range(len(modules)))
