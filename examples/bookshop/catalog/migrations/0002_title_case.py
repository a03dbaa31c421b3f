from django.db import migrations

from catalog.models import Book


def title_case(apps, schema_editor):
    for book in Book.objects.all():
        book.title = book.title.title()
        book.save()


class Migration(migrations.Migration):
    dependencies = [("catalog", "0001_initial")]

    operations = [migrations.RunPython(title_case)]
