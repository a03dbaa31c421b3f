# null=True without blank=True matters where a form shows the field: a
# model the admin registers, a ModelForm or an editing view names.
from django.db import models


class Shelf(models.Model):
    built = models.DateField(null=True)  # expect: C2003 {"name": "built"}
    # NULL for on_delete=SET_NULL, while forms must still ask for a keeper.
    keeper = models.ForeignKey("Keeper", on_delete=models.SET_NULL, null=True, blank=False, related_name="shelves")


class Keeper(models.Model):
    hired = models.DateField(null=True)  # expect: C2003 {"name": "hired"}


class Ledger(models.Model):
    # No form of the project shows a ledger: nothing to reject its empty
    # values.
    closed = models.DateField(null=True)


class AbstractCrate(models.Model):
    sealed = models.DateField(null=True)  # expect: C2003 {"name": "sealed"}

    class Meta:
        abstract = True


class Crate(AbstractCrate):
    pass
