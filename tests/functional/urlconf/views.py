from django.shortcuts import redirect
from django.urls import reverse, reverse_lazy
from django.views.generic import CreateView

HOME = reverse("home")  # expect: C6001
LATER = reverse_lazy("home")


def helper(url=reverse("home")):  # expect: C6001
    return reverse("home")


class BookCreate(CreateView):
    success_url = reverse("book-list")  # expect: C6001
    cancel_url = reverse_lazy("book-list")
    make_url = staticmethod(lambda: reverse("book-list"))

    def get_success_url(self):
        return reverse_lazy("book-detail", args=[self.object.pk])  # expect: C6000

    def get_urls(self):
        return [reverse_lazy("book-list")]

    def post(self, request):
        return redirect(reverse_lazy("book-list"))  # expect: C6000

    def form_valid(self, form):
        self.next = reverse_lazy("book-list")
        return super().form_valid(form)
