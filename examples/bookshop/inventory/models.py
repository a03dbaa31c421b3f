from django.db import models


class StockItem(models.Model):
    isbn = models.CharField(max_length=13, unique=True)
    title = models.CharField(max_length=200)


class StockLocation(models.Model):
    code = models.CharField(max_length=10, unique=True)


class StockLevel(models.Model):
    item = models.ForeignKey(StockItem, on_delete=models.CASCADE, related_name="levels")
    location = models.ForeignKey(StockLocation, on_delete=models.CASCADE, related_name="levels")
    quantity = models.IntegerField(default=0)


class StockMove(models.Model):
    item = models.ForeignKey(StockItem, on_delete=models.CASCADE, related_name="moves")
    quantity = models.IntegerField()
    moved_at = models.DateTimeField(auto_now_add=True)

    def get_absolute_url(self):
        return f"/inventory/moves/{self.pk}/"

    def __str__(self):
        return f"{self.quantity} x {self.item}"


class Supplier(models.Model):
    name = models.CharField(max_length=200)


class PurchaseOrder(models.Model):
    supplier = models.ForeignKey(Supplier, on_delete=models.PROTECT, related_name="orders")
    placed_at = models.DateTimeField(auto_now_add=True)


class PurchaseLine(models.Model):
    order = models.ForeignKey(PurchaseOrder, on_delete=models.CASCADE, related_name="lines")
    item = models.ForeignKey(StockItem, on_delete=models.PROTECT, related_name="purchases")
    quantity = models.PositiveIntegerField()


class Delivery(models.Model):
    order = models.ForeignKey(PurchaseOrder, on_delete=models.CASCADE, related_name="deliveries")
    received_at = models.DateTimeField(null=True, blank=True)


class Shelf(models.Model):
    location = models.ForeignKey(StockLocation, on_delete=models.CASCADE, related_name="shelves")
    label = models.CharField(max_length=20)


class StockTake(models.Model):
    location = models.ForeignKey(StockLocation, on_delete=models.CASCADE, related_name="takes")
    taken_at = models.DateTimeField()
