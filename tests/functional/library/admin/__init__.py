from django.contrib import admin


class PackageAdmin(admin.ModelAdmin):
    pass
