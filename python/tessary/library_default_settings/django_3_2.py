"""Django 3.2's default settings (django/conf/global_settings.py)."""

from .django_4_0 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('ms', 'Malay')]]
USE_L10N = False
DEFAULT_HASHING_ALGORITHM = 'sha256'
PASSWORD_RESET_TIMEOUT_DAYS = 3
PASSWORD_HASHERS = [entry for entry in PASSWORD_HASHERS if entry not in ['django.contrib.auth.hashers.ScryptPasswordHasher']]
SECURE_BROWSER_XSS_FILTER = False
del USE_DEPRECATED_PYTZ  # noqa: F821
del SECURE_CROSS_ORIGIN_OPENER_POLICY  # noqa: F821
