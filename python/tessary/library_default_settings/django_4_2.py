"""Django 4.2's default settings (django/conf/global_settings.py)."""

from .django_5_0 import *  # noqa: F401,F403

USE_TZ = False
USE_DEPRECATED_PYTZ = False
LANGUAGES = [entry for entry in LANGUAGES if entry not in [('ug', 'Uyghur')]]
LANGUAGES_BIDI = [entry for entry in LANGUAGES_BIDI if entry not in ['ug']]
USE_L10N = True
CSRF_COOKIE_MASKED = False
del FORMS_URLFIELD_ASSUME_HTTPS  # noqa: F821
