"""Fixes as before/after pairs: the module's visitor for the given ids is
applied to the tree and the last statement is rendered back."""
import astroid
import pytest

from tessary.staticanalysis.checkers import fieldrules, migrations, queryrules

FIELDS = "from django.db import models\nclass M(models.Model):\n    f = {}\n"
QUERIES = (
    "from django.db import models\n"
    "class Author(models.Model):\n    pass\n"
    "class Book(models.Model):\n    author = models.ForeignKey(Author, on_delete=models.CASCADE)\n"
    "qs = Book.objects.filter(pk=1)\nother = Book.objects.all()\nbook = Book.objects.get(pk=1)\n"
    "{}\n"
)
FIELD_EXPRESSION = "from django.db import models\nclass M(models.Model):\n    {}\n"
MIGRATION = (
    "from django.db import migrations, models\nfrom django.db import migrations as m\n"
    "def forwards(apps, schema_editor):\n    pass\n"
    "class Migration(migrations.Migration):\n    operations = [{}]\n"
)

CASES = [
    # fields
    (fieldrules, ["C2008"], FIELDS, "models.NullBooleanField()", "models.BooleanField(null=True)"),
    (fieldrules, ["C2008"], FIELDS, "models.NullBooleanField(null=False, default=None)",
     "models.BooleanField(null=True, default=None)"),
    (fieldrules, ["C2006"], FIELDS, "models.CharField(max_length=1000, db_index=True)",
     "models.TextField(db_index=True)"),
    (fieldrules, ["C2003"], FIELDS, "models.IntegerField(null=True)", "models.IntegerField(null=True, blank=True)"),
    # blank=False written out keeps forms asking for a value on purpose
    (fieldrules, ["C2003"], FIELDS, "models.IntegerField(null=True, blank=False)",
     "models.IntegerField(null=True, blank=False)"),
    (fieldrules, ["C2003"], FIELDS, "models.IntegerField(null=True, **extra)",
     "models.IntegerField(null=True, blank=True, **extra)"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=20, null=True)",
     "models.CharField(max_length=20, default='', blank=True)"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=20, null=True, default=None)",
     "models.CharField(max_length=20, default='', blank=True)"),
    # a real default is the field's meaning: it stays
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=40, null=True, default=make_token)",
     "models.CharField(max_length=40, default=make_token, blank=True)"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=9, default='full', null=True, blank=False)",
     "models.CharField(max_length=9, default='full', blank=True)"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=20, null=True, unique=True)",
     "models.CharField(max_length=20, null=True, unique=True)"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=2, null=True, choices=[('a', 'A')])",
     "models.CharField(max_length=2, null=True, choices=[('a', 'A')])"),
    (fieldrules, ["C2000"], FIELDS, "models.CharField(max_length=2, null=True, choices=[('', 'None')])",
     "models.CharField(max_length=2, default='', choices=[('', 'None')], blank=True)"),
    (fieldrules, ["C2002"], FIELDS, "models.CharField(max_length=10, null=False, blank=False)",
     "models.CharField(max_length=10)"),
    (fieldrules, ["C2001", "C2004"], FIELDS, "models.NullBooleanField()", "models.NullBooleanField()"),
    # only what the checks report: a call not declaring a field, a migration's fields
    (fieldrules, ["C2008"], FIELD_EXPRESSION, "models.NullBooleanField()", "models.NullBooleanField()"),
    (fieldrules, ["C2000", "C2002", "C2006", "C2008"], MIGRATION,
     "migrations.AddField('book', 'title', models.CharField(max_length=1000, null=True, blank=False))",
     "migrations.AddField('book', 'title', models.CharField(max_length=1000, null=True, blank=False))"),
    (fieldrules, ["C2008"], MIGRATION, "migrations.AddField('book', 'flag', models.NullBooleanField())",
     "migrations.AddField('book', 'flag', models.NullBooleanField())"),
    # querysets
    (queryrules, ["C9000"], QUERIES, "x = len(qs)", "x = qs.count()"),
    (queryrules, ["C9000"], QUERIES, "x = len(qs or other)", "x = (qs or other).count()"),
    (queryrules, ["C9000"], QUERIES, "x = len(qs if book else other)", "x = (qs if book else other).count()"),
    (queryrules, ["C9001"], QUERIES, "x = book.author.pk", "x = book.author_id"),
    (queryrules, ["C9001"], QUERIES, "x = book.author.id", "x = book.author_id"),
    (queryrules, ["C9002"], QUERIES, "if qs.count() > 0:\n    pass", "if qs.exists():\n    pass"),
    (queryrules, ["C9002"], QUERIES, "x = qs.count() >= 1", "x = qs.exists()"),
    (queryrules, ["C9002"], QUERIES, "if qs.count() == 0:\n    pass", "if not qs.exists():\n    pass"),
    (queryrules, ["C9002"], QUERIES, "if not qs.count() == 0:\n    pass", "if qs.exists():\n    pass"),
    (queryrules, ["C9002"], QUERIES, "if qs.count():\n    pass", "if qs.exists():\n    pass"),
    (queryrules, ["C9002"], QUERIES, "if not qs.count():\n    pass", "if not qs.exists():\n    pass"),
    (queryrules, ["C9003"], QUERIES, "if qs:\n    pass", "if qs.exists():\n    pass"),
    (queryrules, ["C9003"], QUERIES, "if not qs:\n    pass", "if not qs.exists():\n    pass"),
    # migrations
    (migrations, ["C8001"], MIGRATION, "migrations.RunPython(forwards)",
     "migrations.RunPython(forwards, migrations.RunPython.noop)"),
    (migrations, ["C8001"], MIGRATION, "migrations.RunPython(code=forwards)",
     "migrations.RunPython(code=forwards, reverse_code=migrations.RunPython.noop)"),
    (migrations, ["C8001"], MIGRATION, "m.RunPython(forwards)", "m.RunPython(forwards, m.RunPython.noop)"),
    (migrations, ["C8001"], MIGRATION, "migrations.RunPython(forwards, forwards)",
     "migrations.RunPython(forwards, forwards)"),
    (migrations, ["C8000"], MIGRATION, "migrations.RunPython(forwards)", "migrations.RunPython(forwards)"),
]


def last_statement_text(tree, template):
    text = tree.body[-1].as_string()
    if template in (FIELDS, FIELD_EXPRESSION):
        return tree.body[-1].body[-1].value.as_string()
    if template is MIGRATION:
        return tree.body[-1].body[-1].value.elts[0].as_string()
    return text


@pytest.mark.parametrize(
    "module, ids, template, before, after", CASES,
    ids=[f"{c[1][0]}:{c[3]}" for c in CASES],
)
def test_fix(module, ids, template, before, after):
    modname = "app.migrations.0002_x" if template is MIGRATION else "app.models"
    tree = astroid.parse(template.format(before), modname)
    module.build_transformer_visitor(ids).visit(tree)
    assert last_statement_text(tree, template) == after
    # A second pass changes nothing.
    module.build_transformer_visitor(ids).visit(tree)
    assert last_statement_text(tree, template) == after


def test_visitor_orders():
    def kinds(visitor):
        return [(cls.__name__, transform.__name__) for cls, rows in visitor.transforms.items()
                for transform, _ in rows]

    assert kinds(queryrules.build_transformer_visitor(["C9003", "C9000"]))[:1] == [("Call", "transform_queryset_length")]
    assert [t for _, t in kinds(queryrules.build_transformer_visitor(["C9002"]))] == [
        "transform_queryset_exists_compare", "transform_queryset_exists_count_unaryop",
        "transform_queryset_exists_count_if",
    ]
    assert kinds(fieldrules.build_transformer_visitor(["C2001", "C2004"])) == []
    assert kinds(migrations.build_transformer_visitor(["C8000"])) == []
    assert [t for _, t in kinds(fieldrules.build_transformer_visitor(["C2008", "C2000"]))] == [
        "transform_null_to_default_str", "transform_nullboolean",
    ]
