"""Django 5.1's default settings (django/conf/global_settings.py)."""

from .django_5_2 import *  # noqa: F401,F403

del SIGNED_COOKIE_LEGACY_SALT_FALLBACK  # noqa: F821
