"""A sibling settings module the site does not run with: its settings count
as set (SESSION_COOKIE_SECURE here would be enough), but nothing is reported
on it but what lies in it."""
# option: settings-files = ["deploy.settings.production"]
# option: django-version = "5.2"
DEBUG = True
