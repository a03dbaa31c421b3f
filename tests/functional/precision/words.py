"""No prefix is cut inside a word: Category and Catalogue share no word."""
from django.db import models


class Category(models.Model):
    pass


class Catalogue(models.Model):
    pass


class CatalogueEntry(models.Model):
    pass


class Cattle(models.Model):
    pass
