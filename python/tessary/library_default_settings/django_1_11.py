"""Django 1.11's default settings (django/conf/global_settings.py)."""

from .django_2_0 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('kab', 'Kabyle')]]
MIDDLEWARE_CLASSES = ['django.middleware.common.CommonMiddleware',
                      'django.middleware.csrf.CsrfViewMiddleware']
MIDDLEWARE = None
