from django.db import migrations
from django.db.migrations import RunPython

from shop.models import Author


def forwards(apps, schema_editor):
    for author in Author.objects.all():  # expect: C8000 {"name": "Author"}
        author.save()
    Historical = apps.get_model("shop", "Author")
    Historical.objects.all()


def backwards(apps, schema_editor):
    pass


STEPS = (forwards, backwards)
OPTIONS = {"code": forwards, "reverse_code": backwards}


class Migration(migrations.Migration):
    dependencies = [("shop", "0001_initial")]

    operations = [
        migrations.RunPython(forwards),  # expect: C8001 {"forwards_name": "forwards"}
        migrations.RunPython(code=forwards),  # expect: C8001 {"forwards_name": "forwards"}
        migrations.RunPython(forwards, backwards),
        migrations.RunPython(forwards, reverse_code=backwards),
        RunPython(forwards),
        # The steps may carry their reverse code: not reported.
        migrations.RunPython(*STEPS),
        migrations.RunPython(**OPTIONS),
    ]
