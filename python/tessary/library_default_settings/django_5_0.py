"""Django 5.0's default settings (django/conf/global_settings.py)."""

from .django_5_1 import *  # noqa: F401,F403

DEFAULT_FILE_STORAGE = 'django.core.files.storage.FileSystemStorage'
STATICFILES_STORAGE = 'django.contrib.staticfiles.storage.StaticFilesStorage'
