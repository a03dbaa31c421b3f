# Models of the app "books" that extend Book (multi-table inheritance): the
# prefix says what they extend.
from django.db import models


class Book(models.Model):
    title = models.CharField(max_length=100)


class BookAuthor(Book):
    pass


class BookPublisher(Book):
    pass


class BookReview(Book):
    pass


class BookStore(Book):
    pass
