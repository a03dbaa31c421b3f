# Nullable string fields whose NULL means something of its own: the app
# stores None, passes it, compares with it or filters on it (uses.py), a
# unique group needs NULL for blank values, or None is a choice.
from django.db import models


class Colour(models.TextChoices):
    RED = "red", "Red"
    __empty__ = "No colour"


class Size(models.TextChoices):
    SMALL = "s", "Small"


GRADES = [(None, "Ungraded"), ("A", "A"), ("B", "B")]


class Ticket(models.Model):
    notes = models.CharField(max_length=100, null=True)  # expect: C2000 {"name": "notes"}
    # The only None beside it is a parameter default in uses.py.
    title = models.CharField(max_length=100, null=True)  # expect: C2000 {"name": "title"}
    resolution = models.TextField(null=True)
    locale = models.CharField(max_length=10, null=True)
    language = models.CharField(max_length=10, null=True)
    message_id = models.CharField(max_length=100, null=True)
    email = models.EmailField(null=True)
    reference = models.CharField(max_length=20, null=True)
    external_key = models.CharField(max_length=20, null=True)
    colour = models.CharField(max_length=10, null=True, choices=Colour.choices)
    size = models.CharField(max_length=1, null=True, choices=Size.choices)  # expect: C2000 {"name": "size"}
    grade = models.CharField(max_length=1, null=True, choices=GRADES)
    stage = models.CharField(max_length=1, null=True, choices=[("Open", [(None, "New"), ("o", "Open")])])
    slug = models.SlugField(null=True)
    code = models.CharField(max_length=5, null=True)

    class Meta:
        unique_together = [("slug", "colour")]
        constraints = [models.UniqueConstraint(fields=["code"], name="unique_code")]
