"""Predicates called directly, as the fix engine calls them: fresh answers,
false rather than failure when inference gives nothing."""
import astroid

from tessary.staticanalysis.checkers import admin, fieldrules, methodrules, migrations, queryrules


def test_codes_and_tables():
    assert fieldrules.Codes.C2000 == "C2000" and not hasattr(fieldrules.Codes, "C2007")
    assert queryrules.Codes.C9003 == "C9003"
    assert methodrules.Codes.C3003 == "C3003" and not hasattr(methodrules.Codes, "C3001")
    assert migrations.Codes.C8001 == "C8001" and admin.Codes.C5000 == "C5000"
    assert list(fieldrules.Checker.msgs) == [
        "C2000", "C2001", "C2002", "C2003", "C2004", "C2005", "C2006", "C2008", "C2011",
    ]
    assert [o[0] for o in fieldrules.Checker.options] == ["max-model-fields", "max-charfield-length"]
    assert [o[0] for o in methodrules.Checker.options] == [
        "max-models", "min-common-model-prefix-length", "max-common-model-prefix",
    ]
    assert methodrules.Checker.name == "models" and fieldrules.MAX_CHARFIELD_LENGTH == 512
    for module in (admin, fieldrules, methodrules, migrations, queryrules):
        for rule in module.RULES:
            assert rule["id"] in module.Checker.msgs and rule["finds"] and rule["why"] and rule["example"]


def test_field_predicates_on_uninferable_calls():
    call = astroid.extract_node("undefined_field(null=True, max_length=1000)")
    for predicate in (
        fieldrules.is_null_stringfield,
        fieldrules.is_huge_char_field,
        fieldrules.is_nullboolean,
        fieldrules.is_missing_blank_true,
        fieldrules.is_fk_mising_related_name,
        fieldrules.has_redundant_kwargs,
    ):
        assert predicate(call) is False


def test_field_predicates(extract):
    huge, nullable, redundant, unique_for = extract(
        """
from django.db import models
class M(models.Model):
    a = models.CharField(max_length="600") #@
    b = models.EmailField(null=True) #@
    c = models.IntegerField(db_index=False, null=True) #@
    d = models.DateField(unique_for_year="x") #@
"""
    )
    assert fieldrules.is_huge_char_field(huge.value)
    assert fieldrules.is_null_stringfield(nullable.value)
    assert fieldrules.has_redundant_kwargs(redundant.value)
    assert [fieldrules.is_redundant_kwargs(k) for k in redundant.value.keywords] == [True, False]
    assert fieldrules.is_fragile_unique_for(unique_for.value.keywords[0])
    assert not fieldrules.is_fragile_unique_for(astroid.extract_node("f(**kw)").keywords[0])


def test_comparisons():
    def ops(text):
        return astroid.extract_node(text).ops

    assert queryrules.is_compare_exists(ops("x > 0")) and queryrules.is_compare_exists(ops("x >= 1"))
    assert queryrules.is_compare_not_exists(ops("x == 0")) and queryrules.is_compare_not_exists(ops("x < 1"))
    for text in ("x != 0", "x < 0", "x <= 0", "x > 1", "0 < x < 1"):
        assert not queryrules.is_compare_exists(ops(text)) and not queryrules.is_compare_not_exists(ops(text))


def test_longest_common_prefix():
    counts = methodrules.get_longest_common_prefix(["BookA", "BookB", "Book"], 4)
    assert dict(counts) == {"Book": 2}
    # Prefixes end at word boundaries: acronyms, digits and underscores too.
    assert list(methodrules.get_longest_common_prefix(["AbCdEf"], 2)) == ["Ab", "AbCd"]
    assert list(methodrules.get_longest_common_prefix(["HTTPRequestLog"], 1)) == ["HTTP", "HTTPRequest"]
    assert list(methodrules.get_longest_common_prefix(["Shop2Line", "shop_line"], 1)) == ["Shop2", "shop"]
    assert dict(methodrules.get_longest_common_prefix(["Category", "Catalogue", "CatalogueItem"], 3)) == {"Catalogue": 1}
    assert methodrules.STANDARD_METHODRULES == ("Meta", "__str__", "save", "get_absolute_url")


def test_missing_reverse_only_in_migrations():
    source = (
        "from django.db import migrations\n"
        "class Migration(migrations.Migration):\n"
        "    operations = [migrations.RunPython(f)]\n"
    )
    call = next(astroid.parse(source, "app.migrations.0002_x").nodes_of_class(astroid.nodes.Call))
    assert migrations.is_missing_reverse(call)
    plain = next(astroid.parse("from django.db import migrations\nmigrations.RunPython(f)\n").nodes_of_class(
        astroid.nodes.Call))
    assert not migrations.is_missing_reverse(plain)
