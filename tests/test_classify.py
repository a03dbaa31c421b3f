"""Framework classification by ancestry through inference."""
import astroid
import pytest

from tessary.staticanalysis import helpers

MODELS = """
from django.db import models
from django.db.models import Model as Renamed

class Book(models.Model):
    title = models.CharField(max_length=10)

class Aliased(Renamed):
    pass

class Model:
    pass

Book #@
Book() #@
Aliased #@
Model #@
"""


def test_models_are_recognised_by_ancestry_not_by_name(extract):
    book, book_instance, aliased, lookalike = [n.inferred()[0] for n in extract(MODELS)]
    assert helpers.is_model(book)
    assert helpers.is_model(book_instance)
    assert helpers.is_model(aliased)
    assert not helpers.is_model(lookalike)
    # extra named arguments are accepted and change nothing
    assert helpers.is_model(book, unused=True)
    assert helpers.is_related_field(book, unused=True) is False


@pytest.mark.parametrize(
    "value",
    [astroid.Uninferable, None, astroid.extract_node("1"), astroid.extract_node("def f(): pass")],
    ids=["uninferable", "none", "const", "function"],
)
def test_non_classes_answer_false_without_error(value):
    for predicate in (
        helpers.is_model,
        helpers.is_model_manager,
        helpers.is_queryset,
        helpers.is_related_field,
        helpers.is_model_admin,
    ):
        assert predicate(value) is False


def test_framework_classes_satisfy_their_own_predicates(extract):
    model, admin, fk = extract(
        """
from django.db import models
from django.contrib import admin
models.Model #@
admin.ModelAdmin #@
models.ForeignKey #@
"""
    )
    assert helpers.is_model(model.inferred()[0])
    assert helpers.is_model_admin(admin.inferred()[0])
    assert helpers.is_related_field(fk.inferred()[0])


def test_model_fields(extract):
    charfield, ambiguous, text = extract(
        """
import random
from django.db import models
models.CharField(max_length=10) #@
(models.CharField if random.random() else models.IntegerField)() #@
str("x") #@
"""
    )
    assert helpers.is_model_field(charfield)
    assert not helpers.is_model_field(ambiguous)
    assert not helpers.is_model_field(text)


@pytest.mark.parametrize(
    "source, expected",
    [
        ("x = 1\n", False),
        (
            "from django.db import migrations\nclass Migration(migrations.Migration):\n    pass\n",
            True,
        ),
        (
            "from django.db import migrations\nclass Plain:\n    pass\n"
            "class Migration(migrations.Migration):\n    pass\n",
            True,
        ),
        ("class Plain:\n    pass\n", False),
    ],
    ids=["no-classes", "migration", "migration-after-another-class", "plain-class"],
)
def test_migration_modules(source, expected):
    assert helpers.is_migration_file(astroid.parse(source, "app.migrations.0001_initial")) is expected


def test_a_migrations_package_module_with_a_migration_class_is_a_migration():
    # The base comes from a helper astroid cannot follow: the folder and the
    # class name still tell.
    source = "from .base import Step\nclass Helper:\n    pass\nclass Migration(Step):\n    pass\n"
    inside = astroid.parse(source, "app.migrations.0002_data", path="/nowhere/app/migrations/0002_data.py")
    outside = astroid.parse(source, "app.steps", path="/nowhere/app/steps.py")
    assert helpers.is_migration_file(inside) and not helpers.is_migration_file(outside)


@pytest.mark.parametrize(
    "body, expected",
    [
        ("pass", False),
        ("class Meta:\n        ordering = []", False),
        ("class Meta:\n        abstract = True", True),
        ("class Meta:\n        abstract = False", True),
    ],
)
def test_abstract_models(body, expected):
    cls = astroid.extract_node(f"class Base:\n    {body}\n")
    assert bool(helpers.is_node_abstract_model(cls)) is expected


def test_member_and_function_names(extract):
    tuple_call, field_call, chained, annotated = extract(
        """
from django.db import models
class Book(models.Model):
    a, b = 1, models.CharField() #@
    title = models.CharField(max_length=3) #@
    first = second = models.IntegerField() #@
    other: int = models.IntegerField() #@
"""
    )
    assert helpers.get_member_name(tuple_call.value.elts[1]) is None
    assert helpers.get_member_name(field_call.value) == "title"
    assert helpers.get_member_name(chained.value) == "first"
    assert helpers.get_member_name(annotated.value) is None

    call_of_call, method, plain = extract("f()() #@\nqs.filter(a=1) #@\nlen(x) #@\n")
    assert helpers.get_function_name(call_of_call) is None
    assert helpers.get_function_name(method) == "filter"
    assert helpers.get_function_name(plain) == "len"


def test_module_names_and_field_name_sets():
    assert helpers.get_module_name("a.b.c.d") == "d"
    assert helpers.get_module_name("plain") == "plain"
    assert helpers.get_module_name("trailing.") == ""
    assert "CharField" in helpers.DJANGO_STRING_FIELDS
    assert "charfield" not in helpers.DJANGO_STRING_FIELDS
    assert "CharFieldX" not in helpers.DJANGO_STRING_FIELDS
    assert "NullBooleanField" in helpers.DJANGO_BOOLEAN_FIELDS
