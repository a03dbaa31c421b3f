from django.db import models


class InventoryItem(models.Model):
    isbn = models.CharField(max_length=13, unique=True)
    title = models.CharField(max_length=200)


class InventoryLocation(models.Model):
    code = models.CharField(max_length=10, unique=True)


class InventoryLevel(models.Model):
    item = models.ForeignKey(InventoryItem, on_delete=models.CASCADE, related_name="levels")
    location = models.ForeignKey(InventoryLocation, on_delete=models.CASCADE, related_name="levels")
    quantity = models.IntegerField(default=0)


class InventoryMove(models.Model):
    item = models.ForeignKey(InventoryItem, on_delete=models.CASCADE, related_name="moves")
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
    item = models.ForeignKey(InventoryItem, on_delete=models.PROTECT, related_name="purchases")
    quantity = models.PositiveIntegerField()


class Delivery(models.Model):
    order = models.ForeignKey(PurchaseOrder, on_delete=models.CASCADE, related_name="deliveries")
    received_at = models.DateTimeField(null=True, blank=True)


class Shelf(models.Model):
    location = models.ForeignKey(InventoryLocation, on_delete=models.CASCADE, related_name="shelves")
    label = models.CharField(max_length=20)


class InventoryTake(models.Model):
    location = models.ForeignKey(InventoryLocation, on_delete=models.CASCADE, related_name="takes")
    taken_at = models.DateTimeField()
