#!/usr/bin/env python3
"""Runs every test_* function of the test_*.py files beside this one, each
given the shared Session, and ends with the line 'e2e: N passed, N failed'."""
import importlib.util
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import kelwine  # noqa: E402


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    only = sys.argv[1:]
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
                if not only or any(o in full for o in only):
                    tests.append((full, getattr(module, attr)))
    session = kelwine.Session()
    passed = failed = 0
    try:
        for full, fn in tests:
            start = time.monotonic()
            try:
                fn(session)
                passed += 1
                print("PASS %s (%.1f s)" % (full, time.monotonic() - start), flush=True)
            except Exception:
                failed += 1
                print("FAIL %s (%.1f s)" % (full, time.monotonic() - start), flush=True)
                traceback.print_exc()
    finally:
        session.close()
    print("e2e: %d passed, %d failed" % (passed, failed))
    return 1 if failed or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
