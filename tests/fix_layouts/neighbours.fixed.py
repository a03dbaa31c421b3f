from django.db import models


class Organization(models.Model):
    title = models.TextField("organization title")
    code = models.TextField()
    name = models.CharField(max_length=20, help_text="x")
    slug = models.TextField(
        "slug"
    )
