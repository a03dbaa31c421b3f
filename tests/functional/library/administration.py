from django.contrib import admin


class ToolAdmin(admin.ModelAdmin):
    pass
