from django.contrib import admin


class ProjectAdmin(admin.ModelAdmin):  # expect: C5000 {"name": "ProjectAdmin"}
    pass


class DerivedAdmin(ProjectAdmin):  # expect: C5000 {"name": "DerivedAdmin"}
    pass


class StackedThing(admin.StackedInline):  # expect: C5000 {"name": "StackedThing"}
    pass


class NotAnAdmin:
    pass


class Outer:
    class NestedAdmin(admin.ModelAdmin):  # expect: C5000 {"name": "NestedAdmin"}
        pass
