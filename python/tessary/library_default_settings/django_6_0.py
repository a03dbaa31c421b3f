"""Django 6.0's default settings (django/conf/global_settings.py)."""

DEBUG = False
DEBUG_PROPAGATE_EXCEPTIONS = False
ADMINS = []
INTERNAL_IPS = []
ALLOWED_HOSTS = []
TIME_ZONE = 'America/Chicago'
USE_TZ = True
LANGUAGE_CODE = 'en-us'
LANGUAGES = [('af', 'Afrikaans'),
             ('ar', 'Arabic'),
             ('ar-dz', 'Algerian Arabic'),
             ('ast', 'Asturian'),
             ('az', 'Azerbaijani'),
             ('bg', 'Bulgarian'),
             ('be', 'Belarusian'),
             ('bn', 'Bengali'),
             ('br', 'Breton'),
             ('bs', 'Bosnian'),
             ('ca', 'Catalan'),
             ('ckb', 'Central Kurdish (Sorani)'),
             ('cs', 'Czech'),
             ('cy', 'Welsh'),
             ('da', 'Danish'),
             ('de', 'German'),
             ('dsb', 'Lower Sorbian'),
             ('el', 'Greek'),
             ('en', 'English'),
             ('en-au', 'Australian English'),
             ('en-gb', 'British English'),
             ('eo', 'Esperanto'),
             ('es', 'Spanish'),
             ('es-ar', 'Argentinian Spanish'),
             ('es-co', 'Colombian Spanish'),
             ('es-mx', 'Mexican Spanish'),
             ('es-ni', 'Nicaraguan Spanish'),
             ('es-ve', 'Venezuelan Spanish'),
             ('et', 'Estonian'),
             ('eu', 'Basque'),
             ('fa', 'Persian'),
             ('fi', 'Finnish'),
             ('fr', 'French'),
             ('fy', 'Frisian'),
             ('ga', 'Irish'),
             ('gd', 'Scottish Gaelic'),
             ('gl', 'Galician'),
             ('he', 'Hebrew'),
             ('hi', 'Hindi'),
             ('hr', 'Croatian'),
             ('hsb', 'Upper Sorbian'),
             ('ht', 'Haitian Creole'),
             ('hu', 'Hungarian'),
             ('hy', 'Armenian'),
             ('ia', 'Interlingua'),
             ('id', 'Indonesian'),
             ('ig', 'Igbo'),
             ('io', 'Ido'),
             ('is', 'Icelandic'),
             ('it', 'Italian'),
             ('ja', 'Japanese'),
             ('ka', 'Georgian'),
             ('kab', 'Kabyle'),
             ('kk', 'Kazakh'),
             ('km', 'Khmer'),
             ('kn', 'Kannada'),
             ('ko', 'Korean'),
             ('ky', 'Kyrgyz'),
             ('lb', 'Luxembourgish'),
             ('lt', 'Lithuanian'),
             ('lv', 'Latvian'),
             ('mk', 'Macedonian'),
             ('ml', 'Malayalam'),
             ('mn', 'Mongolian'),
             ('mr', 'Marathi'),
             ('ms', 'Malay'),
             ('my', 'Burmese'),
             ('nb', 'Norwegian Bokmål'),
             ('ne', 'Nepali'),
             ('nl', 'Dutch'),
             ('nn', 'Norwegian Nynorsk'),
             ('os', 'Ossetic'),
             ('pa', 'Punjabi'),
             ('pl', 'Polish'),
             ('pt', 'Portuguese'),
             ('pt-br', 'Brazilian Portuguese'),
             ('ro', 'Romanian'),
             ('ru', 'Russian'),
             ('sk', 'Slovak'),
             ('sl', 'Slovenian'),
             ('sq', 'Albanian'),
             ('sr', 'Serbian'),
             ('sr-latn', 'Serbian Latin'),
             ('sv', 'Swedish'),
             ('sw', 'Swahili'),
             ('ta', 'Tamil'),
             ('te', 'Telugu'),
             ('tg', 'Tajik'),
             ('th', 'Thai'),
             ('tk', 'Turkmen'),
             ('tr', 'Turkish'),
             ('tt', 'Tatar'),
             ('udm', 'Udmurt'),
             ('ug', 'Uyghur'),
             ('uk', 'Ukrainian'),
             ('ur', 'Urdu'),
             ('uz', 'Uzbek'),
             ('vi', 'Vietnamese'),
             ('zh-hans', 'Simplified Chinese'),
             ('zh-hant', 'Traditional Chinese')]
LANGUAGES_BIDI = ['he', 'ar', 'ar-dz', 'ckb', 'fa', 'ug', 'ur']
USE_I18N = True
LOCALE_PATHS = []
LANGUAGE_COOKIE_NAME = 'django_language'
LANGUAGE_COOKIE_AGE = None
LANGUAGE_COOKIE_DOMAIN = None
LANGUAGE_COOKIE_PATH = '/'
LANGUAGE_COOKIE_SECURE = False
LANGUAGE_COOKIE_HTTPONLY = False
LANGUAGE_COOKIE_SAMESITE = None
MANAGERS = []
DEFAULT_CHARSET = 'utf-8'
SERVER_EMAIL = 'root@localhost'
DATABASES = {}
DATABASE_ROUTERS = []
EMAIL_BACKEND = 'django.core.mail.backends.smtp.EmailBackend'
EMAIL_HOST = 'localhost'
EMAIL_PORT = 25
EMAIL_USE_LOCALTIME = False
EMAIL_HOST_USER = ''
EMAIL_HOST_PASSWORD = ''
EMAIL_USE_TLS = False
EMAIL_USE_SSL = False
EMAIL_SSL_CERTFILE = None
EMAIL_SSL_KEYFILE = None
EMAIL_TIMEOUT = None
INSTALLED_APPS = []
TEMPLATES = []
FORM_RENDERER = 'django.forms.renderers.DjangoTemplates'
DEFAULT_FROM_EMAIL = 'webmaster@localhost'
EMAIL_SUBJECT_PREFIX = '[Django] '
APPEND_SLASH = True
PREPEND_WWW = False
FORCE_SCRIPT_NAME = None
DISALLOWED_USER_AGENTS = []
ABSOLUTE_URL_OVERRIDES = {}
IGNORABLE_404_URLS = []
SECRET_KEY = ''
SECRET_KEY_FALLBACKS = []
STORAGES = {'default': {'BACKEND': 'django.core.files.storage.FileSystemStorage'},
            'staticfiles': {'BACKEND': 'django.contrib.staticfiles.storage.StaticFilesStorage'}}
MEDIA_ROOT = ''
MEDIA_URL = ''
STATIC_ROOT = None
STATIC_URL = None
FILE_UPLOAD_HANDLERS = ['django.core.files.uploadhandler.MemoryFileUploadHandler',
                        'django.core.files.uploadhandler.TemporaryFileUploadHandler']
FILE_UPLOAD_MAX_MEMORY_SIZE = 2621440
DATA_UPLOAD_MAX_MEMORY_SIZE = 2621440
DATA_UPLOAD_MAX_NUMBER_FIELDS = 1000
DATA_UPLOAD_MAX_NUMBER_FILES = 100
FILE_UPLOAD_TEMP_DIR = None
FILE_UPLOAD_PERMISSIONS = 420
FILE_UPLOAD_DIRECTORY_PERMISSIONS = None
FORMAT_MODULE_PATH = None
DATE_FORMAT = 'N j, Y'
DATETIME_FORMAT = 'N j, Y, P'
TIME_FORMAT = 'P'
YEAR_MONTH_FORMAT = 'F Y'
MONTH_DAY_FORMAT = 'F j'
SHORT_DATE_FORMAT = 'm/d/Y'
SHORT_DATETIME_FORMAT = 'm/d/Y P'
DATE_INPUT_FORMATS = ['%Y-%m-%d',
                      '%m/%d/%Y',
                      '%m/%d/%y',
                      '%b %d %Y',
                      '%b %d, %Y',
                      '%d %b %Y',
                      '%d %b, %Y',
                      '%B %d %Y',
                      '%B %d, %Y',
                      '%d %B %Y',
                      '%d %B, %Y']
TIME_INPUT_FORMATS = ['%H:%M:%S', '%H:%M:%S.%f', '%H:%M']
DATETIME_INPUT_FORMATS = ['%Y-%m-%d %H:%M:%S',
                          '%Y-%m-%d %H:%M:%S.%f',
                          '%Y-%m-%d %H:%M',
                          '%m/%d/%Y %H:%M:%S',
                          '%m/%d/%Y %H:%M:%S.%f',
                          '%m/%d/%Y %H:%M',
                          '%m/%d/%y %H:%M:%S',
                          '%m/%d/%y %H:%M:%S.%f',
                          '%m/%d/%y %H:%M']
FIRST_DAY_OF_WEEK = 0
DECIMAL_SEPARATOR = '.'
USE_THOUSAND_SEPARATOR = False
NUMBER_GROUPING = 0
THOUSAND_SEPARATOR = ','
DEFAULT_TABLESPACE = ''
DEFAULT_INDEX_TABLESPACE = ''
DEFAULT_AUTO_FIELD = 'django.db.models.BigAutoField'
X_FRAME_OPTIONS = 'DENY'
USE_X_FORWARDED_HOST = False
USE_X_FORWARDED_PORT = False
WSGI_APPLICATION = None
SECURE_PROXY_SSL_HEADER = None
MIDDLEWARE = []
SESSION_CACHE_ALIAS = 'default'
SESSION_COOKIE_NAME = 'sessionid'
SESSION_COOKIE_AGE = 1209600
SESSION_COOKIE_DOMAIN = None
SESSION_COOKIE_SECURE = False
SESSION_COOKIE_PATH = '/'
SESSION_COOKIE_HTTPONLY = True
SESSION_COOKIE_SAMESITE = 'Lax'
SESSION_SAVE_EVERY_REQUEST = False
SESSION_EXPIRE_AT_BROWSER_CLOSE = False
SESSION_ENGINE = 'django.contrib.sessions.backends.db'
SESSION_FILE_PATH = None
SESSION_SERIALIZER = 'django.contrib.sessions.serializers.JSONSerializer'
CACHES = {'default': {'BACKEND': 'django.core.cache.backends.locmem.LocMemCache'}}
CACHE_MIDDLEWARE_KEY_PREFIX = ''
CACHE_MIDDLEWARE_SECONDS = 600
CACHE_MIDDLEWARE_ALIAS = 'default'
AUTH_USER_MODEL = 'auth.User'
AUTHENTICATION_BACKENDS = ['django.contrib.auth.backends.ModelBackend']
LOGIN_URL = '/accounts/login/'
LOGIN_REDIRECT_URL = '/accounts/profile/'
LOGOUT_REDIRECT_URL = None
PASSWORD_RESET_TIMEOUT = 259200
PASSWORD_HASHERS = ['django.contrib.auth.hashers.PBKDF2PasswordHasher',
                    'django.contrib.auth.hashers.PBKDF2SHA1PasswordHasher',
                    'django.contrib.auth.hashers.Argon2PasswordHasher',
                    'django.contrib.auth.hashers.BCryptSHA256PasswordHasher',
                    'django.contrib.auth.hashers.ScryptPasswordHasher']
AUTH_PASSWORD_VALIDATORS = []
SIGNED_COOKIE_LEGACY_SALT_FALLBACK = True
SIGNING_BACKEND = 'django.core.signing.TimestampSigner'
CSRF_FAILURE_VIEW = 'django.views.csrf.csrf_failure'
CSRF_COOKIE_NAME = 'csrftoken'
CSRF_COOKIE_AGE = 31449600
CSRF_COOKIE_DOMAIN = None
CSRF_COOKIE_PATH = '/'
CSRF_COOKIE_SECURE = False
CSRF_COOKIE_HTTPONLY = False
CSRF_COOKIE_SAMESITE = 'Lax'
CSRF_HEADER_NAME = 'HTTP_X_CSRFTOKEN'
CSRF_TRUSTED_ORIGINS = []
CSRF_USE_SESSIONS = False
MESSAGE_STORAGE = 'django.contrib.messages.storage.fallback.FallbackStorage'
LOGGING_CONFIG = 'logging.config.dictConfig'
LOGGING = {}
DEFAULT_EXCEPTION_REPORTER = 'django.views.debug.ExceptionReporter'
DEFAULT_EXCEPTION_REPORTER_FILTER = 'django.views.debug.SafeExceptionReporterFilter'
TEST_RUNNER = 'django.test.runner.DiscoverRunner'
TEST_NON_SERIALIZED_APPS = []
FIXTURE_DIRS = []
STATICFILES_DIRS = []
STATICFILES_FINDERS = ['django.contrib.staticfiles.finders.FileSystemFinder',
                       'django.contrib.staticfiles.finders.AppDirectoriesFinder']
MIGRATION_MODULES = {}
SILENCED_SYSTEM_CHECKS = []
SECURE_CONTENT_TYPE_NOSNIFF = True
SECURE_CROSS_ORIGIN_OPENER_POLICY = 'same-origin'
SECURE_HSTS_INCLUDE_SUBDOMAINS = False
SECURE_HSTS_PRELOAD = False
SECURE_HSTS_SECONDS = 0
SECURE_REDIRECT_EXEMPT = []
SECURE_REFERRER_POLICY = 'same-origin'
SECURE_SSL_HOST = None
SECURE_SSL_REDIRECT = False
SECURE_CSP = {}
SECURE_CSP_REPORT_ONLY = {}
URLIZE_ASSUME_HTTPS = False
TASKS = {'default': {'BACKEND': 'django.tasks.backends.immediate.ImmediateBackend'}}
