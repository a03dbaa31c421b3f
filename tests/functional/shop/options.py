from django.db import models
# option: max-model-fields=30


class Wide(models.Model):
    f01 = models.IntegerField()
    f02 = models.IntegerField()
    f03 = models.IntegerField()
    f04 = models.IntegerField()
    f05 = models.IntegerField()
    f06 = models.IntegerField()
    f07 = models.IntegerField()
    f08 = models.IntegerField()
    f09 = models.IntegerField()
    f10 = models.IntegerField()
    f11 = models.IntegerField()
    f12 = models.IntegerField()
    f13 = models.IntegerField()
    f14 = models.IntegerField()
    f15 = models.IntegerField()
    f16 = models.IntegerField()
    f17 = models.IntegerField()
    f18 = models.IntegerField()
    f19 = models.IntegerField()
    f20 = models.IntegerField()
    f21 = models.IntegerField()
