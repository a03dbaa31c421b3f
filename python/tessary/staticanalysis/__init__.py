"""The analysis modules: driver, syntax-tree helpers, inference shims, fixes."""
