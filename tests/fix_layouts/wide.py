# Formatted at 120 columns, not the default 88: a fix that makes a line
# longer than that is wrapped at the length the file keeps.
from django.db import models


class Project(models.Model):
    description = models.TextField("description", blank=True, default="", help_text="What the project is about")
    pinned_at = models.DateTimeField("pinned at", null=True, default=None, help_text="When it was pinned, if it was")
