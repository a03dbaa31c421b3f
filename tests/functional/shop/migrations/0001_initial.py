from django.db import migrations, models


class Migration(migrations.Migration):
    initial = True

    operations = [
        migrations.CreateModel(
            name="Author",
            fields=[
                ("id", models.AutoField(primary_key=True)),
                ("nickname", models.CharField(max_length=2000, null=True)),
                ("legacy", models.NullBooleanField()),
            ],
        ),
    ]
