from django.shortcuts import render
from django.urls import reverse, reverse_lazy
from django.views.generic import CreateView

from catalog.models import Book


def book_list(request):
    books = Book.objects.filter(title__icontains=request.GET.get("q", ""))
    context = {"books": books, "in_print": len(Book.objects.filter(in_print=True))}
    if books.count() > 0:
        context["has_books"] = True
    if not Book.objects.filter(author__name=""):
        context["all_credited"] = True
    return render(request, "catalog/book_list.html", context)


def book_detail(request, pk):
    book = Book.objects.get(pk=pk)
    author_id = book.author.pk
    return render(request, "catalog/book_detail.html", {"book": book, "author_id": author_id})


class BookCreate(CreateView):
    model = Book
    fields = ["title", "author"]
    success_url = reverse("book-list")

    def get_success_url(self):
        return reverse_lazy("book-detail", args=[self.object.pk])
