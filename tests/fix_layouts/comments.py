from django.db import models


class Product(models.Model):
    sku = models.CharField(
        max_length=64,
        null=True,  # kept for old rows
        blank=True,
    )
    stock = models.IntegerField(
        # counted every night
        null=False,
        default=0,
    )
    released = models.DateField(
        null=True,  # unknown for imports
    )
    description = models.CharField(max_length=5000, help_text="Long text")  # shown on the page
    legacy = models.IntegerField(
        null=False,  # old rows had none
        default=0,
    )
