"""The settings the site runs with."""  # expect: C4013 {"name": "SECURE_SSL_REDIRECT"}; C4016 {"name": "CSRF_COOKIE_SECURE"}
# option: settings-files = ["deploy.settings.production"]
# option: django-version = "5.2"
from .base import *  # noqa: F401,F403

MIDDLEWARE += ["django.middleware.csrf.CsrfViewMiddleware"]  # noqa: F405
SESSION_COOKIE_SECURE = True
