"""tessary: static analysis for Django projects."""

__version__ = "0.1.0"
