def broken(:  # expect: E0001
    pass
