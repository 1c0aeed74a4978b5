#!/usr/bin/env python3
"""Runs every test_* function of the test_*.py files beside this one, each
given the shared Session, and ends with the line 'e2e: N passed, N failed'.
Arguments: parts of the names of the tests to run; --not NAME leaves out
the tests whose names hold NAME (make test runs the modules in several
parts side by side, the last one all that the others do not name); --xml PATH also
writes a JUnit XML report there; --codepage N runs them on a Windows of
that ANSI code page (932, the default; 1252; 65001). KEL_WINE_PREFIX names
the run's Wine prefix (build/wine/NAME), so that parts keep apart."""
import importlib.util
import os
import sys
import time
import traceback
from xml.sax.saxutils import quoteattr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import kelwine  # noqa: E402


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    only = sys.argv[1:]
    xml_path = None
    if "--xml" in only:
        i = only.index("--xml")
        xml_path = only[i + 1]
        del only[i:i + 2]
    skip = []
    while "--not" in only:
        i = only.index("--not")
        skip.append(only[i + 1])
        del only[i:i + 2]
    codepage = 932
    if "--codepage" in only:
        i = only.index("--codepage")
        codepage = int(only[i + 1])
        del only[i:i + 2]
    tests = []
    for name in sorted(os.listdir(here)):
        if not (name.startswith("test_") and name.endswith(".py")):
            continue
        spec = importlib.util.spec_from_file_location(name[:-3], os.path.join(here, name))
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        for attr in sorted(dir(module)):
            if attr.startswith("test_") and callable(getattr(module, attr)):
                full = "%s.%s" % (name[:-3], attr)
                if (not only or any(o in full for o in only)) and not any(n in full for n in skip):
                    tests.append((full, getattr(module, attr)))
    session = kelwine.Session(codepage=codepage)
    passed = failed = 0
    cases = []
    try:
        for full, fn in tests:
            start = time.monotonic()
            try:
                fn(session)
                passed += 1
                print("PASS %s (%.1f s)" % (full, time.monotonic() - start), flush=True)
                cases.append((full, time.monotonic() - start, None))
            except Exception:
                failed += 1
                print("FAIL %s (%.1f s)" % (full, time.monotonic() - start), flush=True)
                traceback.print_exc()
                cases.append((full, time.monotonic() - start, traceback.format_exc()))
    finally:
        session.close()
    print("e2e: %d passed, %d failed" % (passed, failed))
    if xml_path:
        write_xml(xml_path, cases, "e2e" if codepage == 932 else "e2e-%d" % codepage)
    return 1 if failed or not tests else 0


def write_xml(path, cases, suite="e2e"):
    """cases: (module.function, seconds, traceback or None)."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites><testsuite name=%s>\n' % quoteattr(suite))
        for full, seconds, failure in cases:
            module, name = full.split(".", 1)
            f.write('<testcase classname=%s name=%s time="%.1f"' % (quoteattr(module), quoteattr(name), seconds))
            if failure is None:
                f.write("/>\n")
            else:
                last = failure.strip().splitlines()[-1]
                f.write("><failure message=%s/></testcase>\n" % quoteattr(last))
        f.write("</testsuite></testsuites>\n")


if __name__ == "__main__":
    sys.exit(main())
