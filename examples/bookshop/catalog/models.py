from django.contrib.contenttypes.fields import GenericForeignKey
from django.contrib.contenttypes.models import ContentType
from django.db import models


class Author(models.Model):
    name = models.CharField(max_length=200)
    # A nullable string field: two ways to say "no text".
    nickname = models.CharField(max_length=100, null=True, blank=True)
    website = models.URLField(blank=True)

    def __str__(self):
        return self.name


class Book(models.Model):
    title = models.CharField(max_length=200)
    # Far longer than a CharField should be.
    summary = models.CharField(max_length=2000, blank=True)
    isbn = models.CharField(max_length=13, primary_key=True, unique=False)
    author = models.ForeignKey(Author, on_delete=models.CASCADE)
    published = models.DateField(null=True)
    in_print = models.NullBooleanField()
    slug = models.SlugField(unique_for_date="published", blank=False)

    def __str__(self):
        return self.title

    class Meta:
        ordering = ["title"]


class Review(models.Model):
    content_type = models.ForeignKey(ContentType, on_delete=models.CASCADE, related_name="+")
    object_id = models.PositiveIntegerField()
    subject = GenericForeignKey("content_type", "object_id")
    text = models.TextField()
