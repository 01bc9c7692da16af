#!/usr/bin/python3
"""Drives the built page in headless Chromium: reads a tape made by cassmak,
compares a downloaded payload with casstool extract, checks a source as the
user types, and saves screenshots. Usage: browser_test.py SITE BUILD OUT"""
import os
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

site, build, out = (os.path.abspath(a) for a in sys.argv[1:4])
os.makedirs(out, exist_ok=True)
work = tempfile.mkdtemp()
downloads = os.path.join(work, "downloads")
os.makedirs(downloads)

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run",
             "--allow-file-access-from-files", "--user-data-dir=" + os.path.join(work, "profile")):
    options.add_argument(flag)
options.add_experimental_option("prefs", {"download.default_directory": downloads})
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
passed = 0


def check(name, condition):
    global passed
    if not condition:
        driver.quit()
        sys.exit("FAIL: " + name)
    passed += 1
    print("ok:", name)


def wait(condition, seconds=20):
    WebDriverWait(driver, seconds).until(lambda d: condition())


try:
    driver.set_window_size(1280, 800)
    start = time.time()
    driver.get("file://" + site + "/index.html")
    wait(lambda: driver.execute_script("return document.body.dataset.ready") == "true")
    print("load to ready: %s ms after navigation start (%.0f ms as the driver sees it)" % (
        driver.execute_script("return document.body.dataset.readyMs"), (time.time() - start) * 1000))
    check("the module gets ready", True)

    tape = os.path.join(work, "hello.kst")
    payload = os.path.join(work, "hello.bin")
    with open(payload, "wb") as f:
        f.write(bytes(range(256)))
    subprocess.run([build + "/cassmak", "-o", tape, "-m", "hello", payload], check=True,
                   stdout=subprocess.DEVNULL)
    with open(tape, "ab") as f:
        f.write(b"\x05\x00ab")  # a truncated tail
    driver.find_element(By.ID, "tape-file").send_keys(tape)
    wait(lambda: len(driver.find_elements(By.CSS_SELECTOR, "#entries tbody tr")) == 2)
    rows = driver.find_elements(By.CSS_SELECTOR, "#entries tbody tr")
    check("the file's row shows its name", '"HELLO   "' in rows[0].text)
    check("the truncated tail is marked", rows[1].get_attribute("class") == "damaged")

    rows[0].find_element(By.TAG_NAME, "button").click()
    saved = os.path.join(downloads, "hello-1.bin")
    wait(lambda: os.path.exists(saved))
    expected = subprocess.run([build + "/casstool", "extract", tape, "1"], check=True,
                              capture_output=True).stdout
    with open(saved, "rb") as f:
        check("the downloaded payload is casstool extract's", f.read() == expected)

    source = os.path.join(work, "pitfalls.bas")
    text = "10 print 1\n20 GOTO 10\n"
    with open(source, "w") as f:
        f.write(text)
    driver.find_element(By.ID, "source").send_keys(text)
    wait(lambda: driver.find_elements(By.CSS_SELECTOR, "#warnings li"))
    shown = driver.find_element(By.ID, "warnings").text
    tool = subprocess.run([build + "/casstool", "check", source], capture_output=True, text=True).stdout
    for line in tool.splitlines():
        where, rest = line[len(source) + 1:].split(": warning: ")
        check("the page shows " + where + ": " + rest, where + ": " + rest in shown)

    driver.save_screenshot(os.path.join(out, "desktop-1280x800.png"))
    driver.set_window_size(390, 844)
    driver.save_screenshot(os.path.join(out, "phone-390x844.png"))
    driver.set_window_size(1280, 800)

    big = os.path.join(work, "huge.kst")
    with open(big, "wb") as f:
        f.truncate(1 << 30)
    driver.find_element(By.ID, "tape-file").send_keys(big)
    wait(lambda: "larger than 1 GiB" in driver.find_element(By.ID, "tape-status").text)
    check("a 1 GiB file is refused with casstool's reason", True)

finally:
    driver.quit()
print("browser tests passed:", passed)
