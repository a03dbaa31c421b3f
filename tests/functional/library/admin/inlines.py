from django.contrib import admin


class LineInline(admin.TabularInline):
    pass
