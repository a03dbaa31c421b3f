"""Django 3.1's default settings: 3.2's without DEFAULT_AUTO_FIELD."""

from .django_3_2 import *  # noqa: F401,F403

del DEFAULT_AUTO_FIELD  # noqa: F821
