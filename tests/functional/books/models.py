from django.db import models  # expect: C3003 {"count": 4, "prefix": "Book"}


class BookAuthor(models.Model):
    pass


class BookPublisher(models.Model):
    pass


class BookReview(models.Model):
    pass


class BookStore(models.Model):
    pass
