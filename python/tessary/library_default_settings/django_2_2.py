"""Django 2.2's default settings."""

from .django_3_0 import *  # noqa: F401,F403

X_FRAME_OPTIONS = "SAMEORIGIN"
SECURE_CONTENT_TYPE_NOSNIFF = False
del SECURE_REFERRER_POLICY  # noqa: F821
