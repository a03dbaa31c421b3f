"""What tessary prints of a project's own text (file names, advice that
quotes the code, git's messages) reaches a terminal or a CI log: escape
sequences in it could set the window title, clear the screen or forge an
output line that a problem matcher reads as a finding. Everything printed
from the project goes through `printable` first."""
import logging
import re
import sys

# C0 and C1 control characters, DEL, the Unicode line and paragraph
# separators, the marks and overrides that reorder text on screen, and the
# lone surrogates that stand for bytes a file name had that are not UTF-8.
_UNPRINTABLE = re.compile("[\x00-\x1f\x7f-\x9f\u061c\u200e\u200f\u2028-\u202e\u2066-\u2069\ud800-\udfff]")
_NAMED = {"\n": "\\n", "\r": "\\r", "\t": "\\t"}


def _escape(match):
    char = match.group()
    code = ord(char)
    if char in _NAMED:
        return _NAMED[char]
    if 0xDC80 <= code <= 0xDCFF:  # a byte of a name that is not UTF-8
        return f"\\x{code - 0xDC00:02x}"
    return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}"


def printable(text):
    """`text` on one line with no control characters: each becomes a
    backslash escape (ESC is \\x1b, a newline \\n, the byte 0xff of a file
    name that is not UTF-8 \\xff)."""
    return _UNPRINTABLE.sub(_escape, str(text))


_GIT_ESCAPES = {7: "\\a", 8: "\\b", 9: "\\t", 10: "\\n", 11: "\\v", 12: "\\f", 13: "\\r", 34: '\\"', 92: "\\\\"}


def git_quoted(path):
    """A path as git writes it in a diff header: as it is, or, when it holds
    a control character, a quote or a backslash (or bytes that are not
    UTF-8), in double quotes with C escapes, which `git apply` reads back."""
    if not _UNPRINTABLE.search(path) and '"' not in path and "\\" not in path:
        return path
    data = path.encode("utf-8", "surrogateescape")
    out = []
    for byte in data:
        if byte in _GIT_ESCAPES:
            out.append(_GIT_ESCAPES[byte])
        elif byte < 0x20 or byte == 0x7F:
            out.append(f"\\{byte:03o}")
        else:
            out.append(chr(byte))
    # Bytes of 0x80 and up: octal, as git does, so the header is plain
    # ASCII and C1 characters never reach the terminal raw.
    text = "".join(part if len(part) > 1 or ord(part) < 0x80 else f"\\{ord(part):03o}" for part in out)
    return f'"{text}"'


class WarningPrinter(logging.Handler):
    """Prints what tessary's modules log as warnings (a file passed over, a
    cache folder not used) as "tessary: warning: ..." lines. The modules
    say each once per file and process."""

    def __init__(self):
        super().__init__(logging.WARNING)

    def emit(self, record):
        print(f"tessary: warning: {printable(record.getMessage())}", file=sys.stderr)


def print_warnings():
    """Send the "tessary" logger's warnings to stderr (once per process)."""
    logger = logging.getLogger("tessary")
    if not any(isinstance(handler, WarningPrinter) for handler in logger.handlers):
        logger.addHandler(WarningPrinter())
        logger.propagate = False
