"""Django 2.1's default settings (django/conf/global_settings.py)."""

from .django_2_2 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('hy', 'Armenian')]]
