"""Django 2.0's default settings."""

from .django_2_1 import *  # noqa: F401,F403

del SESSION_COOKIE_SAMESITE, CSRF_COOKIE_SAMESITE  # noqa: F821
