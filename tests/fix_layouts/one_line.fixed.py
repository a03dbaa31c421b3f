from django.db import models


class Book(models.Model):
    pages = models.IntegerField(default=0)
    weight = models.IntegerField(default=0, help_text="grams")
    born = models.DateField(null=True, blank=True)
    died = models.DateField(null=True, blank=False)
    title = models.CharField(max_length=10, default="", blank=True)
    flag = models.BooleanField(null=True)
    summary = models.TextField(db_index=True)
    only = models.IntegerField()
