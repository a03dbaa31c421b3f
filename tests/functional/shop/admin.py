from django.contrib import admin

from shop.models import Author, Book


class BookInline(admin.TabularInline):
    model = Book


class AuthorAdmin(admin.ModelAdmin):
    inlines = [BookInline]


admin.site.register(Author, AuthorAdmin)
