from django.contrib import admin

from ..bases import AuditedAdmin


class LineInline(admin.TabularInline):
    pass


class LineAdmin(AuditedAdmin):
    inlines = [LineInline]
