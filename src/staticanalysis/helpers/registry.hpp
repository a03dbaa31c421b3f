// The rule registry: every finding tessary reports, in one table.
//
// One entry per rule holds all that is said about it: id, symbol and
// pylint description, the check module that reports it, the advice text,
// the documentation (what it finds, why it matters, an example and the
// better code), and its fix: what the fix does, why it can change what the
// program does (empty for a safe fix), whether Django's migration
// autodetector sees the change, and its place in the order the fix engine
// runs the fixes. The checkers' message tables, `Codes`, the fix tables'
// grades, the advice texts, the command line's catalogue and the
// suggestion tables are all made from it.
//
// A new rule is one entry here, plus its check (and fix) in its module.
#pragma once

#include <span>
#include <string_view>

namespace tessary {

struct Rule {
  std::string_view id;           // "C2000"
  std::string_view symbol;       // "nullable-string-field"
  std::string_view description;  // pylint's description text
  std::string_view module;       // the check module reporting it; "checker" for the driver's own
  std::string_view advice;       // the advice text, {name} filled from the finding's arguments
  std::string_view finds;        // what it finds
  std::string_view why;          // why it matters
  std::string_view example;      // analysed code that gets the finding
  std::string_view better;       // the same code written as it should be
  std::string_view fix;          // what the automatic fix does; empty: no fix
  std::string_view unsafe_because;  // why the fix can change what the program does; empty: safe
  bool changes_schema = false;   // the fix changes a model field as the migration autodetector sees it
  int fix_order = 0;             // fixes run in ascending order
  // Why the rule is not in the default set (checked only when selected):
  // its measured precision on code nobody tuned it for. Empty: `check`,
  // `fix` and `suggest` run it by default.
  std::string_view opt_in_because = {};
};

inline constexpr Rule kRegistry[] = {
    {"C1000", "django-version-advice", "Framework version advice", "checker",
     "The Django requirement {specs} admits versions from {minor}; check the project against the oldest one it allows.",
     "", "", "", "", "", "", false, 0},
    {"E0001", "syntax-error", "Used when a module does not parse.", "checker",
     "The module does not parse; fix its syntax so it can be analysed.",
     "A Python module that does not parse.", "Nothing else can be checked in it.", "def broken(:", "def fixed():\n    pass",
     "", "", false, 0},
    {"F0001", "fatal", "Used when a module could not be analysed.", "checker",
     "tessary could not analyse this file: {reason}.",
     "A module tessary could not analyse: it could not be read or decoded, its syntax tree could not be built, "
     "or a check failed on it.",
     "Its findings are unknown, so the run cannot count as clean.", "", "", "", "", false, 0},
    {"C2000", "nullable-string-field", "Nullable", "fieldrules",
     "{name}: a string field should not be nullable; Django stores missing text as the empty string. Drop null=True and use default=\"\".",
     "A string field (CharField, TextField, URLField, EmailField, SlugField) declared with null=True.",
     "Django stores missing text as the empty string; allowing NULL too gives two ways to say 'no data'.",
     "title = models.CharField(max_length=50, null=True)", "title = models.CharField(max_length=50, default=\"\", blank=True)",
     "Drops null=True, adds blank=True, and sets default=\"\" when the field has no default or a default of None; any other default stays.", "blank=True makes the field optional in forms, rows that hold NULL keep it until a data migration turns it into \"\", and code that still writes None then fails on the NOT NULL column", true, 2,
     "94% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): a field name the project uses with None elsewhere is left alone, but a nullable field whose NULL only some code tells from '' (a branch on is None written through another name) still gets advice that would change that branch"},
    {"C2001", "tall-model", "Too many fields", "fieldrules",
     "The model has {count} fields; split it into smaller related models.",
     "A model class declaring more named fields than the max-model-fields option allows (20).",
     "Wide tables are slow to load and hard to change; related data usually belongs in its own model.",
     "class Order(models.Model):  # with max-model-fields = 3\n    number = models.IntegerField()\n"
     "    street = models.CharField(max_length=80)\n    city = models.CharField(max_length=80)\n"
     "    country = models.CharField(max_length=2)",
     "class Address(models.Model):\n    street = models.CharField(max_length=80)\n"
     "    city = models.CharField(max_length=80)\n    country = models.CharField(max_length=2)\n\n\n"
     "class Order(models.Model):\n    number = models.IntegerField()\n"
     "    address = models.ForeignKey(Address, on_delete=models.CASCADE, related_name=\"orders\")",
     "", "", false, 0,
     "75% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): a wide table is at times a deliberate snapshot, such as an order line that copies the product's data"},
    {"C2002", "redundant-default-args", "Redundant default argument", "fieldrules",
     "{name}: {option}={value} is already the default; drop it.",
     "A field keyword whose value equals the field's own default.",
     "Redundant options are noise in models and in every migration made from them.",
     "name = models.CharField(max_length=20, null=False)", "name = models.CharField(max_length=20)",
     "Removes the redundant keyword.", "", false, 3,
     "88% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): an explicit default that names a shared constant, carries a comment, or is what a test is about documents a decision"},
    {"C2003", "field-null-not-blank", "Nullable field not blank", "fieldrules",
     "{name}: null=True without blank=True makes forms reject empty values; add blank=True.",
     "A non-string, non-boolean field with null=True but without blank=True or a default.",
     "Forms and the admin still require a value the database would accept as empty.",
     "born = models.DateField(null=True)", "born = models.DateField(null=True, blank=True)",
     "Adds blank=True.", "forms and the admin start accepting an empty value for the field", true, 4},
    {"C2004", "brittle-unique-for", "Brittle unique", "fieldrules",
     "{name}: {option} is brittle (it is checked only by model forms); use a database constraint instead.",
     "A unique_for_date, unique_for_month or unique_for_year option.",
     "These are enforced only by model validation, never by the database.",
     "slug = models.SlugField(unique_for_date=\"published\")", "class Meta:\n    constraints = [models.UniqueConstraint(fields=[\"slug\", \"published\"], name=\"unique_slug_per_day\")]",
     "", "", false, 0},
    {"C2005", "missing-related-name", "ForeignKey missing related_name", "fieldrules",
     "{name}: give the relation a related_name so the reverse accessor is explicit{keeping}.",
     "A ForeignKey in a concrete model without a related_name. Where the project reads the default accessor "
     "(book_set), the advice names it so that every lookup keeps working.",
     "The implicit reverse accessor (<model>_set) is easy to misread and clashes when models change.",
     "author = models.ForeignKey(Author, on_delete=models.CASCADE)", "author = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=\"books\")",
     "", "", false, 0,
     ""},
    {"C2006", "huge-max-length", "Huge charfield max_length", "fieldrules",
     "{name}: max_length={value} is huge for a CharField; use a TextField.",
     "A CharField whose max_length is above what the max-charfield-length option allows (512).",
     "Long free text belongs in a TextField; huge varchar limits are arbitrary and backend dependent.",
     "summary = models.CharField(max_length=2000)", "summary = models.TextField()",
     "Turns the CharField into a TextField.", "the column changes type, and forms no longer check the text's length", true, 5,
     "28% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): a long one-line identifier, title or URL belongs in a CharField, as a TextField is a textarea with no length check"},
    {"C2008", "deprecated-nullboolean-field", "Nullable BooleanField", "fieldrules",
     "{name}: NullBooleanField is deprecated; use BooleanField(null=True).",
     "A NullBooleanField.",
     "NullBooleanField is deprecated; BooleanField(null=True) replaces it.",
     "in_print = models.NullBooleanField()", "in_print = models.BooleanField(null=True)",
     "Rewrites it as BooleanField(null=True).", "", true, 6},
    {"C2011", "non-unique-primary", "Non-unique primary key", "fieldrules",
     "{name}: a primary key is always unique; drop unique=False.",
     "A primary key field declared with unique=False.",
     "A primary key is always unique; unique=False says otherwise and misleads readers.",
     "code = models.CharField(max_length=5, primary_key=True, unique=False)", "code = models.CharField(max_length=5, primary_key=True)",
     "", "", false, 0},
    {"C3000", "tall-models", "Too many models", "methodrules",
     "The module defines {count} models (the limit is {maximum}); split it into several modules.",
     "A module defining as many models as the max-models option (10) or more.",
     "Large models modules are hard to navigate; split the app or the module.",
     "class Author(models.Model): ...  # with max-models = 3\nclass Book(models.Model): ...\n"
     "class Shelf(models.Model): ...",
     "class Author(models.Model): ...  # Shelf moved to the models package's shelves module\n"
     "class Book(models.Model): ...",
     "", "", false, 0,
     "58% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): test apps' fixture models and the models modules of forkable apps hold many models on purpose"},
    {"C3002", "model-method-order", "Wrong method order", "methodrules",
     "{before} should come before {after} in the model (Django's model style order).",
     "Standard model members (Meta, __str__, save, get_absolute_url) out of Django's style order, a custom method before them, or a field after Meta.",
     "A predictable member order makes models quick to read.",
     "def save(self): ...\ndef __str__(self): ...", "def __str__(self): ...\ndef save(self): ...",
     "", "", false, 0},
    {"C3003", "model-common-prefix", "Common application prefix", "methodrules",
     "{count} model names start with {prefix}; the app already namespaces them, drop the prefix.",
     "Four or more model names of a module sharing a common prefix that is the name of their app (shop, or "
     "the plural: orders). Other shared words name the domain and are kept, and so is the name of a model the "
     "others extend.",
     "The app label already namespaces its models; repeated prefixes add noise everywhere the models are used.",
     "class ShopOrder(models.Model): ...\nclass ShopBasket(models.Model): ...\n"
     "class ShopVoucher(models.Model): ...\nclass ShopPayment(models.Model): ...",
     "class Order(models.Model): ...  # in the app \"shop\"\nclass Basket(models.Model): ...\n"
     "class Voucher(models.Model): ...\nclass Payment(models.Model): ...",
     "", "", false, 0,
     ""},
    {"C4005", "obsolete-setting", "Setting the Django version no longer reads", "settings",
     "{name} is no longer read by Django {version}; remove it.",
     "A setting assigned in the settings that the project's Django release no longer has (USE_L10N in 5.0, "
     "say).",
     "Django ignores it silently: the setting only misleads readers about how the site behaves.",
     "USE_L10N = True", "# (nothing: Django 5.0 always localises)",
     "Removes the assignment.",
     "code of the project or of its packages that still reads the setting fails without it", false, 20},
    {"C4007", "missing-security-middleware", "SecurityMiddleware is not installed", "settings",
     "MIDDLEWARE lacks {middleware}: the HTTPS and security headers settings have no effect without it.",
     "A MIDDLEWARE setting without django.middleware.security.SecurityMiddleware (check --deploy W001).",
     "Without it, SECURE_HSTS_SECONDS, SECURE_SSL_REDIRECT, SECURE_CONTENT_TYPE_NOSNIFF and the other "
     "SECURE_ settings do nothing.",
     "MIDDLEWARE = [\"django.middleware.common.CommonMiddleware\"]",
     "MIDDLEWARE = [\"django.middleware.security.SecurityMiddleware\", \"django.middleware.common.CommonMiddleware\"]",
     "Adds it first in MIDDLEWARE.",
     "responses get new security headers (Cross-Origin-Opener-Policy, Referrer-Policy, X-Content-Type-Options), "
     "which can break pages that open or are opened by other sites' windows", false, 21},
    {"C4008", "missing-xframe-middleware", "XFrameOptionsMiddleware is not installed", "settings",
     "MIDDLEWARE lacks {middleware}: other sites can frame the pages (clickjacking).",
     "A MIDDLEWARE setting without django.middleware.clickjacking.XFrameOptionsMiddleware (check --deploy "
     "W002).",
     "Without the X-Frame-Options header any site can show the pages in a frame and trick users into clicks.",
     "MIDDLEWARE = [\"django.middleware.common.CommonMiddleware\"]",
     "MIDDLEWARE = [\"django.middleware.common.CommonMiddleware\", \"django.middleware.clickjacking.XFrameOptionsMiddleware\"]",
     "Adds it last in MIDDLEWARE.",
     "pages can no longer be shown in frames, also by the project's own pages or partners that frame them",
     false, 22},
    {"C4009", "missing-csrf-middleware", "CsrfViewMiddleware is not installed", "settings",
     "MIDDLEWARE lacks {middleware}: forms are open to cross-site request forgery.",
     "A MIDDLEWARE setting without django.middleware.csrf.CsrfViewMiddleware (check --deploy W003).",
     "Without it no view is protected against cross-site request forgery unless it is decorated one by one.",
     "MIDDLEWARE = [\"django.middleware.common.CommonMiddleware\"]",
     "MIDDLEWARE = [\"django.middleware.common.CommonMiddleware\", \"django.middleware.csrf.CsrfViewMiddleware\"]",
     "Adds it after CommonMiddleware (or SessionMiddleware) in MIDDLEWARE.",
     "POST requests without a CSRF token (API clients, forms that lack the tag) are refused", false, 23},
    {"C4010", "missing-hsts-seconds", "SECURE_HSTS_SECONDS is not set", "settings",
     "{name} is not set: browsers are not told to use HTTPS only.",
     "SecurityMiddleware installed and SECURE_HSTS_SECONDS unset or 0 (check --deploy W004).",
     "HTTP Strict Transport Security keeps browsers from ever talking plain HTTP to the site.",
     "SECURE_HSTS_SECONDS = 0", "SECURE_HSTS_SECONDS = 3600  # raise it once the site works over HTTPS",
     "Sets SECURE_HSTS_SECONDS = 3600.",
     "browsers refuse plain HTTP to the site for that long: a site or subdomain not served over HTTPS becomes "
     "unreachable", false, 24},
    {"C4011", "missing-hsts-subdomains", "SECURE_HSTS_INCLUDE_SUBDOMAINS is not True", "settings",
     "{name} is not True: subdomains may still be reached over plain HTTP.",
     "HSTS switched on without SECURE_HSTS_INCLUDE_SUBDOMAINS = True (check --deploy W005).",
     "An attacker can use a plain-HTTP subdomain to set cookies for the whole domain.",
     "SECURE_HSTS_SECONDS = 3600", "SECURE_HSTS_SECONDS = 3600\nSECURE_HSTS_INCLUDE_SUBDOMAINS = True",
     "Sets SECURE_HSTS_INCLUDE_SUBDOMAINS = True.",
     "every subdomain must then be served over HTTPS, or browsers refuse it", false, 25},
    {"C4012", "missing-content-type-nosniff", "SECURE_CONTENT_TYPE_NOSNIFF is not True", "settings",
     "{name} is not True: browsers may guess content types.",
     "SecurityMiddleware installed and SECURE_CONTENT_TYPE_NOSNIFF false (check --deploy W006).",
     "A browser that sniffs content types can run an uploaded file as a script.",
     "SECURE_CONTENT_TYPE_NOSNIFF = False", "SECURE_CONTENT_TYPE_NOSNIFF = True",
     "Sets SECURE_CONTENT_TYPE_NOSNIFF = True.",
     "browsers refuse scripts and stylesheets served with the wrong content type", false, 26},
    {"C4013", "missing-ssl-redirect", "SECURE_SSL_REDIRECT is not True", "settings",
     "{name} is not True: plain HTTP requests are served instead of redirected.",
     "SecurityMiddleware installed and SECURE_SSL_REDIRECT not True (check --deploy W008).",
     "Users who type the bare domain talk plain HTTP to the site.",
     "SECURE_SSL_REDIRECT = False", "SECURE_SSL_REDIRECT = True",
     "Sets SECURE_SSL_REDIRECT = True.",
     "plain HTTP requests (health checks, a proxy that ends TLS without SECURE_PROXY_SSL_HEADER) get "
     "redirects, possibly in a loop", false, 27},
    {"C4014", "session-cookie-not-secure", "SESSION_COOKIE_SECURE is not True", "settings",
     "{name} is not True: the session cookie is sent over plain HTTP too.",
     "Sessions in use (the app or its middleware) and SESSION_COOKIE_SECURE not True (check --deploy "
     "W010-W012).",
     "A session cookie sent over plain HTTP can be read on the network and the session taken over.",
     "SESSION_COOKIE_SECURE = False", "SESSION_COOKIE_SECURE = True",
     "Sets SESSION_COOKIE_SECURE = True.",
     "sessions stop working where the site is served over plain HTTP (a local server, say)", false, 28},
    {"C4015", "session-cookie-httponly-off", "SESSION_COOKIE_HTTPONLY is False", "settings",
     "{name} = False lets scripts read the session cookie; remove it (Django's default is True).",
     "SESSION_COOKIE_HTTPONLY set to False while sessions are in use (check --deploy W013-W015).",
     "Any script injected into a page can then read the session cookie and send it away.",
     "SESSION_COOKIE_HTTPONLY = False", "# (nothing: the default, True, keeps scripts from the cookie)",
     "Removes the assignment.",
     "scripts of the site that read the session cookie stop working", false, 29},
    {"C4016", "csrf-cookie-not-secure", "CSRF_COOKIE_SECURE is not True", "settings",
     "{name} is not True: the CSRF cookie is sent over plain HTTP too.",
     "CsrfViewMiddleware installed and CSRF_COOKIE_SECURE not True (check --deploy W016).",
     "A CSRF cookie sent over plain HTTP can be read and used to forge requests.",
     "CSRF_COOKIE_SECURE = False", "CSRF_COOKIE_SECURE = True",
     "Sets CSRF_COOKIE_SECURE = True.",
     "forms stop working where the site is served over plain HTTP", false, 30},
    {"C4017", "missing-hsts-preload", "SECURE_HSTS_PRELOAD is not True", "settings",
     "{name} is not True: the domain cannot be put on the browsers' HSTS preload list.",
     "HSTS switched on without SECURE_HSTS_PRELOAD = True (check --deploy W021).",
     "Only preloaded domains are safe on a browser's very first visit.",
     "SECURE_HSTS_SECONDS = 3600", "SECURE_HSTS_SECONDS = 3600\nSECURE_HSTS_PRELOAD = True",
     "Sets SECURE_HSTS_PRELOAD = True.",
     "once the domain is submitted to the preload list, browsers refuse plain HTTP to it for months, and "
     "taking it off the list takes as long", false, 31},
    {"C5000", "misplaced-admin-class", "Admin class should be in admin.py", "admin",
     "The admin class {name} belongs in the app's admin.py.",
     "A ModelAdmin or inline admin class defined in a module whose dotted name has no \".admin\".",
     "Admin auto-discovery imports each app's admin module; admin classes elsewhere are easy to miss and pull admin imports into models.",
     "# shop/models.py\nclass BookAdmin(admin.ModelAdmin): ...", "# shop/admin.py\nclass BookAdmin(admin.ModelAdmin): ...",
     "", "", false, 0},
    {"C6000", "reverse-lazy-at-run-time", "reverse_lazy() where reverse() does", "urls",
     "reverse_lazy() inside a function runs when the URLs are loaded already; use reverse().",
     "A reverse_lazy() call in a function or method body.",
     "reverse_lazy exists for code that runs while modules load (class attributes, module constants); at run "
     "time it only wraps reverse() in a lazy object that is not a str.",
     "def get_success_url(self):\n    return reverse_lazy(\"book-list\")",
     "def get_success_url(self):\n    return reverse(\"book-list\")",
     "Calls reverse() instead, and imports it where it is not.",
     "the function now needs the URL configuration when it is called: one that is called while a module or "
     "class body runs fails", false, 40},
    {"C6001", "reverse-at-import-time", "reverse() while modules load", "urls",
     "reverse() in a module or class body runs before the URLs are loaded; use reverse_lazy().",
     "A reverse() call evaluated while a module or class body runs: a class attribute such as success_url, "
     "a module constant, a default argument.",
     "The URL configuration is not loaded yet at that point: the import fails (often with a circular import), "
     "or the URL is fixed before settings such as SCRIPT_NAME apply.",
     "class BookCreate(CreateView):\n    success_url = reverse(\"book-list\")",
     "class BookCreate(CreateView):\n    success_url = reverse_lazy(\"book-list\")",
     "Calls reverse_lazy() instead, and imports it where it is not.",
     "a lazy URL is not a str: code that tests it with `in`, slices it or hands it to something that wants a str "
     "(json.dumps, a header) fails or behaves differently", false, 41},
    {"C7000", "hard-coded-url", "Check if hard-coded url is used in template", "templates",
     "Hard-coded URL in a template; use the {% url %} tag so routes can change.",
     "A link (<a href>) written as a fixed site path such as /books/.",
     "Fixed paths break when URL patterns or the mount point change; the url tag reverses the route.",
     "<a href=\"/books/\">Books</a>", "<a href=\"{% url 'book-list' %}\">Books</a>",
     "", "", false, 0,
     "17% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): placeholder links of demo and style-guide templates are not routes of the project"},
    {"C7001", "hard-coded-static-url", "Check if hard-coded static url is used in template", "templates",
     "Hard-coded static URL {path}; use the {% static %} tag.",
     "A stylesheet, script or media source (link href; audio, embed, img, input, script, source, track, video src) written as a fixed site path.",
     "Static files move with STATIC_URL and storage backends (hashed names, CDNs); the static tag follows them.",
     "<img src=\"/static/logo.png\">", "{% load static %}\n<img src=\"{% static 'logo.png' %}\">",
     "Rewrites the path with the static tag and loads it.", "", false, 11},
    {"C8000", "migration-model-import", "Detects importing model in migration", "migrations",
     "The migration imports the model {name}; use apps.get_model() so it sees the historical model.",
     "A migration reading Model.objects on a model class imported from the project's code.",
     "Migrations must use the historical model (apps.get_model); the current class changes as the code moves on and breaks old migrations.",
     "from django.db import migrations\n\nfrom shop.models import Book\n\n\ndef forwards(apps, schema_editor):\n"
     "    Book.objects.update(title=\"\")\n\n\nclass Migration(migrations.Migration):\n"
     "    operations = [migrations.RunPython(forwards, migrations.RunPython.noop)]",
     "from django.db import migrations\n\n\ndef forwards(apps, schema_editor):\n"
     "    Book = apps.get_model(\"shop\", \"Book\")\n    Book.objects.update(title=\"\")\n\n\n"
     "class Migration(migrations.Migration):\n"
     "    operations = [migrations.RunPython(forwards, migrations.RunPython.noop)]",
     "", "", false, 0},
    {"C8001", "missing-reverse-migration", "Detects if migration has no backwards", "migrations",
     "RunPython({forwards_name}) has no reverse code; add reverse_code (RunPython.noop at least).",
     "A migrations.RunPython step without reverse code.",
     "Without a reverse function the migration cannot be unapplied, which blocks rollbacks.",
     "from django.db import migrations\n\n\ndef forwards(apps, schema_editor):\n    pass\n\n\n"
     "class Migration(migrations.Migration):\n    operations = [migrations.RunPython(forwards)]",
     "from django.db import migrations\n\n\ndef forwards(apps, schema_editor):\n    pass\n\n\n"
     "class Migration(migrations.Migration):\n"
     "    operations = [migrations.RunPython(forwards, migrations.RunPython.noop)]",
     "Adds migrations.RunPython.noop as the reverse code.",
     "unapplying the migration no longer stops with an error, while the data it changed stays as the forward "
     "step left it", false, 1},
    {"C9000", "queryset-length", "Detects using len(queryset) instead of queryset.count()", "queryrules",
     "len() of a queryset loads every row; use .count().",
     "len() called on a queryset.",
     "len() fetches every row into memory just to count them; count() asks the database.",
     "total = len(Book.objects.all())", "total = Book.objects.all().count()",
     "Rewrites len(qs) as qs.count().", "count() asks the database again where the rows may be read later from the result cache len() filled, in code that this check cannot see (a template)", false, 7,
     ""},
    {"C9001", "indirect-foreign-key", "Traversing foo.bar.pk instead of using foo.bar_id", "queryrules",
     "{me}.{related_name}.{pk_attribute} loads the related row; read {me}.{related_name}_id instead.",
     "Reading pk or id of a foreign key through the related object (book.author.pk).",
     "Following the relation loads the related row; the key is already on the instance as <field>_id.",
     "author_id = book.author.pk", "author_id = book.author_id",
     "Rewrites book.author.pk as book.author_id.", "", false, 10,
     "71% of its judged findings on twelve public Django codebases were right with sound advice (the default set asks for 95%): .id is not the primary key where a model names its key field otherwise"},
    {"C9002", "count-instead-exists", "Using count() where exists() could be better", "queryrules",
     "Counting {queryset} to test for rows; use .exists().",
     "A queryset count tested for truth or compared against 0 or 1.",
     "Counting scans every matching row; exists() stops at the first one.",
     "if books.count() > 0:", "if books.exists():",
     "Rewrites the test with qs.exists() (negated where the test was for none).", "exists() is a query of its own, where the rows may be read later from the result cache the test filled, in code that this check cannot see (a template)", false, 9},
    {"C9003", "truthy-instead-exists", "Using truthy/falsey check on queryset when exists could be better", "queryrules",
     "Truth-testing {queryset} loads it; use .exists().",
     "A queryset used directly as a truth value (if qs:, not qs).",
     "Truth-testing a queryset fetches all of its rows; exists() asks for one.",
     "if not books:", "if not books.exists():",
     "Rewrites the test as qs.exists().", "exists() is a query of its own, where the rows may be read later from the result cache the test filled, in code that this check cannot see (a template)", false, 8,
     ""},
};

// The entry of `id`; a rule that is not registered is a programming error.
constexpr const Rule& rule(std::string_view id) {
  for (const Rule& entry : kRegistry)
    if (entry.id == id) return entry;
  throw "unregistered rule";
}

// The entries of one check module, in id order.
constexpr std::span<const Rule> rules_of(std::string_view module) {
  std::size_t first = std::size(kRegistry), last = 0;
  for (std::size_t i = 0; i < std::size(kRegistry); ++i) {
    if (kRegistry[i].module != module) continue;
    if (first == std::size(kRegistry)) first = i;
    last = i + 1;
  }
  if (first == std::size(kRegistry)) return {};
  return std::span<const Rule>(kRegistry).subspan(first, last - first);
}

// Each module's entries stand together, as rules_of needs.
constexpr bool modules_stand_together() {
  for (std::size_t i = 0; i < std::size(kRegistry); ++i)
    for (std::size_t j = i + 2; j < std::size(kRegistry); ++j)
      if (kRegistry[i].module == kRegistry[j].module && kRegistry[j - 1].module != kRegistry[i].module) return false;
  return true;
}
static_assert(modules_stand_together(), "keep each module's rules next to each other in kRegistry");

}  // namespace tessary
