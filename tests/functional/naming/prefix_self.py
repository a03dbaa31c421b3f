from django.db import models


class Book(models.Model):
    pass


class BookA(models.Model):
    pass


class BookB(models.Model):
    pass


class BookC(models.Model):
    pass
