#!/usr/bin/env python3
"""Counts the results of `make test` from XML, for build trees that ctest ran
with --output-junit TREE/test-results/ctest.xml:

  test-results.py TREE...

A test that wrote its own report, TREE/test-results/NAME.xml (GoogleTest's, or
the fuzz and end-to-end runs'), counts with its cases; any other test counts
as one. A fixture (label "fixture") counts only when it fails, and so does a
test that did not run because a fixture failed. Prints a line per tree and
tier, the failures, and last "N passed, N failed"; exits 1 if anything failed.
"""
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

MAX_FAILURE_LINES = 40


def labels_of(tree):
    out = subprocess.run(["ctest", "--test-dir", tree, "--show-only=json-v1"], check=True,
                         capture_output=True, text=True).stdout
    labels = {}
    for test in json.loads(out)["tests"]:
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels[test["name"]] = prop["value"]
    return labels


def report_cases(path):
    """(passed, failed, [failure text]) of a JUnit-style report."""
    passed = failed = 0
    failures = []
    for case in ET.parse(path).iter("testcase"):
        if case.get("status") == "notrun" or case.get("result") in ("skipped", "suppressed"):
            continue
        problems = case.findall("failure") + case.findall("error")
        if case.find("skipped") is not None and not problems:
            continue
        if problems:
            failed += 1
            text = "\n".join(p.get("message", "") or (p.text or "") for p in problems)
            failures.append("%s.%s: %s" % (case.get("classname"), case.get("name"), text.strip()))
        else:
            passed += 1
    return passed, failed, failures


def count_tree(tree):
    """{tier: [passed, failed]} and the failures' texts of one tree."""
    results = os.path.join(tree, "test-results")
    junit = os.path.join(results, "ctest.xml")
    name = os.path.basename(os.path.normpath(tree))
    if not os.path.exists(junit):
        return {"ctest": [0, 1]}, ["%s: ctest wrote no results" % name]
    labels = labels_of(tree)
    tiers = {}
    failures = []
    for test in ET.parse(junit).iter("testcase"):
        test_name = test.get("name")
        test_labels = labels.get(test_name, [])
        tier = "fixture" if "fixture" in test_labels else next(iter(test_labels), "other")
        status = test.get("status")
        skipped = test.find("skipped")
        if status == "disabled" or (skipped is not None and
                                    skipped.get("message") == "SKIP_REGULAR_EXPRESSION_MATCHED"):
            continue
        own = os.path.join(results, test_name + ".xml")
        if "fixture" in test_labels:
            p, f, texts = 0, int(status != "run"), []
        elif status != "notrun" and os.path.exists(own):
            p, f, texts = report_cases(own)
            if status != "run" and f == 0:
                f, texts = 1, ["the program failed after its cases"]
        else:
            p, f, texts = int(status == "run"), int(status != "run"), []
        if f and not texts:
            out = (test.findtext("system-out") or "").strip().splitlines()
            why = skipped.get("message") if skipped is not None else ""
            texts = ["\n".join([why] + out[-15:]).strip() or "failed, without output"]
        count = tiers.setdefault(tier, [0, 0])
        count[0] += p
        count[1] += f
        failures += ["%s %s: %s" % (name, test_name, t) for t in texts]
    return tiers, failures


def main():
    passed = failed = 0
    failures = []
    for tree in sys.argv[1:]:
        tiers, texts = count_tree(tree)
        failures += texts
        for tier, (p, f) in sorted(tiers.items()):
            if p or f:
                print("%s %s: %d passed, %d failed" % (os.path.basename(os.path.normpath(tree)), tier, p, f))
            passed += p
            failed += f
    if failures:
        print()
        lines = "\n".join("FAILED " + t for t in failures).splitlines()
        print("\n".join(lines[:MAX_FAILURE_LINES]))
        if len(lines) > MAX_FAILURE_LINES:
            print("... (the logs are in build/test-logs/)")
    print()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
