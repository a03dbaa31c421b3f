"""Django 2.1's default settings."""

from .django_2_2 import *  # noqa: F401,F403

FILE_UPLOAD_PERMISSIONS = None
