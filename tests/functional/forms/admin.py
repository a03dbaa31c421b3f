from django.contrib import admin

from .models import Crate, Shelf

admin.site.register([Shelf, Crate])
