"""Django's default settings, one module per known minor version.

Data only: every module holds the framework's global defaults of its version
as upper-case names, for comparing a project's settings with what Django
would use when a setting is left out.
"""
