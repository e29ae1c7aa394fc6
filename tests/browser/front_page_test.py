#!/usr/bin/python3
"""The printer's front page in headless Chromium, against a real printer.

The page opens only at the address with its secret, and says which printer
it is. It shows the table of devbench's prompts, and its Set button makes a
prompt's change. A click on the page changes the printer as `vprinter get`
reports it; a `vprinter set` shows on the page; after a `vprinter mark` and
devbench's Test Write and Test Too Much Data For Parallel Port the paper holds
that mark below both jobs, each job below the operator's mark of its test, the
raster one as a thumbnail that a click opens as a
576-dot-wide image of 1,600 rows, and `vprinter get` gives their sizes and
SHA-256 digests.

  front_page_test.py --dir DIR [--screenshot FILE]

With --screenshot it runs all 21 tests instead and saves the page as a PNG.
Exits 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import argparse
import hashlib
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Nothing but the page: no sandbox (CI runs as root), no network of its own.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]
# Generous: the page polls four times a second, but the machine is shared.
WAIT_S = 15


def bulk_payload():
    payload = bytearray(10240)
    for offset in range(0, len(payload), 1024):
        payload[offset] = 0x07
    return bytes(payload)


def raster_job():
    rows = (b"bH\x00" + b"\xff" * 72) * 1600
    job = b"\x1b*rR\x1b*rA" + rows + b"\x1b\x0c\x00\x1b*rB" + b"\x07" * 10 + b"\x00" * 75
    assert len(job) == 120100
    return job


def wait_for(what, check, seconds=WAIT_S):
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


class Printer:
    def __init__(self, build, work):
        self.program = os.path.join(build, "vprinter")
        self.endpoint = os.path.join(work, "printer.sock")
        self.process = subprocess.Popen(
            [self.program, "serve", self.endpoint, "--no-console", "--quiet", "--http", "127.0.0.1:0",
             "--print-ms", "100"],  # the operator answers NOW at once
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.url = None
        deadline = time.monotonic() + WAIT_S
        while self.url is None and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                line = self.process.stdout.readline()
                if not line:
                    break
                if line.startswith("page at "):
                    self.url = line[len("page at "):].strip()
        if self.url is None:
            self.stop()
            raise AssertionError("vprinter printed no page address")

    def get(self):
        text = subprocess.run([self.program, "get", self.endpoint], check=True, capture_output=True,
                              text=True).stdout
        return dict(line.split("=", 1) for line in text.splitlines())

    def set(self, *words):
        subprocess.run([self.program, "set", self.endpoint, *words], check=True)

    def mark(self, text):
        subprocess.run([self.program, "mark", self.endpoint, text], check=True)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=WAIT_S)


def browser_missing():
    """What of Selenium, Chromium and ChromeDriver is not installed, or None."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium"
    for binary in (CHROMIUM, CHROMEDRIVER):
        if not os.access(binary, os.X_OK):
            return binary
    return None


def start_browser(work):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + os.path.join(work, "profile"))
    options.add_argument("--window-size=1400,2000")
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def pressed(driver, key, value):
    from selenium.webdriver.common.by import By

    buttons = driver.find_elements(By.CSS_SELECTOR, f'button[data-key="{key}"][data-value="{value}"]')
    return buttons and buttons[0].get_attribute("aria-pressed") == "true"


def click(driver, key, value):
    from selenium.webdriver.common.by import By

    driver.find_element(By.CSS_SELECTOR, f'button[data-key="{key}"][data-value="{value}"]').click()


def run_operator(build, printer, tests):
    status = subprocess.run([os.path.join(build, "vpoperator"), "--dir", build, "--endpoint", printer.endpoint,
                             "--tests", tests]).returncode
    assert status == 0, f"vpoperator --tests {tests} exited {status}"


# A raster image on the page, drawn as large as arguments[2] says: at most
# thumbnail size, or at its full size, one pixel per dot.
FIND_RASTER = """
const [width, height, full] = arguments;
return [...document.querySelectorAll('img.raster')].some((image) =>
    image.complete && image.naturalWidth === width && image.naturalHeight === height
    && (full ? image.clientWidth === width && image.clientHeight === height : image.clientHeight <= 160));
"""

# The page's boxes on the paper from the top, as "job N" and "mark TEXT".
PAPER_ORDER = """
return [...document.querySelectorAll('#jobs > *')].map((node) => node.classList.contains('job')
    ? 'job ' + node.id.slice(4) : node.classList.contains('mark') ? 'mark ' + node.textContent.split(' · ')[0] : 'sessions');
"""


def check_prompts(driver, printer):
    from selenium.webdriver.common.by import By

    rows = wait_for("the table of prompts", lambda: driver.find_elements(By.CSS_SELECTOR, "#prompt-rows tr"))
    offline = [row for row in rows if row.text.startswith("Make the printer offline, then hit enter")]
    assert offline and "Online key: offline" in offline[0].text, "the page does not say what 'offline' asks for"
    offline[0].find_element(By.TAG_NAME, "button").click()
    wait_for("Set to take the printer offline", lambda: printer.get()["online"] == "no")
    wait_for("the lamp to say why", lambda: "Online key offline" in driver.find_element(By.ID, "why").text)
    printer.set("online=yes")


def check_page(driver, printer, build):
    from selenium.webdriver.common.by import By

    driver.get(printer.url.split("?")[0])
    assert "opens only at the address" in driver.find_element(By.TAG_NAME, "body").text, "served without its secret"
    driver.get(printer.url)
    wait_for("the page to show the closed cover", lambda: pressed(driver, "cover", "closed"))
    shown = driver.find_element(By.ID, "printer").text
    assert printer.endpoint in shown and "VPRINTER-1.0" in shown, f"the page names its printer as '{shown}'"
    check_prompts(driver, printer)

    click(driver, "cover", "open")
    wait_for("vprinter get to report the cover the page opened", lambda: printer.get()["cover"] == "open")
    printer.set("paper=out")
    wait_for("the page to show paper=out from vprinter set", lambda: pressed(driver, "paper", "out"))
    wait_for("the error lamp", lambda: "red" in driver.find_element(By.ID, "lamp-error").get_attribute("class"))
    click(driver, "paper", "in")
    click(driver, "cover", "closed")
    wait_for("the cover closed", lambda: printer.get()["cover"] == "closed")
    driver.find_element(By.ID, "clear").click()
    wait_for("the latched error cleared from the page", lambda: printer.get()["error"] == "no")

    printer.mark("before the run")
    run_operator(build, printer, "3,20")
    state = printer.get()
    jobs = {key: value for key, value in state.items() if key.startswith("job.")}
    expected = {
        "job.1": f"10240 {hashlib.sha256(bulk_payload()).hexdigest()}",
        "job.2": f"120100 {hashlib.sha256(raster_job()).hexdigest()}",
    }
    assert jobs == expected, f"vprinter get lists {jobs}, not {expected}"
    wait_for("a 576 x 1600 raster thumbnail", lambda: driver.execute_script(FIND_RASTER, 576, 1600, False))
    driver.find_element(By.CSS_SELECTOR, "figure.raster button").click()
    wait_for("the raster at full size", lambda: driver.execute_script(FIND_RASTER, 576, 1600, True))
    # The operator marks where each test begins.
    wait_for("each test's mark below its job",
             lambda: [entry for entry in driver.execute_script(PAPER_ORDER) if entry != "sessions"]
             == ["job 2", "mark 20 Test Too Much Data For Parallel Port", "job 1", "mark 3 Test Write",
                 "mark before the run"])
    assert all(time.text for time in driver.find_elements(By.CSS_SELECTOR, "article.job time")), "a job has no time"
    assert not driver.find_elements(By.CSS_SELECTOR, "article.job.broken"), "a whole job is drawn as broken"


def take_screenshot(driver, printer, build, path):
    driver.set_window_size(1400, 1400)
    driver.get(printer.url)
    wait_for("the page", lambda: pressed(driver, "power", "on"))
    run_operator(build, printer, "a")
    count = int(printer.get()["jobs"])
    drawn = f"return document.querySelectorAll('article.job .sheet > *').length > 0 && " \
            f"[...document.querySelectorAll('article.job')].length === {count} && " \
            f"[...document.querySelectorAll('article.job .sheet')].every((sheet) => sheet.children.length > 0);"
    wait_for("every job drawn", lambda: driver.execute_script(drawn))
    time.sleep(0.5)
    driver.save_screenshot(path)
    print("saved", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", "--build", dest="build", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    missing = browser_missing()
    if missing:
        print(f"skipped: {missing} is not installed")
        return SKIPPED

    work = tempfile.mkdtemp(prefix="vprinter-page-")
    printer = driver = None
    try:
        printer = Printer(build, work)
        driver = start_browser(work)
        if args.screenshot:
            take_screenshot(driver, printer, build, os.path.abspath(args.screenshot))
        else:
            check_page(driver, printer, build)
            print("front page: controls, live state and the paper all work")
        return 0
    except AssertionError as error:
        print("FAILED:", error)
        return 1
    finally:
        if driver is not None:
            driver.quit()
        if printer is not None:
            printer.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
