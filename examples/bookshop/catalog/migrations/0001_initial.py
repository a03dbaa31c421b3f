import django.db.models.deletion
from django.db import migrations, models


class Migration(migrations.Migration):
    initial = True

    dependencies = []

    operations = [
        migrations.CreateModel(
            name="Author",
            fields=[
                ("id", models.BigAutoField(auto_created=True, primary_key=True, serialize=False)),
                ("name", models.CharField(max_length=200)),
                ("nickname", models.CharField(blank=True, max_length=100, null=True)),
                ("website", models.URLField(blank=True)),
            ],
        ),
        migrations.CreateModel(
            name="Book",
            fields=[
                ("title", models.CharField(max_length=200)),
                ("summary", models.CharField(blank=True, max_length=2000)),
                ("isbn", models.CharField(max_length=13, primary_key=True, serialize=False, unique=True)),
                ("published", models.DateField(null=True)),
                ("in_print", models.BooleanField(null=True)),
                ("slug", models.SlugField(unique_for_date="published")),
                (
                    "author",
                    models.ForeignKey(on_delete=django.db.models.deletion.CASCADE, to="catalog.author"),
                ),
            ],
            options={"ordering": ["title"]},
        ),
    ]
