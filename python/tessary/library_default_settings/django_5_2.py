"""Django 5.2's default settings (django/conf/global_settings.py)."""

from .django_6_0 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('ht', 'Haitian Creole')]]
FORMS_URLFIELD_ASSUME_HTTPS = False
DEFAULT_AUTO_FIELD = 'django.db.models.AutoField'
del SECURE_CSP  # noqa: F821
del SECURE_CSP_REPORT_ONLY  # noqa: F821
del URLIZE_ASSUME_HTTPS  # noqa: F821
del TASKS  # noqa: F821
