from django.db import models


class A1(models.Model):
    pass


class A2(models.Model):
    pass


class A3(models.Model):
    pass


class A4(models.Model):
    pass


class A5(models.Model):
    pass


class A6(models.Model):
    pass


class A7(models.Model):
    pass


class A8(models.Model):
    pass


class A9(models.Model):
    pass
