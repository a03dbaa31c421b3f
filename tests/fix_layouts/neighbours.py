from django.db import models


class Organization(models.Model):
    title = models.CharField("organization title", max_length=1000, null=False)
    code = models.CharField(max_length=1000, null=False, db_index=False)
    name = models.CharField(max_length=20, null=False, blank=False, help_text="x")
    slug = models.CharField(
        "slug", max_length=1000, null=False
    )
