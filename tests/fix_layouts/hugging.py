from django.db import models
from django.utils.translation import gettext_lazy as _


class Line(models.Model):
    tax_code = models.CharField(
        _("VAT rate code"), max_length=64, blank=True, null=True
    )
    quantity = models.PositiveIntegerField(
        _("Quantity"), default=1, null=False, help_text="How many of this product"
    )
    shipped = models.DateTimeField(
        _("Date shipped"), null=True, db_index=True, help_text="When it left"
    )
