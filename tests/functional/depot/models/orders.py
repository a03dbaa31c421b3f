from django.db import models


class Order(models.Model):
    reference = models.CharField(max_length=20, blank=True)
