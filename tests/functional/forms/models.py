# null=True without blank=True: forms, the admin and full_clean() reject the
# None the column takes, unless blank=False says the form must ask.
from django.db import models


class Shelf(models.Model):
    built = models.DateField(null=True)  # expect: C2003 {"name": "built"}
    # NULL for on_delete=SET_NULL, while forms must still ask for a keeper.
    keeper = models.ForeignKey("Keeper", on_delete=models.SET_NULL, null=True, blank=False, related_name="shelves")


class Keeper(models.Model):
    hired = models.DateField(null=True)  # expect: C2003 {"name": "hired"}


class Ledger(models.Model):
    # No form of the project shows a ledger, but full_clean() still checks
    # blank.
    closed = models.DateField(null=True)  # expect: C2003 {"name": "closed"}


class AbstractCrate(models.Model):
    sealed = models.DateField(null=True)  # expect: C2003 {"name": "sealed"}

    class Meta:
        abstract = True


class Crate(AbstractCrate):
    pass
