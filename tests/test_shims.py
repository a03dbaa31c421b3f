"""Framework inference shims and the settings-aware builder."""
import os
import pathlib
import subprocess
import sys

import astroid
import pytest
from pylint.checkers.utils import safe_infer

from tessary.staticanalysis import helpers, shims

ROOT = pathlib.Path(__file__).resolve().parent.parent

MODELS = """
from django.db import models
from django.contrib.contenttypes.fields import GenericForeignKey

class Book(models.Model):
    title = models.CharField(max_length=10)
    target = GenericForeignKey("content_type", "object_id")

class Tagged(models.Model):
    item = GenericForeignKey(ct_field="kind", fk_field="item_pk")

class Plain(models.Model):
    pass

class NotAModel:
    pass
"""


def infer(code):
    return safe_infer(astroid.extract_node(MODELS + code, "shop.models"))


def test_objects_is_a_manager():
    manager = infer("Book.objects")
    assert helpers.is_model_manager(manager)
    assert manager.qname() == "django.db.models.manager.Manager"
    assert not helpers.is_model_manager(infer("Book.title"))


@pytest.mark.parametrize("index", ["0", "-1", "1:3"])
def test_lookups_give_a_queryset_of_model_instances(index):
    queryset = infer('Book.objects.filter(title="x")')
    assert isinstance(queryset, shims.QuerySetNode)
    assert helpers.is_queryset(queryset) and not helpers.is_model_manager(queryset)
    assert queryset.qname() == queryset.pytype() == "django.db.models.query.QuerySet"
    item = infer(f'Book.objects.filter(title="x")[{index}]')
    assert helpers.is_model(item) and item.name == "Book"


def test_iterating_a_queryset_gives_an_instance():
    book = infer("for b in Book.objects.all():\n    b #@\n")
    assert helpers.is_model(book) and book.name == "Book"


def test_lookup_on_a_queryset_is_that_queryset():
    node = astroid.extract_node(MODELS + 'Book.objects.filter(title="x").exclude(title="y") #@\n', "shop.models")
    assert safe_infer(node) is safe_infer(node.func.expr)


def test_model_get_and_first_give_an_instance():
    for code in ("Book.objects.get(pk=1)", "Book.objects.first()"):
        assert infer(code).name == "Book"
    # first() on a queryset call is not shimmed: its receiver is a call
    assert not helpers.is_model(infer('Book.objects.filter(title="x").first()'))


def test_all_on_a_name_bound_to_a_manager_is_not_a_manager_lookup():
    node = astroid.extract_node(MODELS + "manager = Book.objects\nmanager.all() #@\n", "shop.models")
    assert not shims.looks_like_model_manager_lookup(node)


def test_generic_foreign_key_field_names():
    module = astroid.parse(MODELS, "shop.models")
    classes = {c.name: c for c in module.nodes_of_class(astroid.nodes.ClassDef)}
    # Every model class node carries them once its tree is built, with
    # nothing asked first; a class that is not a model has no such attribute.
    assert classes["Book"].generic_foreign_key_field_names == ["object_id"]
    assert classes["Tagged"].generic_foreign_key_field_names == ["item_pk"]
    assert classes["Plain"].generic_foreign_key_field_names == []
    assert not hasattr(classes["NotAModel"], "generic_foreign_key_field_names")
    # The shim leaves them as they are: worked out once per class node.
    names = classes["Book"].generic_foreign_key_field_names
    shims.apply_is_used_in_generic_fk_shim(classes["Book"])
    assert classes["Book"].generic_foreign_key_field_names is names


def test_generic_foreign_key_field_names_of_a_model_built_by_inference():
    # A model of another module, reached by inference: its tree was built
    # by astroid's manager, not by the test.
    module = astroid.parse(
        "from django.contrib.contenttypes.fields import GenericForeignKey\n"
        "from django.db import models\n\n"
        "class Pin(models.Model):\n"
        "    target = GenericForeignKey('kind', 'obj_id')\n"
        "class Note(models.Model):\n"
        "    about = GenericForeignKey(fk_field='x')\n"
        "class Bare(models.Model):\n"
        "    pass\n",
        "board.models",
    )
    user = astroid.extract_node("from board.models import Pin, Note, Bare\nPin #@\nNote #@\nBare #@\n", "board.views")
    astroid.MANAGER.astroid_cache["board.models"] = module
    try:
        found = {cls.name: cls.generic_foreign_key_field_names for cls in (safe_infer(n) for n in user)}
    finally:
        del astroid.MANAGER.astroid_cache["board.models"]
    assert found == {"Pin": ["obj_id"], "Note": ["x"], "Bare": []}


SETTINGS = """
import os
BASE = os.path.dirname(os.path.dirname("/srv/app/settings.py"))
JOINED = os.path.join("a", "b") #@
LAST = os.path.basename("/srv/app") #@
FROM_NAME = os.path.join(BASE, "static") #@
FROM_INSTANCE = os.path.join(object(), "x") #@
AMBIGUOUS = os.path.join(undefined, "x") #@
SECRET = os.environ.get("SECRET_KEY", "dev") #@
ONE_ARG = os.environ.get("SECRET_KEY") #@
NUMBER = os.environ.get("PORT", 8000) #@
DEFAULTED = os.environ.setdefault("A", "b") #@
"""


def build_settings():
    with shims.BuilderWithSettingsTransforms() as builder:
        module = builder.string_build(SETTINGS.replace(" #@", ""), "project.settings")
    return {a.targets[0].name: a.value for a in module.body if isinstance(a, astroid.nodes.Assign)}


def test_settings_builder_turns_literal_paths_and_env_reads_into_constants():
    values = build_settings()
    const = astroid.nodes.Const
    assert isinstance(values["JOINED"], const) and values["JOINED"].value == os.path.join("a", "b")
    assert values["LAST"].value == "app"
    assert values["FROM_NAME"].value == os.path.join("/srv", "static")
    assert values["SECRET"].value == "dev"
    for unchanged in ("FROM_INSTANCE", "AMBIGUOUS", "ONE_ARG", "NUMBER", "DEFAULTED"):
        assert isinstance(values[unchanged], astroid.nodes.Call), unchanged


def test_leaving_the_builder_removes_its_transforms_even_on_error():
    with pytest.raises(RuntimeError):
        with shims.BuilderWithSettingsTransforms():
            raise RuntimeError("boom")
    module = astroid.parse(SETTINGS.replace(" #@", ""), "project.settings2")
    assert all(
        isinstance(a.value, astroid.nodes.Call) for a in module.body[2:] if isinstance(a, astroid.nodes.Assign)
    )
    assert len(shims.BuilderWithSettingsTransforms().transforms) == 2


def test_named_brain_transforms_are_merged_and_infer_as_before():
    """astroid's numpy and builtins brains ask one predicate per name they
    know of every attribute, name or call; one merged transform per brain
    answers as they did."""
    transforms = astroid.MANAGER._transform.transforms
    assert len(transforms[astroid.nodes.Attribute]) < 10 and len(transforms[astroid.nodes.Name]) < 10
    assert len(transforms[astroid.nodes.Call]) < 30
    module = astroid.parse(
        "a = dict(a=1)\nb = frozenset([1])\nc = dict.fromkeys([1, 2])\nd = type(a)\nclass A:\n    pass\n"
        "e = getattr(A, 'x', 2)\nf = isinstance(a, dict)\n"
    )
    inferred = {call.as_string(): safe_infer(call) for call in module.nodes_of_class(astroid.nodes.Call)}
    assert inferred["dict(a=1)"].pytype() == "builtins.dict"
    assert inferred["frozenset([1])"].pytype() == "builtins.frozenset"
    assert inferred["dict.fromkeys([1, 2])"].pytype() == "builtins.dict"
    assert inferred["type(a)"].qname() == "builtins.dict"
    assert inferred["getattr(A, 'x', 2)"].value == 2 and inferred["isinstance(a, dict)"].value is True
    module = astroid.parse(
        "import numpy as np\nfrom numpy import linspace\n"
        "a = np.zeros(3)\nb = np.array([1]).sum()\nc = np.linspace(0, 1)\nd = linspace(0, 1)\ne = np.random.rand(3)\n"
    )
    inferred = {call.as_string(): safe_infer(call) for call in module.nodes_of_class(astroid.nodes.Call)}
    for text in ("np.zeros(3)", "np.array([1]).sum()", "np.linspace(0, 1)"):
        assert inferred[text].pytype() == ".ndarray", text
    assert inferred["linspace(0, 1)"] is astroid.Uninferable and inferred["np.random.rand(3)"] is astroid.Uninferable


WALKED = MODELS + '''
import collections, dataclasses, enum, functools, typing

Point = collections.namedtuple("Point", "x y")

class Colour(enum.Enum):
    RED = 1
    GREEN = 2

@dataclasses.dataclass
class Item:
    name: str = "x"
    tags: list = dataclasses.field(default_factory=list)

class Loader(typing.NamedTuple):
    path: str

def view(request, rows=list(Book.objects.all())):
    first = Book.objects.filter(title="x").first()
    books = Book.objects.get(pk=1).title.upper()
    partial = functools.partial(sorted, reverse=True)
    return dict.fromkeys(rows), str.format("{}", first), [p.x for p in (Point(1, 2),)], partial, books
'''


def walked_tree(modname):
    """The module's tree as text, with the nodes given an inference tip."""
    module = astroid.MANAGER.ast_from_string(WALKED, modname)
    tips = [node.as_string() for node in module.nodes_of_class(astroid.nodes.NodeNG)
            if node._explicit_inference is not None]
    return module.repr_tree(), tips


def test_the_compiled_transform_walk_matches_astroids_own():
    """Transforms replace nodes, end one another and set inference tips: the
    walk that applies them must do exactly what astroid's visitor does."""
    visitor = astroid.MANAGER._transform
    assert "visit" in vars(visitor)  # the compiled walk is the one in use
    ours = walked_tree("walked.ours")
    compiled = vars(visitor).pop("visit")
    try:
        theirs = walked_tree("walked.theirs")
    finally:
        visitor.visit = compiled
    assert ours[0].replace("walked.ours", "walked.theirs") == theirs[0]
    assert ours[1] == theirs[1] and len(ours[1]) >= 5


def test_a_shim_that_does_not_hold_leaves_the_node_to_what_answered_before():
    """A shim of the right shape decides when the node is inferred; when it
    does not hold, the brain's tip or astroid's own inference answers."""
    # list() of a tuple: the builtins brain's tip, under the queryset shim's.
    listed = infer("list((1, 2))")
    assert isinstance(listed, astroid.nodes.List) and [e.value for e in listed.elts] == [1, 2]
    assert not isinstance(listed, shims.QuerySetNode)
    # .get() on a dictionary held by an attribute: the dictionary's.
    got = infer('class Cache:\n    store = {"a": 1}\nCache.store.get("a")')
    assert not helpers.is_model(got)
    # .objects of a class that is not a model: no manager.
    assert not helpers.is_model_manager(infer("NotAModel.objects"))


SHELF = """
class Shelf:
    def lend(item):
        pass
    if True:
        lend = staticmethod(lend)
    class Inner:
        def count(cls):
            pass
        count = classmethod(count)
    def stock(self, rows):
        for row in rows:
            self.last = kept = row
        else:
            with open(rows) as handle:
                total = 2
        try:
            left = 1
        except ValueError:
            left = 0
        finally:
            done = True
        return [name for name in rows]
"""


def astroids_gathering(klass):
    """What astroid's own ClassDef gathering gives: each body statement's share."""
    return [found for child in klass.body for found in child._get_assign_nodes()]


def test_a_class_gathers_its_assignments_as_astroid_does_and_keeps_them_alone():
    """A class's assignments (its methods' blocks included) decide which methods
    are decorated by assignment: the same statements in the same order as
    astroid gathers them, with no cache left on the statements passed."""
    module = astroid.parse(SHELF, "shelf")
    shelf = module.body[0]
    gathered = shelf._get_assign_nodes()
    assert [node.as_string() for node in gathered] == [
        "lend = staticmethod(lend)", "count = classmethod(count)", "self.last = kept = row", "total = 2",
        "left = 1", "left = 0", "done = True"]
    assert not any("__cache" in vars(node) for node in shelf["stock"].nodes_of_class(astroid.nodes.NodeNG))
    assert [id(node) for node in gathered] == [id(node) for node in astroids_gathering(shelf)]
    assert shelf._get_assign_nodes() is gathered
    assert shelf["lend"].type == "staticmethod" and shelf["Inner"]["count"].type == "classmethod"
    assert shelf["stock"].type == "method"
    # Every class of a large module of Django's: astroid's statements, in order.
    for name in ("django.db.models.query", "django.db.models.fields", "django.forms.models"):
        for klass in astroid.MANAGER.ast_from_module_name(name).nodes_of_class(astroid.nodes.ClassDef):
            assert [id(node) for node in klass._get_assign_nodes()] == [id(node) for node in astroids_gathering(klass)]


def test_line_numbers_are_shared_between_trees_and_stay_right():
    """Nodes past line 256 of two modules share their line number objects, and
    every node keeps the first and last lines the parser gave it."""
    import ast

    text = "\n" * 300 + "total = (\n    1 +\n    2)\nclass Shelf:\n    size = 3\n"
    one = astroid.MANAGER.ast_from_string(text, "lines.one")
    two = astroid.MANAGER.ast_from_string(text, "lines.two")
    assert one.body[0].lineno is two.body[0].lineno and one.body[0].end_lineno is two.body[0].end_lineno
    parsed = [(node.lineno, node.end_lineno) for node in ast.walk(ast.parse(text)) if hasattr(node, "lineno")]
    built = [(node.lineno, node.end_lineno) for node in one.nodes_of_class(astroid.nodes.NodeNG)
             if not isinstance(node, (astroid.nodes.Module, astroid.nodes.Arguments))]
    assert sorted(built) == sorted(parsed)
    assert (one.body[0].lineno, one.body[0].end_lineno, one.body[1].body[0].lineno) == (301, 303, 305)


BUILT = '''
"""A module of every kind of name, constant, attribute, call and assignment."""
import os
from . import sibling

LIMIT = 10 ** 3
names = [os.sep, b"raw", u"text", 1.5, 2j, None, True, ..., -1]
del LIMIT


def read(path, *rest, size=-1, **options):
    global names
    names = path
    with open(path) as handle, os.scandir(path) as (entries):
        data = handle.read(size)
    for index, (name, value) in enumerate(options.items()):
        print(f"{index}: {name!r}={value:>{size}}", file=None)
    return [item for item in rest if item is not None] or {key: 1 for key in "ab"}


async def \\
        fetch(): return [await read(x) async for x in names]


@sibling.wrap(
    "header")
class Écrit: pass  # a name not in ASCII


class Reader(sibling.Base, metaclass=type):
    """Reads."""
    kind: str = "plain"

    def __init__(self, *parts, **named):
        self.kind = self.kind.upper()
        self.parts, self.named.inner = parts, dict(named)
        for self.last in parts:
            del self.last
        total = 0  # type: int
        read(*parts, sep=",", **named)
        if not parts:
            return
        try:
            (first, *others) = self.kind
        except ValueError as error:
            del error
        match self.kind:
            case "PLAIN" | None:
                pass
            case [x, *_]:
                x = type(self)(x)
'''


def built_tree(modname):
    """The module's tree as text, with its positions, each scope's names (a
    class's instance attributes included) and each node's attributes in the
    order they were set."""
    from astroid.builder import AstroidBuilder

    module = AstroidBuilder(astroid.MANAGER, apply_transforms=False).string_build(BUILT, modname)
    scopes = [module, *module.nodes_of_class((astroid.nodes.ClassDef, astroid.nodes.FunctionDef))]
    names = {(scope.name if scope is not module else None): [(name, [(type(node).__name__, node.lineno, node.col_offset) for node in found])
                          for name, found in [*scope.locals.items(), *getattr(scope, "instance_attrs", {}).items()]]
             for scope in scopes}
    spans = [(type(node).__name__, node.lineno, node.col_offset, node.end_lineno, node.end_col_offset,
              getattr(node, "position", None), tuple(vars(node)))
             for node in module.nodes_of_class(astroid.nodes.NodeNG)]
    return module.repr_tree(include_linenos=True).replace(modname, "built"), names, spans


def dispatch_matches_astroids_own():
    """The commonest nodes are made without astroid's own visits, and
    headers' positions read without its tokenizing; every node, position
    and scope's names must be what astroid's rebuilder gives."""
    from astroid.rebuilder import TreeRebuilder

    compiled = vars(TreeRebuilder)["visit"], vars(TreeRebuilder)["_get_position_info"]
    own = shims.astroids_own_visit, shims.astroids_own_position_info
    assert None not in own and not set(compiled) & set(own)
    import astroid.rebuilder

    tokenized = []  # the headers astroid tokenizes: only the one not in ASCII
    tokenize = astroid.rebuilder.generate_tokens
    astroid.rebuilder.generate_tokens = lambda read: tokenized.append(1) or tokenize(read)
    try:
        ours = built_tree("built.ours")
    finally:
        astroid.rebuilder.generate_tokens = tokenize
    assert len(tokenized) == 1
    TreeRebuilder.visit, TreeRebuilder._get_position_info = own
    try:
        theirs = built_tree("built.theirs")
    finally:
        TreeRebuilder.visit, TreeRebuilder._get_position_info = compiled
    assert ours == theirs and len(ours[2]) > 175
    headers = {node.name: tuple(node.position) for node in
               astroid.parse(BUILT).nodes_of_class((astroid.nodes.ClassDef, astroid.nodes.FunctionDef))}
    assert headers["fetch"] == (21, 0, 22, 13) and headers["Écrit"] == (27, 0, 27, 11)
    # The class's names, then the attributes its instances are given.
    assert [name for name, _ in ours[1]["Reader"]][2:] == ["kind", "__init__", "kind", "parts", "last"]


def deep_expressions_build_as_deep(walks=True):
    """Chains of attributes and calls are built, and walked for transforms,
    by recursion in compiled code; the deepest chain each builds, before the
    interpreter's depth limit refuses it with a RecursionError (never a
    crash), is the one astroid's own visits and walk build."""
    from astroid.builder import AstroidBuilder
    from astroid.rebuilder import TreeRebuilder

    def warm():
        # The interpreter counts a level less for a call its specialised
        # instructions make, once a call site is warm: warm them all first.
        for _ in range(30):
            for link in links:
                for transforms in (False, walks):
                    AstroidBuilder(astroid.MANAGER, apply_transforms=transforms).string_build("v = x" + link * 20, "warm")

    def build(text, transforms, levels):
        # From `levels` calls deeper: a link takes two levels or more, so a
        # level's difference shows at one of two neighbouring depths.
        if levels:
            return build(text, transforms, levels - 1)
        return AstroidBuilder(astroid.MANAGER, apply_transforms=transforms).string_build(text, "deep")

    def deepest_from(link, transforms, levels):
        low, high = 1, 1500
        while low < high:
            middle = (low + high + 1) // 2
            try:
                build("v = x" + link * middle, transforms, levels)
                low = middle
            except RecursionError:
                high = middle - 1
        return low

    def deepest(link, transforms):
        return deepest_from(link, transforms, 0), deepest_from(link, transforms, 1)

    # Names and attributes, calls with parameters, keywords, constants and
    # starred arguments, and operations astroid's own visits build.
    links = [".a", ".a(b.c, *d, k=1)", " + y.z"]
    warm()
    rebuilt = [deepest(link, False) for link in links]
    walked = [deepest(link, True) for link in links] if walks else []
    compiled, visitor = vars(TreeRebuilder)["visit"], astroid.MANAGER._transform
    compiled_walk = vars(visitor).pop("visit")
    TreeRebuilder.visit = shims.astroids_own_visit
    try:
        warm()
        assert [deepest(link, False) for link in links] == rebuilt
        assert not walks or [deepest(link, True) for link in links] == walked
    finally:
        TreeRebuilder.visit, visitor.visit = compiled, compiled_walk
    assert all(50 < depth < 1500 for pair in rebuilt + walked for depth in pair) and walked != rebuilt


# Where deprecation warnings are shown, as under pytest, astroid wraps some
# node constructors in a check of their arguments, and the compiled
# rebuild calls those; elsewhere it makes their nodes itself. Both ways
# are checked: here, and in an interpreter started without the test
# runner's warning filters (the rebuild only: the walk is the same code
# either way, and a fresh interpreter's call sites warm unevenly).
@pytest.mark.parametrize("check", [dispatch_matches_astroids_own, deep_expressions_build_as_deep],
                         ids=["same trees", "same depth"])
@pytest.mark.parametrize("fresh", [False, True], ids=["here", "fresh interpreter"])
def test_the_compiled_rebuild_matches_astroids_own(check, fresh):
    if not fresh:
        check()
        return
    code = ("import astroid.nodes, tests.test_shims as checks\n"
            "assert not hasattr(astroid.nodes.Name.__init__, '__wrapped__')\n"
            f"checks.{check.__name__}({'walks=False' if check is deep_expressions_build_as_deep else ''})")
    done = subprocess.run([sys.executable, "-c", code], cwd=ROOT, capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr[-3000:]
