# views.py reads the default accessor chapter_set: the advice names it so
# that it, and the chapter__ lookups, keep working.
from django.db import models


class Novel(models.Model):
    title = models.CharField(max_length=100)


class Chapter(models.Model):
    novel = models.ForeignKey(Novel, on_delete=models.CASCADE)  # expect: C2005 {"name": "novel", "keeping": "; the project reads chapter_set, so related_name=\"chapter_set\", related_query_name=\"chapter\" keeps every lookup"}


class Review(models.Model):
    novel = models.ForeignKey(Novel, on_delete=models.CASCADE)  # expect: C2005 {"name": "novel", "keeping": ""}
