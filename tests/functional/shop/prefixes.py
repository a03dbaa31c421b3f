"""Prefixes are whole CamelCase words; Abstract and Base are not prefixes."""  # expect: C3003 {"count": 4, "prefix": "Shop"}
from django.db import models


class AbstractAddress(models.Model):
    class Meta:
        abstract = True


class AbstractCountry(models.Model):
    class Meta:
        abstract = True


class AbstractAccount(models.Model):
    class Meta:
        abstract = True


class AbstractAuthor(models.Model):
    class Meta:
        abstract = True


class ShopOrder(models.Model):
    pass


class ShopLine(models.Model):
    pass


class ShopBasket(models.Model):
    pass


class BaseShopVoucher(models.Model):
    pass


def make_models():
    class ShopTestA(models.Model):
        pass

    class ShopTestB(models.Model):
        pass

    return ShopTestA, ShopTestB
