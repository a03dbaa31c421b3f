"""Django 1.11's default settings."""

from .django_2_0 import *  # noqa: F401,F403

MIDDLEWARE = None
MIDDLEWARE_CLASSES = [
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
]
