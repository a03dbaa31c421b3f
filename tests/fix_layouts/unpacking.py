from django.db import models

COMMON = {"help_text": "shared"}


class Shelf(models.Model):
    built = models.DateField(null=True, **COMMON)
    row = models.IntegerField(null=False, **COMMON)
    opened = models.DateField(
        null=True,
        **COMMON,
    )
