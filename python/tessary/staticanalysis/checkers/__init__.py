"""One module per family of checks."""
