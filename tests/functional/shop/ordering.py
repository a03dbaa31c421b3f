from django.db import models


class Saved(models.Model):
    name = models.CharField(max_length=10)

    def save(self, *args, **kwargs):
        super().save(*args, **kwargs)

    def __str__(self):  # expect: C3002 {"before": "__str__", "after": "save"}
        return self.name


class Custom(models.Model):
    name = models.CharField(max_length=10)

    def get_owner(self):  # expect: C3002 {"before": "save", "after": "get_owner"}
        return None

    def save(self, *args, **kwargs):
        super().save(*args, **kwargs)


class MetaLast(models.Model):
    name = models.CharField(max_length=10)

    def __str__(self):
        return self.name

    class Meta:  # expect: C3002 {"before": "Meta", "after": "__str__"}
        ordering = ["name"]


class MetaFirst(models.Model):
    class Meta:
        ordering = ["name"]

    def __str__(self):
        return self.name

    def get_absolute_url(self):
        return "/"


class FieldsAfterMeta(models.Model):
    class Meta:
        ordering = ["name"]

    name = models.CharField(max_length=10)  # expect: C3002 {"before": "name", "after": "Meta"}
    size = models.IntegerField()


class FieldAfterStr(models.Model):
    def __str__(self):
        return "x"

    name = models.CharField(max_length=10)


class Special(models.Model):
    # Special methods keep Python's habit of coming first: not reported.
    name = models.CharField(max_length=10)

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)

    def __eq__(self, other):
        return self.name == getattr(other, "name", None)

    def __str__(self):
        return self.name

    def describe(self):  # expect: C3002 {"before": "save", "after": "describe"}
        return self.name

    def save(self, *args, **kwargs):
        super().save(*args, **kwargs)
