# A base that the app's admin modules import and build on: shared admin
# code, in its right place outside them.
from django.contrib import admin


class AuditedAdmin(admin.ModelAdmin):
    readonly_fields = ["created"]


class ArchiveAdmin(admin.ModelAdmin):  # expect: C5000 {"name": "ArchiveAdmin"}
    pass
