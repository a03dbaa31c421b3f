from django.db import models  # expect: C3000 {"count": 10, "maximum": 10}


class StockItem(models.Model):
    pass


class StockLevel(models.Model):
    pass


class StockMove(models.Model):
    pass


class StockTake(models.Model):
    pass


class Warehouse(models.Model):
    pass


class Shelf(models.Model):
    pass


class Supplier(models.Model):
    pass


class Delivery(models.Model):
    pass


class Invoice(models.Model):
    pass


class Payment(models.Model):
    pass
