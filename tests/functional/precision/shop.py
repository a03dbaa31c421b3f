from django.db import models


class Basket(models.Model):
    code = models.CharField(max_length=10, unique=True)


class Line(models.Model):
    basket = models.ForeignKey(Basket, on_delete=models.CASCADE, related_name="lines")
    basket_by_code = models.ForeignKey(Basket, on_delete=models.CASCADE, to_field="code", related_name="+")
    basket_by_id = models.ForeignKey(Basket, on_delete=models.CASCADE, to_field="id", related_name="+")
    quantity = models.IntegerField(default=1)

    def keys(self):
        a = self.basket.pk  # expect: C9001 {"me": "self", "related_name": "basket", "pk_attribute": "pk"}
        b = self.basket_by_code.pk
        c = self.basket_by_id.pk  # expect: C9001 {"me": "self", "related_name": "basket_by_id", "pk_attribute": "pk"}
        return a, b, c


class Tag(models.Model):
    name = models.CharField(max_length=10)
    baskets = models.ManyToManyField(Basket, related_name="tags")
