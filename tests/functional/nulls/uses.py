def close(ticket, title=None):
    ticket.resolution = None
    ticket.save()


def templates(Ticket, prefix):
    plain = Ticket.objects.filter(locale__isnull=True)
    return plain.exclude(**{f"{prefix}language__isnull": False})


def record(Ticket, message_id=None):
    return Ticket.objects.create(message_id=None, notes="")


def followers(ticket):
    if ticket.email is not None:
        return [ticket.email]
    return []


def reset(Ticket):
    Ticket.objects.update(**{"reference": None})
    return Ticket.objects.filter(ticket__external_key__exact=None)
