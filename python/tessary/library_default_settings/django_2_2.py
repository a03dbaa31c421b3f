"""Django 2.2's default settings (django/conf/global_settings.py)."""

from .django_3_0 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('uz', 'Uzbek')]]
DEFAULT_CONTENT_TYPE = 'text/html'
FILE_UPLOAD_PERMISSIONS = None
X_FRAME_OPTIONS = 'SAMEORIGIN'
SECURE_CONTENT_TYPE_NOSNIFF = False
del LANGUAGE_COOKIE_SECURE  # noqa: F821
del LANGUAGE_COOKIE_HTTPONLY  # noqa: F821
del LANGUAGE_COOKIE_SAMESITE  # noqa: F821
del SECURE_REFERRER_POLICY  # noqa: F821
