from django.db import models


class Product(models.Model):
    sku = models.CharField(
        max_length=64,
        default="",  # kept for old rows
        blank=True,
    )
    stock = models.IntegerField(
        # counted every night
        default=0,
    )
    released = models.DateField(
        null=True,  # unknown for imports
        blank=True,
    )
    description = models.TextField(help_text="Long text")  # shown on the page
    legacy = models.IntegerField(
        # old rows had none
        default=0,
    )
