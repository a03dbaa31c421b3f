from shop.models import Author, Book


def lengths():
    books = Book.objects.all()
    items = [1, 2]
    total = len(books)  # expect: C9000 {"foo": "bar"}
    len(items)
    len(Book.objects.all(), 1)
    return total


def counts():
    books = Book.objects.filter(title="x")
    if books.count() > 0:  # expect: C9002 {"queryset": "books"}
        pass
    a = books.count() >= 1  # expect: C9002 {"queryset": "books"}
    b = books.count() == 0  # expect: C9002 {"queryset": "books"}
    c = books.count() < 1  # expect: C9002 {"queryset": "books"}
    d = books.count() > 1
    e = books.count() != 0
    f = 0 < books.count()
    g = len(Book.objects.all()) > 0  # expect: C9002 {"queryset": "Book.objects.all()"}; C9000
    if books.count():  # expect: C9002 {"queryset": "books"}
        pass
    h = not Author.objects.all()  # expect: C9003 {"queryset": "Author.objects.all()"}
    if not books.count():  # expect: C9002 {"queryset": "books"}
        pass
    i = -books.count()  # expect: C9002 {"queryset": "books"}
    j = books.count(1)
    k = Author.objects.filter(name="x").exclude(name="y").exists()
    return a, b, c, d, e, f, g, h, i, j, k


def tested():
    books = Book.objects.filter(title="x")
    if books:  # expect: C9003 {"queryset": "books"}
        pass


def get_book():
    return Book.objects.get(pk=1)


def lookups():
    book = Book.objects.get(pk=1)
    a = book.author.pk  # expect: C9001 {"me": "book", "related_name": "author", "pk_attribute": "pk"}
    b = book.author.id  # expect: C9001 {"me": "book", "related_name": "author", "pk_attribute": "id"}
    c = get_book().author.pk  # expect: C9001 {"me": "model", "related_name": "author", "pk_attribute": "pk"}
    d = book.author.name
    author = book.author
    e = author.pk
    return a, b, c, d, e
