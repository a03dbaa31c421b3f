from django.db import migrations

from shop.models import Author


def forwards(apps, schema_editor):
    return Author.objects.all()


operations = [migrations.RunPython(forwards)]
