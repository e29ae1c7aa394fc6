#!/usr/bin/env python3
"""Reads a run's JSON record and JUnit report back with real parsers and
checks them against each other and against what the test expects.

  check_record.py --json FILE [--junit FILE] [--library FILE] [--mode M]
                  [--verdicts N:VERDICT,...] [--firmware PYTHON_LITERAL] [--broke-off]
                  [--file-version VERSION]
"""
import argparse
import ast
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

FIELDS = {"started", "finished", "host", "port_name", "port_settings", "mode", "library",
          "printer_firmware", "devbench", "tests", "passed", "failed"}
TEST_FIELDS = {"number", "name", "verdict", "failure_lines", "operator_findings", "paper_checked", "paper_jobs",
               "seconds", "console"}
ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def fail(why):
    print("check_record: " + why)
    sys.exit(1)


def xml_safe(text):
    """What an XML file can hold of the text: other control characters are U+FFFD."""
    return "".join(c if c in "\t\n\r" or (ord(c) >= 0x20 and c not in "\ufffe\uffff") else "\ufffd"
                   for c in text)


def check_json(record, args):
    if not FIELDS <= record.keys():
        fail("missing fields: %s" % sorted(FIELDS - record.keys()))
    for stamp in ("started", "finished"):
        if not ISO.match(record[stamp]):
            fail("%s is not ISO 8601 UTC: %r" % (stamp, record[stamp]))
    if record["finished"] < record["started"]:
        fail("finished before started")
    if args.mode and record["mode"] != args.mode:
        fail("mode %r" % record["mode"])
    if not record["devbench"]:
        fail("no devbench version")
    passed = 0
    for test in record["tests"]:
        if not TEST_FIELDS <= set(test):
            fail("test fields: %s" % sorted(test))
        if test["verdict"] not in ("pass", "fail", "broke off"):
            fail("verdict %r" % test["verdict"])
        if (test["verdict"] == "fail") != bool(test["failure_lines"] or test["operator_findings"]):
            fail("test %d: verdict %r with failure lines %r and findings %r" % (
                test["number"], test["verdict"], test["failure_lines"], test["operator_findings"]))
        passed += test["verdict"] == "pass"
    if (record["passed"], record["failed"]) != (passed, len(record["tests"]) - passed):
        fail("passed/failed counts %d/%d" % (record["passed"], record["failed"]))
    if args.verdicts is not None:
        got = ",".join("%d:%s" % (t["number"], t["verdict"]) for t in record["tests"])
        if got != args.verdicts:
            fail("verdicts %s, expected %s" % (got, args.verdicts))
    if args.firmware is not None and record["printer_firmware"] != ast.literal_eval(args.firmware):
        fail("printer_firmware %r" % record["printer_firmware"])
    if args.broke_off != (record.get("broke_off") is not None):
        fail("broke_off %r" % record.get("broke_off"))


def check_library(library, path):
    if os.path.realpath(library["path"]) != os.path.realpath(path) and not library["path"].endswith(
            os.path.basename(path)):
        fail("library path %r, expected %r" % (library["path"], path))
    if library["size"] != os.path.getsize(path):
        fail("library size %r, file has %d bytes" % (library["size"], os.path.getsize(path)))
    digest = subprocess.check_output(["sha256sum", path], text=True).split()[0]
    if library["sha256"] != digest:
        fail("library sha256 %r, sha256sum says %s" % (library["sha256"], digest))


def check_junit(path, record):
    suite = ElementTree.parse(path).getroot()
    cases = suite.findall("testcase")
    tests = record["tests"]
    if suite.tag != "testsuite" or len(cases) < len(tests) or int(suite.get("tests")) != len(cases):
        fail("junit: %s with %d testcases for %d tests" % (suite.tag, len(cases), len(tests)))
    properties = {p.get("name"): p.get("value") for p in suite.iter("property")}
    if record["printer_firmware"] is not None and properties.get("printer_firmware") != xml_safe(
            record["printer_firmware"]):
        fail("junit: printer_firmware property %r" % properties.get("printer_firmware"))
    for test, case in zip(tests, cases):
        name = "%d %s" % (test["number"], test["name"])
        if case.get("name") != name or abs(float(case.get("time")) - test["seconds"]) > 0.002:
            fail("junit: testcase %r time %r for %s" % (case.get("name"), case.get("time"), name))
        failure, error, out = case.find("failure"), case.find("error"), case.find("system-out")
        if (failure is not None) != (test["verdict"] == "fail") or (error is not None) != (test["verdict"] == "broke off"):
            fail("junit: %s is not marked %r" % (name, test["verdict"]))
        said = test["failure_lines"] + test["operator_findings"]
        if failure is not None and (failure.get("message") != xml_safe(said[0])
                                    or failure.text != xml_safe("".join(l + "\n" for l in said))):
            fail("junit: %s failure %r / %r" % (name, failure.get("message"), failure.text))
        if (out.text if out is not None else "") != xml_safe(test["console"]):
            fail("junit: %s system-out %r" % (name, out.text if out is not None else None))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json", required=True)
    parser.add_argument("--junit")
    parser.add_argument("--library")
    parser.add_argument("--mode")
    parser.add_argument("--verdicts")
    parser.add_argument("--firmware")
    parser.add_argument("--broke-off", action="store_true")
    parser.add_argument("--file-version")
    args = parser.parse_args()
    with open(args.json, encoding="utf-8") as file:
        record = json.load(file)
    check_json(record, args)
    if args.library:
        check_library(record["library"], args.library)
    if args.file_version and record["library"].get("file_version") != args.file_version:
        fail("library file_version %r" % record["library"].get("file_version"))
    if args.junit:
        check_junit(args.junit, record)
    print("check_record: %s%s: %d tests, as expected" % (
        args.json, " and " + args.junit if args.junit else "", len(record["tests"])))


main()
