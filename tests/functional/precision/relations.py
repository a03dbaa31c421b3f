"""Foreign keys with no reverse accessor worth naming."""
from django import forms
from django.contrib.contenttypes.fields import GenericForeignKey
from django.contrib.contenttypes.models import ContentType
from django.db import models


class Tag(models.Model):
    # The content type behind a generic relation, as Django's contenttypes
    # documentation declares it.
    content_type = models.ForeignKey(ContentType, on_delete=models.CASCADE)
    object_id = models.PositiveIntegerField()
    target = GenericForeignKey("content_type", "object_id")


class Note(models.Model):
    kind = models.ForeignKey(ContentType, on_delete=models.CASCADE)
    owner_type = models.ForeignKey(ContentType, on_delete=models.CASCADE)  # expect: C2005 {"name": "owner_type", "keeping": ""}
    object_id = models.PositiveIntegerField()
    target = GenericForeignKey(ct_field="kind")


class PickForm(forms.Form):
    tag = models.ForeignKey(Tag, on_delete=models.CASCADE).formfield()


def history_fields():
    # Fields of a model built at run time, one per relation: a fixed
    # related_name would clash between them.
    fields = {"tag": models.ForeignKey(Tag, on_delete=models.CASCADE)}
    return fields
