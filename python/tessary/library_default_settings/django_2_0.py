"""Django 2.0's default settings (django/conf/global_settings.py)."""

from .django_2_1 import *  # noqa: F401,F403

USE_ETAGS = False
PASSWORD_HASHERS = ['django.contrib.auth.hashers.PBKDF2PasswordHasher',
                    'django.contrib.auth.hashers.PBKDF2SHA1PasswordHasher',
                    'django.contrib.auth.hashers.Argon2PasswordHasher',
                    'django.contrib.auth.hashers.BCryptSHA256PasswordHasher',
                    'django.contrib.auth.hashers.BCryptPasswordHasher']
del SESSION_COOKIE_SAMESITE  # noqa: F821
del CSRF_COOKIE_SAMESITE  # noqa: F821
