"""Plain values of nodes, argument maps, call edits and message texts."""
import decimal

import astroid
import pytest

from tessary.staticanalysis import helpers


def test_names_follow_their_binding(extract):
    literal, imported = extract(
        """
from os import sep
LIMIT = 3
LIMIT #@
sep #@
"""
    )
    assert helpers.astroid_node_to_value(literal) == 3
    assert isinstance(helpers.astroid_node_to_value(imported), astroid.nodes.ImportFrom)


def test_containers_become_plain_values():
    node = astroid.extract_node("((1, 'a'), {'k': {'n': [None]}}, [])")
    assert helpers.astroid_node_to_value(node) == [[1, "a"], {"k": {"n": [None]}}, []]


def test_dict_with_an_unhashable_key_stays_a_node():
    node = astroid.extract_node("{(1, 2): 'x'}")
    assert helpers.astroid_node_to_value(node) is node


def test_explicit_arguments(extract):
    call, empty, unpack = extract(
        """
from django.db import models
def make():
    return object()
LIMIT = 5
models.CharField(null=True, max_length=LIMIT, default=make(), choices=undefined_name) #@
models.CharField() #@
models.CharField(**opts) #@
"""
    )
    args = helpers.get_node_explicit_arguments(call)
    assert args["null"] is True
    assert args["max_length"] == 5
    assert isinstance(args["default"], astroid.bases.Instance)
    assert "choices" not in args  # inference raised: the keyword is skipped
    assert helpers.get_node_explicit_arguments(empty) == {}
    assert list(helpers.get_node_explicit_arguments(unpack)) in ([], [None])


def test_default_arguments_of_a_framework_field(extract):
    call = extract("from django.db import models\nmodels.CharField(max_length=3) #@\n")
    defaults = helpers.get_node_default_arguments(call)
    assert defaults["null"] is False
    assert defaults["blank"] is False
    assert defaults["unique"] is False
    assert defaults["max_length"] is None
    assert defaults["validators"] == []
    assert "default" not in defaults  # NOT_PROVIDED is no default


def test_most_derived_default_wins_and_not_provided_attribute_counts(extract):
    call = extract(
        """
from django.db import models
NOT_PROVIDED = object()
class Base(models.Field):
    def __init__(self, flag=False, marker=NOT_PROVIDED, other=models.NOT_PROVIDED):
        pass
class Derived(Base):
    def __init__(self, flag=True):
        pass
Derived() #@
"""
    )
    defaults = helpers.get_node_default_arguments(call)
    assert defaults["flag"] is True
    assert "marker" not in defaults
    assert "other" in defaults


def test_default_arguments_are_a_fresh_map_per_call(extract):
    first, second = extract("from django.db import models\nmodels.CharField() #@\nmodels.CharField() #@\n")
    defaults = helpers.get_node_default_arguments(first)
    defaults["null"] = "changed by a caller"
    assert helpers.get_node_default_arguments(second)["null"] is False


def test_calls_that_do_not_simply_instantiate_their_class(extract):
    # What a call makes is what astroid's call protocol says, whether the
    # class is plain, has a metaclass __call__ of its own, or is a type.
    plain, custom, made_type, error = extract(
        """
from django.db import models
class Factory(type):
    def __call__(cls, *args, **kwargs):
        return models.CharField()
class Made(metaclass=Factory):
    pass
class Plain:
    pass
class Failure(Exception):
    pass
Plain() #@
Made() #@
Factory("Name", (), {}) #@
Failure() #@
"""
    )
    assert not helpers.is_model_field(plain)
    assert helpers.is_model_field(custom)
    assert not helpers.is_model_field(made_type)
    assert not helpers.is_model_field(error)
    assert type(error.inferred()[0]).__name__ == "ExceptionInstance"


def test_add_to_keywords_keeps_mapping_unpack_last():
    call = astroid.extract_node("f(a=1, **rest)")
    new = astroid.extract_node("f(b=2)").keywords[0]
    helpers.add_to_keywords(call.keywords, new)
    assert [k.arg for k in call.keywords] == ["a", "b", None]

    plain = astroid.extract_node("f(a=1)")
    helpers.add_to_keywords(plain.keywords, new)
    assert [k.arg for k in plain.keywords] == ["a", "b"]

    empty = []
    helpers.add_to_keywords(empty, new)
    assert empty == [new]


def test_set_function_name():
    method, name, other = astroid.extract_node("a.b() #@\nc() #@\nf()() #@\n")
    helpers.set_function_name(method, "x")
    helpers.set_function_name(name, "y")
    assert method.as_string() == "a.x()"
    assert name.as_string() == "y()"
    with pytest.raises(NotImplementedError):
        helpers.set_function_name(other, "z")


def test_constant_values_of_a_scope():
    module = astroid.parse("from os import sep\nA = [1, 2]\nB = undefined\n")
    assert helpers.get_astroid_node_constant_values(module, "A") == [1, 2]
    assert helpers.get_astroid_node_constant_values(module, "missing") is None
    assert helpers.get_astroid_node_constant_values(module, "sep") is None
    with pytest.raises(helpers.NodeValueUndefinable):
        helpers.get_astroid_node_constant_values(module, "B")
    assert issubclass(helpers.NodeValueUndefinable, TypeError)


def test_serializer():
    assert helpers.serializer(decimal.Decimal("2.9")) == 2
    assert helpers.serializer(decimal.Decimal("-2.9")) == -2
    assert sorted(helpers.serializer({1, 2})) == [1, 2]
    with pytest.raises(TypeError, match="^Object of type frozenset is not JSON serializable$"):
        helpers.serializer(frozenset({1}))


def test_context_string_formats_to_its_operand():
    text = helpers.context_string("{name}")
    args = {"name": "x"}
    assert (text % args) is args
    assert (text % 5) == 5
    assert isinstance(text, str) and text.upper() == "{NAME}"
