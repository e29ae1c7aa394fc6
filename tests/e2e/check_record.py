#!/usr/bin/env python3
"""Reads a run's JSON record and JUnit report back with real parsers and
checks them against each other and against what the test expects.

  check_record.py --json FILE [--junit FILE] [--library FILE] [--mode M]
                  [--verdicts N:VERDICT,...] [--firmware PYTHON_LITERAL] [--broke-off [WHY]]
                  [--file-version VERSION] [--verdict RUN_VERDICT]
                  [--probe-library FILE] [--calling-convention cdecl|stdcall] [--not-run-why TEXT]
                  [--bench NAME]
"""
import argparse
import ast
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

FIELDS = {"schema", "run_id", "verdict", "partial", "tests_run", "started", "finished", "host", "bench", "build", "by", "note", "port_name",
          "port_settings", "mode", "library", "probe_library", "calling_convention", "printer_firmware", "devbench",
          "tests", "passed", "failed", "not_run", "failure_lines_outside_tests", "failure_lines_outside_tests_dropped",
          "seconds", "broke_off", "stderr_outside_tests", "stderr_outside_tests_bytes_dropped"}
VERDICTS = ("pass", "fail", "broke off", "not run")
TEST_FIELDS = {"number", "name", "verdict", "banner_seen", "ended_in_order", "why", "failure_lines",
               "failure_lines_dropped", "operator_findings", "paper_checked", "paper_jobs", "seconds", "console",
               "console_bytes_dropped", "stderr", "stderr_bytes_dropped", "failure_answers",
               "failure_answers_dropped"}
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
    if next(iter(record)) != "schema" or record["schema"] != 3:
        fail("schema %r is not the first field, 3" % record["schema"])
    for stamp in ("started", "finished"):
        if not ISO.match(record[stamp]):
            fail("%s is not ISO 8601 UTC: %r" % (stamp, record[stamp]))
    if record["finished"] < record["started"]:
        fail("finished before started")
    if args.mode and record["mode"] != args.mode:
        fail("mode %r" % record["mode"])
    if not record["devbench"]:
        fail("no devbench version")
    for test in record["tests"]:
        if not TEST_FIELDS <= set(test):
            fail("test fields: %s" % sorted(test))
        if test["verdict"] not in VERDICTS:
            fail("verdict %r" % test["verdict"])
        if (test["verdict"] == "fail") != bool(test["failure_lines"] or test["operator_findings"]):
            fail("test %d: verdict %r with failure lines %r and findings %r" % (
                test["number"], test["verdict"], test["failure_lines"], test["operator_findings"]))
    count = lambda *verdicts: sum(t["verdict"] in verdicts for t in record["tests"])
    if (record["passed"], record["failed"], record["not_run"]) != (
            count("pass"), count("fail", "broke off"), count("not run")):
        fail("passed/failed/not_run counts %d/%d/%d" % (record["passed"], record["failed"], record["not_run"]))
    # The run's verdict, told from the rest of the record.
    verdict = ("broke off" if record["broke_off"] is not None
               else "fail" if record["failure_lines_outside_tests"] or count("pass") < len(record["tests"])
               or not record["tests"] else "pass")
    if "faults" not in record and record["verdict"] != verdict:
        fail("run verdict %r, the record says %r" % (record["verdict"], verdict))
    ran = {t["number"] for t in record["tests"] if t["verdict"] != "not run"}
    if record["tests_run"] != len(ran) or record["partial"] != ("faults" not in record and len(ran) < 21):
        fail("tests_run %r, partial %r for the tests %s that ran" % (record["tests_run"], record["partial"], sorted(ran)))
    if args.bench is not None and record["bench"] != args.bench:
        fail("bench %r, expected %r" % (record["bench"], args.bench))
    if args.verdict is not None and record["verdict"] != args.verdict:
        fail("run verdict %r, expected %r" % (record["verdict"], args.verdict))
    if args.verdicts is not None:
        got = ",".join("%d:%s" % (t["number"], t["verdict"]) for t in record["tests"])
        if got != args.verdicts:
            fail("verdicts %s, expected %s" % (got, args.verdicts))
    if args.firmware is not None and record["printer_firmware"] != ast.literal_eval(args.firmware):
        fail("printer_firmware %r" % record["printer_firmware"])
    if bool(args.broke_off) != (record["broke_off"] is not None) or args.broke_off not in (True, None,
                                                                                          record["broke_off"]):
        fail("broke_off %r" % record["broke_off"])


def check_library(library, path):
    if library is None:
        fail("no library in the record, expected %r" % path)
    if library["replaced_during_run"] or library["replaced_note"]:
        fail("library said replaced: %r" % library["replaced_note"])
    if os.path.realpath(library["path"]) != os.path.realpath(path) and not library["path"].endswith(
            os.path.basename(path)):
        fail("library path %r, expected %r" % (library["path"], path))
    if library["size"] != os.path.getsize(path):
        fail("library size %r, file has %d bytes" % (library["size"], os.path.getsize(path)))
    digest = subprocess.check_output(["sha256sum", path], text=True).split()[0]
    if library["sha256"] != digest:
        fail("library sha256 %r, sha256sum says %s" % (library["sha256"], digest))


def check_junit(path, record, not_run_why):
    suite = ElementTree.parse(path).getroot()
    cases = suite.findall("testcase")
    tests = record["tests"]
    if suite.tag != "testsuite" or len(cases) < len(tests) or int(suite.get("tests")) != len(cases):
        fail("junit: %s with %d testcases for %d tests" % (suite.tag, len(cases), len(tests)))
    classname = "devbench." + record["bench"].replace(".", "_")
    if suite.get("name") != classname or any(case.get("classname") != classname for case in cases):
        fail("junit: suite %r or a testcase's class is not %r" % (suite.get("name"), classname))
    properties = {p.get("name"): p.get("value") for p in suite.iter("property")}
    if record["printer_firmware"] is not None and properties.get("printer_firmware") != xml_safe(
            record["printer_firmware"]):
        fail("junit: printer_firmware property %r" % properties.get("printer_firmware"))
    counted = {kind: len(suite.findall("testcase/" + kind)) for kind in ("failure", "error", "skipped")}
    if any(int(suite.get(kind + "s" if kind != "skipped" else kind)) != n for kind, n in counted.items()):
        fail("junit: counts %r, elements %r" % (suite.attrib, counted))
    if (counted["failure"] + counted["error"] > 0) != (record["verdict"] != "pass"):
        fail("junit: %r for a run whose verdict is %r" % (counted, record["verdict"]))
    said = lambda kind: {case.find(kind).get("message") for case in cases if case.find(kind) is not None}
    if said("error") & said("skipped"):
        fail("junit: a test never run carries the message of one that broke off: %r" % (said("error") & said("skipped")))
    extra = cases[len(tests):]
    unplanned = [case for case in extra if case.get("name") != "devbench run"]
    planned = {t["number"] for t in record["tests"]}
    if len(unplanned) != (21 - len(planned) if record["partial"] else 0) or any(
            case.find("skipped") is None for case in unplanned):
        fail("junit: %d tests not planned in a run %s partial, %d skipped testcases" % (
            21 - len(planned), "marked" if record["partial"] else "not", len(unplanned)))
    if record["partial"] != ("partial" in properties):
        fail("junit: property partial %r for a record whose partial is %r" % (properties.get("partial"),
                                                                               record["partial"]))
    check_run_case([case for case in extra if case.get("name") == "devbench run"], record)
    if float(suite.get("time")) < sum(test["seconds"] for test in tests) - 0.002:
        fail("junit: the suite's time %s is less than its tests'" % suite.get("time"))
    for test, case in zip(tests, cases):
        name = "%d %s" % (test["number"], test["name"])
        if case.get("name") != name or abs(float(case.get("time")) - test["seconds"]) > 0.002:
            fail("junit: testcase %r time %r for %s" % (case.get("name"), case.get("time"), name))
        failure, error, out = case.find("failure"), case.find("error"), case.find("system-out")
        skipped = case.find("skipped")
        if ((failure is not None) != (test["verdict"] == "fail") or (error is not None) != (test["verdict"] == "broke off")
                or (skipped is not None) != (test["verdict"] == "not run")):
            fail("junit: %s is not marked %r" % (name, test["verdict"]))
        if skipped is not None and skipped.get("message") != (not_run_why or skipped.get("message")).replace(
                "BROKE_OFF", record["broke_off"] or ""):
            fail("junit: %s skipped for %r, expected %r" % (name, skipped.get("message"), not_run_why))
        if skipped is not None and not skipped.get("message", "").startswith("not run: "):
            fail("junit: %s skipped without its reason: %r" % (name, skipped.attrib))
        dropped = test["failure_lines_dropped"]
        answers = ["  answer(%s): %s" % (a["check"], a["answer"]) for a in test["failure_answers"]]
        lines = [line for i in range(max(len(test["failure_lines"]), len(answers)))
                 for line in (test["failure_lines"][i:i + 1] + answers[i:i + 1])]
        said = lines + ["(%d more failure lines not kept)" % dropped] * (dropped > 0) + test["operator_findings"]
        if failure is not None and (failure.get("message") != xml_safe(said[0])
                                    or failure.text != xml_safe("".join(l + "\n" for l in said))):
            fail("junit: %s failure %r / %r" % (name, failure.get("message"), failure.text))
        console = test["console"] + ("\n(%d more bytes of output not kept)\n" % test["console_bytes_dropped"]
                                     if test["console_bytes_dropped"] else "")
        if (out.text if out is not None else "") != xml_safe(console):
            fail("junit: %s system-out %r" % (name, out.text if out is not None else None))


def check_run_case(extra, record):
    """What went wrong around the tests is one more testcase, "devbench run"."""
    stray = record["failure_lines_outside_tests"]
    broke_off_between = record["verdict"] == "broke off" and all(t["verdict"] != "broke off" for t in record["tests"])
    if not (stray or broke_off_between):
        if extra:
            fail("junit: a testcase for a run with nothing around its tests: %r" % [c.attrib for c in extra])
        return
    if len(extra) != 1 or extra[0].get("name") != "devbench run":
        fail("junit: no single 'devbench run' testcase: %r" % [c.attrib for c in extra])
    failure, error = extra[0].find("failure"), extra[0].find("error")
    if (failure is not None) != bool(stray) or (stray and failure.get("message") != xml_safe(stray[0])):
        fail("junit: failure lines outside tests %r, testcase %r" % (stray, failure))
    if (error is not None) != broke_off_between or (error is not None and error.get("message") != record["broke_off"]):
        fail("junit: broke off %r, testcase %r" % (record["broke_off"], error))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json", required=True)
    parser.add_argument("--junit")
    parser.add_argument("--library")
    parser.add_argument("--mode")
    parser.add_argument("--verdicts")
    parser.add_argument("--firmware")
    parser.add_argument("--broke-off", nargs="?", const=True, help="the run broke off (for this reason)")
    parser.add_argument("--file-version")
    parser.add_argument("--verdict")
    parser.add_argument("--probe-library")
    parser.add_argument("--not-run-why", help="the reason every test never started gives in JUnit")
    parser.add_argument("--calling-convention")
    parser.add_argument("--bench")
    args = parser.parse_args()
    with open(args.json, encoding="utf-8") as file:
        record = json.load(file)
    check_json(record, args)
    if args.library:
        check_library(record["library"], args.library)
    if args.probe_library:
        check_library(record["probe_library"], args.probe_library)
    if args.calling_convention and record["calling_convention"] != args.calling_convention:
        fail("calling_convention %r" % record["calling_convention"])
    if args.file_version and record["library"].get("file_version") != args.file_version:
        fail("library file_version %r" % record["library"].get("file_version"))
    if args.junit:
        check_junit(args.junit, record, args.not_run_why)
    print("check_record: %s%s: %d tests, as expected" % (
        args.json, " and " + args.junit if args.junit else "", len(record["tests"])))


main()
