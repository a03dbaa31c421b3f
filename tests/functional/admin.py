from django.contrib import admin


class TopLevelAdmin(admin.ModelAdmin):  # expect: C5000 {"name": "TopLevelAdmin"}
    pass
