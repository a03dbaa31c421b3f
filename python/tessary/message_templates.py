"""Advice text for every finding tessary reports.

One attribute per message id; ``{name}`` placeholders are filled from the
finding's argument map. Only message ids may be defined here: the driver
treats every public name of this module as an id with advice.
"""

# Syntax errors keep their own text.
E0001 = "The module does not parse; fix its syntax so it can be analysed."

# A module that could not be analysed at all.
F0001 = "tessary could not analyse this file: {reason}."

# Framework version advice.
C1000 = (
    "The Django requirement {specs} admits versions from {minor}; "
    "check the project against the oldest one it allows."
)

# Model fields.
C2000 = (
    "{name}: a string field should not be nullable; Django stores missing text "
    "as the empty string. Drop null=True and use default=\"\"."
)
C2001 = "The model has {count} fields; split it into smaller related models."
C2002 = "{name}: {option}={value} is already the default; drop it."
C2003 = "{name}: null=True without blank=True makes forms reject empty values; add blank=True."
C2004 = "{name}: {option} is brittle (it is checked only by model forms); use a database constraint instead."
C2005 = "{name}: give the relation a related_name so the reverse accessor is explicit."
C2006 = "{name}: max_length={value} is huge for a CharField; use a TextField."
C2008 = "{name}: NullBooleanField is deprecated; use BooleanField(null=True)."
C2011 = "{name}: a primary key is always unique; drop unique=False."

# Model structure.
C3000 = "The module defines {count} models (the limit is {maximum}); split it into several modules."
C3002 = "{before} should come before {after} in the model (Django's model style order)."
C3003 = "{count} model names start with {prefix}; the app already namespaces them, drop the prefix."

# Admin.
C5000 = "The admin class {name} belongs in the app's admin.py."

# Templates.
C7000 = "Hard-coded URL in a template; use the {% url %} tag so routes can change."
C7001 = "Hard-coded static URL {path}; use the {% static %} tag."

# Migrations.
C8000 = "The migration imports the model {name}; use apps.get_model() so it sees the historical model."
C8001 = "RunPython({forwards_name}) has no reverse code; add reverse_code (RunPython.noop at least)."

# Querysets.
C9000 = "len() of a queryset loads every row; use .count()."
C9001 = "{me}.{related_name}.{pk_attribute} loads the related row; read {me}.{related_name}_id instead."
C9002 = "Counting {queryset} to test for rows; use .exists()."
C9003 = "Truth-testing {queryset} loads it; use .exists()."
