# Book is not the name of this module's app (naming): the prefix is a word
# the names need, not a namespace the app already gives them.
from django.db import models


class BookAuthor(models.Model):
    pass


class BookPublisher(models.Model):
    pass


class BookReview(models.Model):
    pass


class BookStore(models.Model):
    pass
