from django.db import models  # expect: C3003 {"count": 4, "prefix": "Car"}
# option: min-common-model-prefix-length=3


class CarA(models.Model):
    pass


class CarB(models.Model):
    pass


class CarC(models.Model):
    pass


class CarD(models.Model):
    pass
