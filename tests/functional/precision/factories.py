"""Fields made in functions are not declarations: a library's field
factory, whose columns live in the migrations of the projects that use it,
or a test's subject."""
from django.db import models


class HistoryOptions:
    user_model = "auth.User"

    def user_fields(self):
        return {
            "history_user": models.ForeignKey(self.user_model, null=True, on_delete=models.SET_NULL, related_name="+"),
        }

    def reason_field(self):
        reason = models.CharField(max_length=100, null=True)
        return reason


def price_field(**options):
    return models.DecimalField(max_digits=12, decimal_places=2, db_index=False, **options)


def test_non_blank_field_is_required():
    field = models.TextField(blank=False)
    assert not field.blank


# At a module's top level a field is still a declaration to judge.
SHARED_TITLE = models.CharField(max_length=200, null=True)  # expect: C2000 {"name": "SHARED_TITLE"}


class Listing(models.Model):
    price = price_field()
    title = models.CharField(max_length=200, null=True)  # expect: C2000 {"name": "title"}
