"""Settings every deployment shares."""
# option: settings-files = ["deploy.settings.production"]
# option: django-version = "5.2"
import os

SECRET_KEY = os.environ["SECRET_KEY"]
INSTALLED_APPS = ["django.contrib.sessions"]
MIDDLEWARE = [  # expect: C4008 {"middleware": "django.middleware.clickjacking.XFrameOptionsMiddleware"}
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
]
USE_L10N = True  # expect: C4005 {"name": "USE_L10N", "version": "5.2"}
SESSION_COOKIE_HTTPONLY = False  # expect: C4015 {"name": "SESSION_COOKIE_HTTPONLY"}
SECURE_CONTENT_TYPE_NOSNIFF = False  # expect: C4012 {"name": "SECURE_CONTENT_TYPE_NOSNIFF"}
# Read from the environment: not judged (no C4010, nor the HSTS sub-rules).
SECURE_HSTS_SECONDS = int(os.environ.get("HSTS_SECONDS", "0"))
