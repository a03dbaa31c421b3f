from django.contrib import admin

from catalog.models import Author, Book


@admin.register(Book)
class BookAdmin(admin.ModelAdmin):
    list_display = ["title", "author", "published"]


admin.site.register(Author)
