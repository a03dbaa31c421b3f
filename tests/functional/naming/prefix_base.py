from django.db import models


class BaseAlpha(models.Model):
    pass


class BaseBeta(models.Model):
    pass


class BaseGamma(models.Model):
    pass


class BaseDelta(models.Model):
    pass
