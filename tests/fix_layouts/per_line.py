from django.db import models


class Order(models.Model):
    number = models.CharField(
        max_length=128,
        db_index=True,
        null=False,
    )
    placed = models.DateTimeField(
        db_index=True,
        null=True,
    )
    note = models.TextField(
        null=True,
        blank=True,
        help_text="Shown on the invoice"
    )
    status = models.CharField(
        max_length=2000,
        blank=True
    )
    shipped = models.DateTimeField(
        db_index=True,
        null=True
    )
