"""The numbers kel.exe is built with (commands, controls, its window
messages, the popup's size), read from the C++ headers that define them, so
that the tests that drive kel.exe from outside never retype one.

    import resource_ids
    kel.post(hwnd, WM_COMMAND, resource_ids.IDM_EXIT)

Reads `#define NAME value` and `constexpr TYPE NAME = value;` lines, where
value is a number or a name defined before it."""
import os
import re

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
HEADERS = (
    "resources/resource_ids.h",  # resources, commands, controls
    "app/win32/window_proc.h",   # the popup window's timers and tray message
    "app/application.h",         # the popup's size
)

_DEFINE = re.compile(r"^\s*#define\s+([A-Za-z_]\w*)\s+([^\s/]+)\s*(?://.*)?$")
_CONSTEXPR = re.compile(r"^\s*constexpr\s+[\w:]+\s+([A-Za-z_]\w*)\s*=\s*([^;]+);")


def _number(text, known):
    text = text.strip()
    if text in known:
        return known[text]
    return int(text, 0)


def read(path, known=None):
    """NAME -> number for every numeric definition in the header at path
    (relative to the repository or absolute); `known` resolves names."""
    found = {}
    known = dict(known or {})
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        for line in f:
            m = _DEFINE.match(line) or _CONSTEXPR.match(line)
            if not m:
                continue
            try:
                value = _number(m.group(2), known)
            except ValueError:
                continue  # not a plain number: a style, a type, an expression
            found[m.group(1)] = known[m.group(1)] = value
    return found


def _read_all():
    ids = {}
    for header in HEADERS:
        ids.update(read(header, ids))
    return ids


IDS = _read_all()
globals().update(IDS)

if __name__ == "__main__":
    for name, value in sorted(IDS.items(), key=lambda item: (item[1], item[0])):
        print("%s = %d" % (name, value))
