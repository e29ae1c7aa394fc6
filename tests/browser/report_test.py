#!/usr/bin/python3
"""The sign-off report in headless Chromium, made from real runs.

  report_test.py --dir DIR pages       a run of all tests under a library fault
                                         and its comparison with a healthy run
  report_test.py --dir DIR hostile     a record with hostile text, and records
                                         the report cannot read
  report_test.py --dir DIR screenshots OUT_DIR

pages: the faulty run's page says FAIL, shows the failed test's failure line
and keeps its console folded; the comparison marks that test a regression and
counts it; with a run of another library file given between the two, runs
of the same file stand together. hostile: markup, control bytes and a bidirectional override in a
bench name and a console render as the text they are, nothing runs;
records cut short, of another version, not JSON or not a record are a message
naming the file, exit 2. Exits 77 (skipped) when Chromium, its driver or
Selenium is missing.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from front_page_test import SKIPPED, browser_missing, start_browser  # noqa: E402

# A catalogued library fault: Test Get Online Status and its disconnect twin
# fail, every other test passes.
FAULT = "fault=online-flag-2"
FAILURE_LINE = "onlineStatus != VX_TRUE"
HOSTILE_NAME = "VP<script>document.title='owned'</script>\x1b[31m\u202eRED<img src=x onerror=\"document.title='img'\">"
HOSTILE_CONSOLE = "testRead\n</pre></details><script>document.title='owned'</script>\x00\x07 & done\n"


def record_run(build, work, name, settings="", tests="a"):
    path = os.path.join(work, name)
    command = [os.path.join(build, "vpoperator"), "--dir", build, "--tests", tests, "--record", path]
    if settings:
        command += ["--settings", settings]
    subprocess.run(command, stdout=subprocess.DEVNULL, check=False)
    return path


def report(build, *arguments):
    return subprocess.run([os.path.join(build, "vpoperator"), "report", *arguments], capture_output=True, text=True)


def make_pages(build, work):
    healthy = record_run(build, work, "healthy.json")
    faulty = record_run(build, work, "faulty.json", FAULT)
    # Another library file that passes, run last: it stands apart from the
    # first two runs although given between them.
    rebuilt = os.path.join(work, "rebuilt.json")
    record = json.load(open(healthy, encoding="utf-8"))
    record["library"]["sha256"] = "0" * 64
    record["started"] = record["finished"] = "2099-01-01T00:00:00Z"
    with open(rebuilt, "w", encoding="utf-8") as file:
        json.dump(record, file)
    pages = {name: os.path.join(work, name + ".html") for name in ("report", "compare", "three")}
    for arguments in ([faulty, "--html", pages["report"]], [healthy, faulty, "--html", pages["compare"]],
                      [healthy, rebuilt, faulty, "--html", pages["three"]]):
        result = report(build, *arguments)
        assert result.returncode == 0, f"vpoperator report {arguments} exited {result.returncode}: {result.stderr}"
    return pages


def check_pages(driver, pages):
    from selenium.webdriver.common.by import By

    driver.get("file://" + pages["report"])
    verdict = driver.find_element(By.CSS_SELECTOR, "h1 .verdict")
    assert verdict.text.lower() == "fail", f"the run's verdict reads {verdict.text!r}"
    row = driver.find_element(By.ID, "test-10")
    assert FAILURE_LINE in row.text, f"test 10's row does not show its failure line: {row.text!r}"
    assert "fail" in row.find_element(By.CSS_SELECTOR, ".verdict").text
    # The console is the folded one; the library's standard error (devbench's
    # answer line among it) is shown open.
    console = row.find_element(By.CSS_SELECTOR, "details pre")
    assert not console.is_displayed(), "the console is not folded under its row"
    assert "answer(online)" in row.text, "no answer line under the failure line"
    row.find_element(By.TAG_NAME, "summary").click()
    assert "testGetOnlineStatus" in console.text, "the unfolded console does not show the test's output"
    passed = driver.find_element(By.ID, "test-3")
    assert passed.find_element(By.CSS_SELECTOR, ".verdict").text == "pass"
    assert "matches" in passed.text, f"Test Write's job is not shown as matched: {passed.text!r}"

    driver.get("file://" + pages["compare"])
    changes = driver.find_element(By.ID, "changes").text
    assert "2 regressions" in changes and "0 fixes" in changes, f"the comparison counts {changes!r}"
    rows = [row for row in driver.find_elements(By.CSS_SELECTOR, "table.grid tbody tr")
            if row.find_element(By.CSS_SELECTOR, "td.number").text == "10"]
    assert len(rows) == 1, "the comparison has no single row for test 10"
    cells = rows[0].find_elements(By.CSS_SELECTOR, "td.cell")
    assert [cell.find_element(By.CSS_SELECTOR, ".verdict").text for cell in cells] == ["pass", "fail"]
    assert "regression" in cells[1].text.lower() and FAILURE_LINE in cells[1].text, cells[1].text
    marks = driver.find_elements(By.CSS_SELECTOR, ".mark.regression")
    assert len(marks) == 2 and all(mark.is_displayed() for mark in marks), "not two regression marks"

    driver.get("file://" + pages["three"])
    groups = [group.text for group in driver.find_elements(By.CSS_SELECTOR, "th.group")]
    assert len(groups) == 2 and "2 runs of this file" in groups[0] and "0000000000000000" in groups[1], groups
    runs = [run.text for run in driver.find_elements(By.CSS_SELECTOR, "th.run")]
    assert [os.path.basename(run.split()[-1]) for run in runs] == ["healthy.json", "faulty.json", "rebuilt.json"], runs
    changes = driver.find_element(By.ID, "changes").text
    assert "2 regressions" in changes and "2 fixes" in changes, f"three runs count {changes!r}"


def hostile_record(build, work):
    # The record writer's own bytes, with hostile text where a printer or
    # library controls it.
    path = record_run(build, work, "base.json", tests="3,6")
    record = json.load(open(path, encoding="utf-8"))
    record["bench"] = HOSTILE_NAME
    record["verdict"] = "fail"
    read = next(test for test in record["tests"] if test["number"] == 6)
    read["verdict"] = "fail"
    read["console"] = HOSTILE_CONSOLE
    read["failure_lines"] = ["failure: line(1) <b>bold</b> | `code` [link](http://x)"]
    # The counts follow the verdicts, or the reader refuses the record.
    record["passed"] -= 1
    record["failed"] += 1
    hostile = os.path.join(work, "hostile.json")
    with open(hostile, "w", encoding="utf-8") as file:
        json.dump(record, file)
    return hostile


def check_hostile(driver, build, work):
    from selenium.webdriver.common.by import By

    hostile = hostile_record(build, work)
    page = os.path.join(work, "hostile.html")
    result = report(build, hostile, "--html", page, "--markdown", "-")
    assert result.returncode == 0, f"vpoperator report of the hostile record exited {result.returncode}"
    assert "VP\\<script\\>document.title='owned'\\</script\\>\u241b\\[31m\\[U+202E\\]RED\\<img" in result.stdout, \
        "the Markdown does not escape markup"
    assert "```text\nfailure: line(1) <b>bold</b> | `code` [link](http://x)\n```" in result.stdout

    driver.get("file://" + page)
    assert driver.title.startswith("devbench sign-off"), f"something ran: the title is {driver.title!r}"
    assert not driver.find_elements(By.CSS_SELECTOR, "script, img, b"), "hostile text became elements"
    facts = driver.find_element(By.CSS_SELECTOR, "dl.facts").text
    assert "VP<script>document.title='owned'</script>\u241b[31m[U+202E]RED<img src=x" in facts, facts
    row = driver.find_element(By.ID, "test-6")
    row.find_element(By.TAG_NAME, "summary").click()
    console = row.find_element(By.TAG_NAME, "pre").text
    assert "</pre></details><script>document.title='owned'</script>\u2400\u2407 & done" in console, console

    # Records the report cannot read: a message naming the file, exit 2.
    text = open(hostile, encoding="utf-8").read()
    bad = {
        "cut.json": (text[: len(text) // 2], "cut short"),
        "other.json": (text.replace('"schema": 3', '"schema": 7', 1), "another version (schema 7)"),
        "old.json": (text.replace('"schema": 3,', "", 1), "another version"),
        "notjson.json": ("run.json\n", "not JSON"),
        "notrecord.json": ('{"schema": 3}', "not a run record"),
        "noverdict.json": (text.replace('"verdict": "fail",', "", 1), "\"verdict\" is missing"),
    }
    for name, (content, why) in bad.items():
        path = os.path.join(work, name)
        with open(path, "w", encoding="utf-8") as file:
            file.write(content)
        result = report(build, path, "--html", os.path.join(work, "never.html"))
        assert result.returncode == 2, f"{name}: exit {result.returncode}, not 2"
        assert path in result.stderr and why in result.stderr, f"{name}: {result.stderr!r} does not say {why!r}"
    assert not os.path.exists(os.path.join(work, "never.html")), "a page was written from an unreadable record"


def take_screenshots(driver, pages, out):
    for name, height in (("report", 1500), ("compare", 1000)):
        driver.set_window_size(1200, height)
        driver.get("file://" + pages[name])
        path = os.path.join(out, f"report-{name}.png" if name == "compare" else "report.png")
        driver.save_screenshot(path)
        print("saved", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", "--build", dest="build", required=True)
    parser.add_argument("what", choices=["pages", "hostile", "screenshots"])
    parser.add_argument("out", nargs="?")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    missing = browser_missing()
    if missing:
        print(f"skipped: {missing} is not installed")
        return SKIPPED

    work = tempfile.mkdtemp(prefix="vpoperator-report-")
    driver = None
    try:
        driver = start_browser(work)
        if args.what == "hostile":
            check_hostile(driver, build, work)
            print("report: hostile text renders as text; unreadable records are refused")
        else:
            pages = make_pages(build, work)
            if args.what == "screenshots":
                take_screenshots(driver, pages, os.path.abspath(args.out or "docs"))
            else:
                check_pages(driver, pages)
                print("report: the run's verdict, the failure line and the regression all show")
        return 0
    except AssertionError as error:
        print("FAILED:", error)
        return 1
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
