"""Field options whose advice Django's own documentation would contradict."""
from django.db import models

RELATED = "entries"


def related(name):
    return name


class CreatedField(models.DateTimeField):
    def __init__(self, *args, **kwargs):
        kwargs.setdefault("editable", False)
        kwargs["blank"] = True
        super().__init__(*args, **kwargs)


class StampField(CreatedField):
    pass


class Author(models.Model):
    name = models.CharField(max_length=100)


class Entry(models.Model):
    # A unique string field needs NULL for its empty values.
    code = models.CharField(max_length=20, null=True, blank=True, unique=True)
    plain = models.CharField(max_length=20, null=True)  # expect: C2000 {"name": "plain"}
    # Keyword-only parameters of the field class are its defaults.
    slug = models.SlugField(db_index=True)  # expect: C2002 {"name": "slug", "option": "db_index", "value": true}
    other_slug = models.SlugField(db_index=False)
    short = models.SlugField(max_length=50)  # expect: C2002 {"name": "short", "option": "max_length", "value": 50}
    # A constructor that sets a keyword itself owns its default.
    author = models.ForeignKey(Author, on_delete=models.CASCADE, db_index=False, related_name="+")
    stamped = models.DateTimeField(auto_now=True, editable=True)
    # editable's default is the constructor's False; blank is always True.
    made = CreatedField(editable=True, blank=True)  # expect: C2002 {"name": "made", "option": "blank", "value": true}
    inherited = StampField(editable=True, db_index=False)  # expect: C2002 {"name": "inherited", "option": "db_index", "value": false}
    # Fields that forms never validate need no blank=True.
    hidden = models.DateField(null=True, editable=False)
    touched = models.DateTimeField(null=True, auto_now=True)
    created = models.DateTimeField(null=True, auto_now_add=True)
    # blank=False beside null=True keeps the field required in forms on
    # purpose: neither missing nor redundant.
    born = models.DateField(null=True, blank=False)
    size = models.IntegerField(blank=False)  # expect: C2002 {"name": "size", "option": "blank", "value": false}
    # Any related_name but the constants None and "" names the accessor.
    by_constant = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=RELATED)
    by_call = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=related("x"))
    by_format = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=f"{RELATED}_by")
    by_none = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=None)  # expect: C2005 {"name": "by_none", "keeping": ""}; C2002 {"name": "by_none", "option": "related_name", "value": null}


class LegacyTable(models.Model):
    # Django neither creates nor alters an unmanaged model's table.
    code = models.CharField(max_length=2048, null=True)
    size = models.IntegerField(null=False)  # expect: C2002 {"name": "size", "option": "null", "value": false}

    class Meta:
        managed = False


class Membership(models.Model):
    # ForeignKey makes db_index True unless told otherwise, and a one-to-one
    # field is always unique.
    member = models.OneToOneField(Author, on_delete=models.CASCADE, unique=True, related_name="membership")  # expect: C2002 {"name": "member", "option": "unique", "value": true}
    sponsor = models.ForeignKey(Author, on_delete=models.CASCADE, db_index=True, related_name="sponsored")  # expect: C2002 {"name": "sponsor", "option": "db_index", "value": true}
    referrer = models.ForeignKey(Author, on_delete=models.CASCADE, db_index=False, related_name="referred")
