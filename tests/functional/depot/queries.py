# Querysets that come from a custom manager or queryset method.
from django.db import models


class TicketQuerySet(models.QuerySet):
    def for_owner(self, owner):
        return self.filter(owner=owner)


class TicketManager(models.Manager):
    def open(self):
        return self.get_queryset().filter(closed=False)


class Ticket(models.Model):
    owner = models.CharField(max_length=10, blank=True)
    closed = models.BooleanField(default=False)

    objects = TicketManager()
    mine = TicketQuerySet.as_manager()


class Label(models.Model):
    name = models.CharField(max_length=10, blank=True)

    objects = TicketQuerySet.as_manager()


def summary(owner):
    any_open = Ticket.objects.open().count() > 0  # expect: C9002 {"queryset": "Ticket.objects.open()"}
    none_mine = Ticket.mine.for_owner(owner).count() == 0  # expect: C9002 {"queryset": "Ticket.mine.for_owner(owner)"}
    labelled = Label.objects.for_owner(owner).count() >= 1  # expect: C9002 {"queryset": "Label.objects.for_owner(owner)"}
    everyone = Ticket.objects.count() > 0
    return any_open, none_mine, labelled, everyone
