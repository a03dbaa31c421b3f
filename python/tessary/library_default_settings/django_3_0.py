"""Django 3.0's default settings (django/conf/global_settings.py)."""

from .django_3_1 import *  # noqa: F401,F403

LANGUAGES = [entry for entry in LANGUAGES if entry not in [('ar-dz', 'Algerian Arabic'), ('ig', 'Igbo'), ('ky', 'Kyrgyz'), ('tg', 'Tajik'), ('tk', 'Turkmen')]]
LANGUAGES_BIDI = [entry for entry in LANGUAGES_BIDI if entry not in ['ar-dz']]
FILE_CHARSET = 'utf-8'
DATETIME_INPUT_FORMATS = ['%Y-%m-%d %H:%M:%S',
                          '%Y-%m-%d %H:%M:%S.%f',
                          '%Y-%m-%d %H:%M',
                          '%Y-%m-%d',
                          '%m/%d/%Y %H:%M:%S',
                          '%m/%d/%Y %H:%M:%S.%f',
                          '%m/%d/%Y %H:%M',
                          '%m/%d/%Y',
                          '%m/%d/%y %H:%M:%S',
                          '%m/%d/%y %H:%M:%S.%f',
                          '%m/%d/%y %H:%M',
                          '%m/%d/%y']
SECURE_REFERRER_POLICY = None
del DEFAULT_HASHING_ALGORITHM  # noqa: F821
del PASSWORD_RESET_TIMEOUT  # noqa: F821
del DEFAULT_EXCEPTION_REPORTER  # noqa: F821
