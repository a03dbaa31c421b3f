"""Querysets whose rows the function uses anyway, and querysets reached
through related managers and queryset methods."""
from precision.shop import Basket, Line, Tag


def rows_used_after_truth_test():
    lines = Line.objects.filter(quantity=2)
    if not lines:
        return []
    return [line.quantity for line in lines]


def rows_used_after_len():
    lines = Line.objects.all()
    total = len(lines)
    first = lines[0]
    return total, first


def rows_listed_after_len_compare():
    lines = Line.objects.all()
    if len(lines) > 0:
        return sorted(lines, key=str)
    return []


def rows_sliced():
    lines = Line.objects.all()
    if lines:
        return lines[:3]
    return None


def tested_then_measured():
    # The truth test fills the cache that len() reads: one query in all.
    lines = Line.objects.all()
    if lines:
        return len(lines)
    return 0


def joined_later():
    names = Line.objects.values_list("name", flat=True)
    if names:
        return ", ".join(names)
    return ""


def handed_to_the_template(request):
    lines = Line.objects.all()
    total = len(lines)
    return render(request, "lines.html", {"lines": lines, "total": total})


def returned_after_the_test():
    lines = Line.objects.all()
    if not lines:
        return None
    return lines


def measured_twice():
    lines = Line.objects.all()
    first = len(lines)
    return first + len(lines)


def only_counted_besides():
    lines = Line.objects.all()
    if len(lines) > 0:  # expect: C9002 {"queryset": "lines"}; C9000
        return lines.count()
    return lines.exists()


def counted_then_iterated():
    lines = Line.objects.all()
    if lines.count() > 0:  # expect: C9002 {"queryset": "lines"}
        for line in lines:
            print(line)


def rebound_before_use():
    matches = Line.objects.filter(quantity=1)
    matches = list(matches)
    if matches:
        return matches[0]
    return None


def iterated_elsewhere_is_another_queryset():
    lines = Line.objects.all()
    others = Line.objects.all()
    if lines:  # expect: C9003 {"queryset": "lines"}
        for line in others:
            print(line)


def related_managers(basket_id):
    basket = Basket.objects.get(pk=basket_id)
    a = len(basket.lines.all())  # expect: C9000
    if basket.lines.filter(quantity=2).count() > 0:  # expect: C9002 {"queryset": "basket.lines.filter(quantity=2)"}
        pass
    b = len(basket.line_set.filter(quantity=1))  # expect: C9000
    tag = Tag.objects.first()
    c = len(tag.baskets.all())  # expect: C9000
    d = len(basket.tags.all())  # expect: C9000
    return a, b, c, d


def queryset_methods():
    a = len(Line.objects.values_list("id", flat=True))  # expect: C9000
    b = len(Line.objects.filter(quantity=1).values("id"))  # expect: C9000
    c = len(Line.objects.select_related("basket").order_by("id").distinct())  # expect: C9000
    d = len(Line.objects.only("id").defer("quantity").annotate())  # expect: C9000
    e = len(Line.objects.all().union(Line.objects.all()))  # expect: C9000
    return a, b, c, d, e


class Subscriptions:
    def load(self, owner):
        # An attribute of self is used again under the same spelling.
        self.lines = Line.objects.filter(quantity=owner)
        if self.lines:
            return self.lines[0]
        return None

    def probe(self):
        self.others = Line.objects.all()
        if self.others:  # expect: C9003 {"queryset": "self.others"}
            return True
        return self.others.count()


def narrowed_then_tested(pk):
    # The name is bound to a new queryset: the old one's rows are never read.
    duplicates = Line.objects.filter(quantity=1)
    if pk:
        duplicates = duplicates.exclude(pk=pk)
    if duplicates:  # expect: C9003 {"queryset": "duplicates"}
        raise ValueError("duplicate")
