from django.contrib import admin
from django.db import models


class OrderOrder(models.Model):
    """A customer's order, with every detail in one table."""

    number = models.CharField(max_length=20, unique=True)
    customer_name = models.CharField(max_length=200)
    customer_email = models.EmailField()
    street = models.CharField(max_length=200)
    city = models.CharField(max_length=100)
    postcode = models.CharField(max_length=20)
    country = models.CharField(max_length=2)
    phone = models.CharField(max_length=30, blank=True)
    note = models.TextField(blank=True)
    placed_at = models.DateTimeField(auto_now_add=True)
    paid_at = models.DateTimeField(null=True, blank=True)
    shipped_at = models.DateTimeField(null=True, blank=True)
    delivered_at = models.DateTimeField(null=True, blank=True)
    total = models.DecimalField(max_digits=10, decimal_places=2)
    tax = models.DecimalField(max_digits=10, decimal_places=2)
    shipping = models.DecimalField(max_digits=10, decimal_places=2)
    discount = models.DecimalField(max_digits=10, decimal_places=2, default=0)
    currency = models.CharField(max_length=3, default="EUR")
    gift = models.BooleanField(default=False)
    gift_message = models.TextField(blank=True)
    tracking_code = models.CharField(max_length=50, blank=True)

    def __str__(self):
        return self.number


class OrderLine(models.Model):
    order = models.ForeignKey(OrderOrder, on_delete=models.CASCADE, related_name="lines")
    isbn = models.CharField(max_length=13)
    quantity = models.PositiveIntegerField(default=1)


class OrderAdmin(admin.ModelAdmin):
    list_display = ["number", "customer_name", "placed_at"]


admin.site.register(OrderOrder, OrderAdmin)
