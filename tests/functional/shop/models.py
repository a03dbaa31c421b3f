from django.contrib.contenttypes.fields import GenericForeignKey
from django.db import models

LIMIT = 513


class Author(models.Model):
    name = models.CharField(max_length=100)
    nickname = models.CharField(max_length=50, null=True)  # expect: C2000 {"name": "nickname"}
    bio = models.TextField(null=True, blank=True)  # expect: C2000 {"name": "bio"}
    long_name = models.CharField(max_length=513)  # expect: C2006 {"name": "long_name", "value": 513}
    from_constant = models.CharField(max_length=LIMIT)  # expect: C2006 {"name": "from_constant", "value": 513}
    at_limit = models.CharField(max_length=512)
    unbounded = models.CharField(max_length=None)  # expect: C2002 {"name": "unbounded", "option": "max_length", "value": null}
    born = models.DateField(null=True)  # expect: C2003 {"name": "born"}
    died = models.DateField(null=True, blank=True)
    joined = models.DateField(null=True, default="2020-01-01")
    left = models.DateField(null=True, default=None)  # expect: C2003 {"name": "left"}
    active = models.BooleanField(null=True)
    legacy = models.NullBooleanField()  # expect: C2008 {"name": "legacy"}
    rating = models.IntegerField(null=False)  # expect: C2002 {"name": "rating", "option": "null", "value": false}
    score = models.IntegerField(null=0)  # expect: C2002 {"name": "score", "option": "null", "value": 0}
    views = models.IntegerField(help_text="How often")
    slug = models.SlugField(unique_for_date="born")  # expect: C2004 {"name": "slug", "option": "unique_for_date"}
    month = models.SlugField(unique_for_month=None)  # expect: C2002 {"name": "month", "option": "unique_for_month", "value": null}; C2004 {"name": "month", "option": "unique_for_month"}

    def __str__(self):
        return self.name


class Book(models.Model):
    code = models.CharField(max_length=5, primary_key=True, unique=False)  # expect: C2011 {"name": "code"}; C2002 {"name": "code", "option": "unique", "value": false}
    author = models.ForeignKey(Author, on_delete=models.CASCADE)  # expect: C2005 {"name": "author", "keeping": ""}
    editor = models.ForeignKey(Author, on_delete=models.CASCADE, related_name="edited")
    reviewer = models.ForeignKey(Author, on_delete=models.CASCADE, related_name="")  # expect: C2005 {"name": "reviewer", "keeping": ""}
    title = models.CharField(max_length=100)
    listed = [models.CharField(max_length=3, null=True)]  # expect: C2000 {"name": "listed"}
    models.CharField(max_length=3000, null=False)  # expect: C2002 {"option": "null", "value": false}


class Numbered(models.Model):
    number = models.CharField(max_length=5, primary_key=True, unique=0)  # expect: C2002 {"name": "number", "option": "unique", "value": 0}


class Owned(models.Model):
    class Meta:
        abstract = True

    owner = models.ForeignKey(Author, on_delete=models.CASCADE)  # expect: C3002 {"before": "owner", "after": "Meta"}
    created = models.DateTimeField(auto_now_add=True)


class Tagged(models.Model):
    content_type = models.ForeignKey("contenttypes.ContentType", on_delete=models.CASCADE, related_name="+")
    object_id = models.CharField(max_length=40, null=True)
    other_text = models.CharField(max_length=40, null=True)  # expect: C2000 {"name": "other_text"}
    target = GenericForeignKey("content_type", "object_id")


class Wide(models.Model):  # expect: C2001 {"count": 21}
    f01 = models.IntegerField()
    f02 = models.IntegerField()
    f03 = models.IntegerField()
    f04 = models.IntegerField()
    f05 = models.IntegerField()
    f06 = models.IntegerField()
    f07 = models.IntegerField()
    f08 = models.IntegerField()
    f09 = models.IntegerField()
    f10 = models.IntegerField()
    f11 = models.IntegerField()
    f12 = models.IntegerField()
    f13 = models.IntegerField()
    f14 = models.IntegerField()
    f15 = models.IntegerField()
    f16 = models.IntegerField()
    f17 = models.IntegerField()
    f18 = models.IntegerField()
    f19 = models.IntegerField()
    f20 = models.IntegerField()
    f21 = models.IntegerField()


class Twenty(Wide):
    g01 = models.IntegerField()
    g02 = models.IntegerField()
    g03 = models.IntegerField()
    g04 = models.IntegerField()
    g05 = models.IntegerField()
    g06 = models.IntegerField()
    g07 = models.IntegerField()
    g08 = models.IntegerField()
    g09 = models.IntegerField()
    g10 = models.IntegerField()
    g11 = models.IntegerField()
    g12 = models.IntegerField()
    g13 = models.IntegerField()
    g14 = models.IntegerField()
    g15 = models.IntegerField()
    g16 = models.IntegerField()
    g17 = models.IntegerField()
    g18 = models.IntegerField()
    g19 = models.IntegerField()
    g20 = models.IntegerField()


class Silenced(models.Model):
    note = models.CharField(max_length=10, null=True)  # tessary: disable=C2000
    other = models.CharField(max_length=10, null=True)  # tessary: disable=nullable-string-field
