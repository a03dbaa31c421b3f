"""Django 4.1's default settings (django/conf/global_settings.py)."""

from .django_4_2 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('ckb', 'Central Kurdish (Sorani)')]]
LANGUAGES_BIDI = [entry for entry in LANGUAGES_BIDI if entry not in ['ckb']]
del STORAGES  # noqa: F821
