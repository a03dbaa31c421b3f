"""Django 4.0's default settings (django/conf/global_settings.py)."""

from .django_4_1 import *  # noqa: F401,F403

del SECRET_KEY_FALLBACKS  # noqa: F821
del CSRF_COOKIE_MASKED  # noqa: F821
