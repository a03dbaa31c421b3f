from django.db import models

COMMON = {"help_text": "shared"}


class Shelf(models.Model):
    built = models.DateField(null=True, blank=True, **COMMON)
    row = models.IntegerField(**COMMON)
    opened = models.DateField(
        null=True,
        blank=True,
        **COMMON,
    )
