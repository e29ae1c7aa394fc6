#!/usr/bin/python3
"""Gives a run record from before the schema-1 fields the fields the report
reads: "schema", the run's "verdict", "not_run", "probe_library",
"calling_convention", and "not run" for a planned test that never started.
A record that has "schema" already is left as it is.

  schema1_record.py RECORD.json [--probe-library DLL --calling-convention cdecl|stdcall]
"""
import argparse
import hashlib
import json
import os


def library(path):
    data = open(path, "rb").read()
    return {"path": path, "size": len(data), "sha256": hashlib.sha256(data).hexdigest(), "file_version": None}


def upgrade(record, probe_library, calling_convention):
    for test in record["tests"]:
        if test["verdict"] == "broke off" and test["console"] == "":
            test["verdict"] = "not run"
    verdicts = [test["verdict"] for test in record["tests"]]
    if record.get("broke_off") or "broke off" in verdicts:
        verdict = "broke off"
    elif record["failure_lines_outside_tests"] or any(v != "pass" and v != "not run" for v in verdicts):
        verdict = "fail"
    else:
        verdict = "pass"
    out = {"schema": 1, "verdict": verdict}
    for key, value in record.items():
        out[key] = value
        if key == "library":
            out["probe_library"] = library(probe_library) if probe_library else None
            out["calling_convention"] = calling_convention
        if key == "failed":
            out["failed"] = verdicts.count("fail") + verdicts.count("broke off")
            out["not_run"] = verdicts.count("not run")
    return out


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("record")
    parser.add_argument("--probe-library")
    parser.add_argument("--calling-convention")
    args = parser.parse_args(argv)
    with open(args.record, encoding="utf-8") as file:
        record = json.load(file)
    if "schema" in record:
        return
    record = upgrade(record, args.probe_library and os.path.abspath(args.probe_library), args.calling_convention)
    with open(args.record, "w", encoding="utf-8") as file:
        json.dump(record, file, indent=2, ensure_ascii=False)
        file.write("\n")


if __name__ == "__main__":
    main()
