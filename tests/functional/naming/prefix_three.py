from django.db import models


class BookAuthor(models.Model):
    pass


class BookPublisher(models.Model):
    pass


class BookReview(models.Model):
    pass
