"""A project's max-charfield-length is the longest CharField C2006 leaves alone."""
# option: max-charfield-length=100
from django.db import models


class Ticket(models.Model):
    code = models.CharField(max_length=100)
    subject = models.CharField(max_length=101)  # expect: C2006 {"name": "subject", "value": 101}
    body = models.CharField(max_length=400)  # expect: C2006 {"name": "body", "value": 400}
    notes = models.TextField()
