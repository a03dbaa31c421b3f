# The model comes through the models package's __init__, which re-exports
# it from the module that defines it.
from django.db import migrations

from depot.models import Order


def forwards(apps, schema_editor):
    for order in Order.objects.all():  # expect: C8000 {"name": "Order"}
        order.save()


class Migration(migrations.Migration):
    operations = [migrations.RunPython(forwards, migrations.RunPython.noop)]
