from django.db import models


class Book(models.Model):
    pages = models.IntegerField(null=False, default=0)
    weight = models.IntegerField(default=0, null=False, help_text="grams")
    born = models.DateField(null=True)
    died = models.DateField(null=True, blank=False)
    title = models.CharField(max_length=10, null=True)
    flag = models.NullBooleanField()
    summary = models.CharField(max_length=1000, db_index=True)
    only = models.IntegerField(null=False)
