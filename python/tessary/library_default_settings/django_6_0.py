"""Django 6.0's default settings (django/conf/global_settings.py)."""

from .django_6_1 import *  # noqa: F401,F403

SIGNED_COOKIE_LEGACY_SALT_FALLBACK = True
del USE_BLANK_CHOICE_DASH  # noqa: F821
