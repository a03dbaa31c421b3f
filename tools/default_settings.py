"""Regenerate tessary/library_default_settings from Django's releases.

Usage: python tools/default_settings.py WHEEL [WHEEL ...]

Each argument is a Django wheel (``pip download --no-deps django==X.Y.*``),
one per feature release; give them all at once, since each release is
written as what differs from the next.
The wheel's ``django/conf/global_settings.py`` is read, never run: every
upper-case assignment whose value is made of literals, arithmetic on numbers,
earlier settings and ``gettext_noop("...")`` is written out as data. Run by
hand when Django publishes a feature release, then add the version to the
table in ``src/staticanalysis/dependencies/dependencies.cpp``.
"""
import ast
import pathlib
import pprint
import re
import sys
import zipfile

TARGET = pathlib.Path(__file__).resolve().parent.parent / "python" / "tessary" / "library_default_settings"


class NotData(Exception):
    pass


def value_of(node, known):
    if isinstance(node, ast.Constant):
        return node.value
    if isinstance(node, (ast.List, ast.Tuple, ast.Set)):
        items = [value_of(element, known) for element in node.elts]
        return {ast.List: list, ast.Tuple: tuple, ast.Set: set}[type(node)](items)
    if isinstance(node, ast.Dict):
        return {value_of(k, known): value_of(v, known) for k, v in zip(node.keys, node.values)}
    if isinstance(node, ast.Name) and node.id in known:
        return known[node.id]
    if isinstance(node, ast.BinOp) and isinstance(node.op, (ast.Mult, ast.Add, ast.Sub)):
        left, right = value_of(node.left, known), value_of(node.right, known)
        if not all(isinstance(v, int) for v in (left, right)):
            raise NotData(ast.dump(node))
        return {ast.Mult: int.__mul__, ast.Add: int.__add__, ast.Sub: int.__sub__}[type(node.op)](left, right)
    if (isinstance(node, ast.Call) and isinstance(node.func, ast.Name) and node.func.id == "gettext_noop"
            and len(node.args) == 1):
        return value_of(node.args[0], known)
    raise NotData(ast.dump(node))


def settings_of(source):
    known = {}
    for statement in ast.parse(source).body:
        if not isinstance(statement, ast.Assign) or len(statement.targets) != 1:
            continue
        target = statement.targets[0]
        if not isinstance(target, ast.Name) or not target.id.isupper():
            continue
        try:
            known[target.id] = value_of(statement.value, known)
        except NotData:
            print(f"  skipped {target.id}: not plain data", file=sys.stderr)
    return known


def assignment(name, value):
    text = pprint.pformat(value, width=88 - len(name) - 3, sort_dicts=False)
    return f"{name} = {text}".replace("\n", "\n" + " " * (len(name) + 3))


def difference(name, value, newer):
    """A list that the newer release only added to is written as the
    newer list less those entries."""
    if isinstance(value, list) and isinstance(newer, list):
        added = [entry for entry in newer if entry not in value]
        if [entry for entry in newer if entry not in added] == value:
            return f"{name} = [entry for entry in {name} if entry not in {added!r}]"
    return assignment(name, value)


def module_name(version):
    return f"django_{version.replace('.', '_')}"


def write(version, settings, newer=None):
    """The newest release is written out whole; each older one as what
    differs from the release after it."""
    lines = [f'"""Django {version}\'s default settings (django/conf/global_settings.py)."""', ""]
    if newer is None:
        lines += [assignment(name, value) for name, value in settings.items()]
    else:
        newer_version, newer_settings = newer
        lines += [f"from .{module_name(newer_version)} import *  # noqa: F401,F403", ""]
        lines += [difference(name, value, newer_settings.get(name)) for name, value in settings.items()
                  if name not in newer_settings or newer_settings[name] != value]
        lines += [f"del {name}  # noqa: F821" for name in newer_settings if name not in settings]
    module = TARGET / f"{module_name(version)}.py"
    module.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return module


def main(wheels):
    releases = []
    for wheel in wheels:
        version = ".".join(re.search(r"-(\d+)\.(\d+)", pathlib.Path(wheel).name).groups())
        with zipfile.ZipFile(wheel) as archive:
            source = archive.read("django/conf/global_settings.py").decode("utf-8")
        releases.append((tuple(int(part) for part in version.split(".")), version, settings_of(source)))
    releases.sort()
    newer = None
    for _, version, settings in reversed(releases):
        print(f"{version}: {write(version, settings, newer)}")
        newer = (version, settings)


if __name__ == "__main__":
    main(sys.argv[1:])
