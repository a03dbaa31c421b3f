"""The repository's pre-commit hooks, run as a project using them would."""
import os
import pathlib
import shutil
import subprocess
import sys

import pytest
import yaml

REPOSITORY = pathlib.Path(__file__).resolve().parent.parent
DEMO = REPOSITORY / "examples" / "bookshop"


def pre_commit(*args, cwd, env):
    return subprocess.run([sys.executable, "-m", "pre_commit", *args], cwd=cwd, env=env, capture_output=True,
                          text=True, check=False, stdin=subprocess.DEVNULL)


def test_manifest_offers_the_check_and_fix_hooks():
    done = pre_commit("validate-manifest", ".pre-commit-hooks.yaml", cwd=REPOSITORY, env=os.environ)
    assert done.returncode == 0, done.stdout + done.stderr
    hooks = {hook["id"]: hook for hook in yaml.safe_load((REPOSITORY / ".pre-commit-hooks.yaml").read_text())}
    assert hooks["tessary"]["entry"] == hooks["tessary-check"]["entry"] == "tessary check --no-progress"
    assert hooks["tessary-fix"]["entry"] == "tessary fix"
    for hook in hooks.values():
        assert hook["language"] == "python" and "additional_dependencies" not in hook
        assert set(hook["types_or"]) == {"python", "html"}


@pytest.fixture
def demo_repository(tmp_path):
    """A copy of the demo project in a git repository of its own, analysed
    against the test's environment (which has Django)."""
    project = tmp_path / "bookshop"
    shutil.copytree(DEMO, project, ignore=shutil.ignore_patterns(".tessary_cache", ".venv", "__pycache__"))
    os.symlink(sys.prefix, project / ".venv")
    for args in (["init", "-q"], ["add", "."],
                 ["-c", "user.email=t@t", "-c", "user.name=t", "commit", "-qm", "demo"]):
        subprocess.run(["git", *args], cwd=project, check=True, capture_output=True)
    (project / ".git" / "info" / "exclude").write_text(".venv\n")
    return project


@pytest.fixture(scope="module")
def hooks_home(tmp_path_factory):
    """pre-commit's own folder, shared by the hook runs: the hooks'
    environment (tessary built from this repository's source, which takes
    minutes) is made once."""
    if not os.environ.get("TESSARY_PRE_COMMIT_TESTS"):
        pytest.skip("builds tessary from source in pre-commit's own environment (about ten minutes, with a package "
                    "index): set TESSARY_PRE_COMMIT_TESTS=1 to run it")
    return tmp_path_factory.mktemp("pre-commit-home")


def try_repo(project, hook, home):
    env = dict(os.environ, PRE_COMMIT_HOME=str(home))
    env.pop("VIRTUAL_ENV", None)
    return pre_commit("try-repo", str(REPOSITORY), hook, "--all-files", cwd=project, env=env)


def test_check_hook_reports_the_demo_projects_findings(demo_repository, hooks_home):
    done = try_repo(demo_repository, "tessary-check", hooks_home)
    assert done.returncode == 1, done.stdout + done.stderr
    assert "catalog/models.py:9:16: C2000 nullable-string-field" in done.stdout


def test_fix_hook_fixes_the_demo_project(demo_repository, hooks_home):
    before = (demo_repository / "catalog" / "models.py").read_text()
    done = try_repo(demo_repository, "tessary-fix", hooks_home)
    assert done.returncode == 1, done.stdout + done.stderr
    assert "files were modified by this hook" in done.stdout
    assert (demo_repository / "catalog" / "models.py").read_text() != before
