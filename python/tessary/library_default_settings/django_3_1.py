"""Django 3.1's default settings (django/conf/global_settings.py)."""

from .django_3_2 import *  # noqa: F401,F403

del DATA_UPLOAD_MAX_NUMBER_FILES  # noqa: F821
del DEFAULT_AUTO_FIELD  # noqa: F821
