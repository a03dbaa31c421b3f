from django.db import models


class Order(models.Model):
    number = models.CharField(
        max_length=128,
        db_index=True,
    )
    placed = models.DateTimeField(
        db_index=True,
        null=True,
        blank=True,
    )
    note = models.TextField(
        default="",
        blank=True,
        help_text="Shown on the invoice"
    )
    status = models.TextField(
        blank=True
    )
    shipped = models.DateTimeField(
        db_index=True,
        null=True,
        blank=True,
    )
