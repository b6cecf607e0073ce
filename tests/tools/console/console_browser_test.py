#!/usr/bin/env python3
"""The web console in a real browser: headless Chromium, driven by Selenium,
against the console's test host on 127.0.0.1. Signs in, registers and
renames a unit, opens the map, chooses units and checks the distances shown,
and saves screenshots of each step into the artefact folder.

The browser may reach nothing but 127.0.0.1: every other host name fails to
resolve and every other address goes to a closed proxy port."""

import argparse
import os
import subprocess
import sys
import tempfile
import shutil

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.ui import WebDriverWait

PASSWORD = "console test password"


def start_host(program):
    host = subprocess.Popen([program, PASSWORD], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = host.stdout.readline().split()
    if len(line) != 2 or line[0] != "PORT":
        host.kill()
        raise RuntimeError("the console host did not start")
    return host, int(line[1])


def start_browser(chromium, chromedriver, profile, log_path):
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-default-apps", "--disable-extensions",
                     "--disable-features=Translate,OptimizationHints,MediaRouter,AutofillServerCommunication",
                     "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                     "--proxy-server=127.0.0.1:9", "--proxy-bypass-list=127.0.0.1",
                     "--window-size=1280,900", "--user-data-dir=" + profile):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(executable_path=chromedriver, log_path=log_path)
    return webdriver.Chrome(service=service, options=options)


class Scenario:
    def __init__(self, driver, base, artefacts):
        self.driver = driver
        self.base = base
        self.artefacts = artefacts
        self.wait = WebDriverWait(driver, 20)

    def screenshot(self, name):
        # The whole page, however long, so that nothing is cut off.
        height = self.driver.execute_script("return document.documentElement.scrollHeight")
        width = self.driver.get_window_size()["width"]
        self.driver.set_window_size(width, max(height + 140, 600))
        self.driver.save_screenshot(os.path.join(self.artefacts, name))

    def notice(self):
        return self.wait.until(expected_conditions.presence_of_element_located((By.ID, "notice"))).text

    def cell(self, row_id, label):
        return self.driver.find_element(By.CSS_SELECTOR, '#%s td[data-label="%s"]' % (row_id, label)).text

    def check(self, condition, message):
        if not condition:
            raise AssertionError(message)

    def sign_in(self):
        self.driver.get(self.base + "/units")
        self.check(self.driver.current_url.endswith("/sign-in"), "not sent to sign in: " + self.driver.current_url)
        self.screenshot("01-sign-in.png")
        self.driver.find_element(By.NAME, "password").send_keys(PASSWORD)
        self.driver.find_element(By.CSS_SELECTOR, "#sign-in button").click()
        self.wait.until(expected_conditions.url_to_be(self.base + "/units"))
        self.check(self.driver.find_element(By.TAG_NAME, "h1").text == "Units", "no units page after signing in")

    def register_and_rename(self):
        form = self.driver.find_element(By.CSS_SELECTOR, 'form[action="/units/register"].fields')
        form.find_element(By.NAME, "code").send_keys("0C0FFEE0")
        form.find_element(By.NAME, "name").send_keys("Van 3")
        form.find_element(By.NAME, "account").send_keys("Fleet")
        form.find_element(By.TAG_NAME, "button").click()
        self.check(self.notice() == "Unit 0C0FFEE0 is registered.", "registration: " + self.notice())
        self.check(self.cell("unit-0C0FFEE0", "Registered") == "yes", "the unit is not shown as registered")
        self.check(self.cell("unit-0C0FFEE0", "Account") == "Fleet", "the account is not shown")

        name = self.driver.find_element(By.CSS_SELECTOR, '#unit-0C0FFEE0 input[name="name"]')
        name.clear()
        name.send_keys("Van <4>")
        self.driver.find_element(By.CSS_SELECTOR, "#unit-0C0FFEE0 form.row-form button").click()
        self.check(self.notice() == "Unit 0C0FFEE0 is now called Van <4>.", "rename: " + self.notice())
        shown = self.driver.find_element(By.CSS_SELECTOR, '#unit-0C0FFEE0 input[name="name"]').get_attribute("value")
        self.check(shown == "Van <4>", "the new name is not shown: " + shown)
        self.screenshot("02-units.png")

    def map_distances(self):
        self.driver.find_element(By.LINK_TEXT, "Map").click()
        self.wait.until(expected_conditions.presence_of_element_located((By.ID, "map")))
        Select(self.driver.find_element(By.NAME, "from")).select_by_value("1A2B3C4D")
        self.driver.find_element(By.CSS_SELECTOR, "#choose button").click()
        self.wait.until(expected_conditions.url_contains("from=1A2B3C4D"))
        row = "position-5E6F7A8B"
        shown = (self.cell(row, "Distance"), self.cell(row, "Bearing"), self.cell(row, "On the radio"))
        self.check(shown == ("111.3 km", "0\u00b0 N", "69 Miles N"), "distance from the truck: %r" % (shown,))
        self.check(len(self.driver.find_elements(By.CSS_SELECTOR, "#map .ray")) == 1, "no line to the other unit")
        self.screenshot("03-map.png")

        # Choosing on the map itself: the base, north of the truck.
        self.driver.find_element(By.ID, "mark-5E6F7A8B").click()
        self.wait.until(expected_conditions.url_contains("from=5E6F7A8B"))
        row = "position-1A2B3C4D"
        shown = (self.cell(row, "Distance"), self.cell(row, "Bearing"), self.cell(row, "On the radio"))
        self.check(shown == ("111.3 km", "180\u00b0 S", "69 Miles S"), "distance from the base: %r" % (shown,))

    def phone_view(self):
        self.driver.set_window_size(390, 844)
        self.driver.get(self.base + "/units")
        width = self.driver.execute_script("return document.documentElement.scrollWidth")
        self.check(width <= 390, "the units page is %d pixels wide on a phone" % width)
        self.screenshot("04-units-phone.png")
        self.driver.get(self.base + "/map?from=1A2B3C4D")
        self.screenshot("05-map-phone.png")
        self.driver.set_window_size(1280, 900)
        self.driver.get(self.base + "/channels")
        self.screenshot("06-talk-groups.png")
        self.driver.get(self.base + "/service")
        self.screenshot("07-routers-and-codec.png")

    def no_policy_violations(self):
        problems = [entry["message"] for entry in self.driver.get_log("browser") if entry["level"] == "SEVERE"]
        self.check(not problems, "the browser reported: %s" % problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--artefacts", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    arguments = parser.parse_args()
    os.makedirs(arguments.artefacts, exist_ok=True)
    for old in os.listdir(arguments.artefacts):
        if old.endswith(".png"):
            os.remove(os.path.join(arguments.artefacts, old))

    host, port = start_host(arguments.host)
    profile = tempfile.mkdtemp(prefix="console-browser-")
    driver = None
    try:
        driver = start_browser(arguments.chromium, arguments.chromedriver, profile,
                               os.path.join(arguments.artefacts, "chromedriver.log"))
        scenario = Scenario(driver, "http://127.0.0.1:%d" % port, arguments.artefacts)
        try:
            scenario.sign_in()
            scenario.register_and_rename()
            scenario.map_distances()
            scenario.phone_view()
            scenario.no_policy_violations()
        except Exception:
            driver.save_screenshot(os.path.join(arguments.artefacts, "failure.png"))
            raise
        print("console browser scenario passed; screenshots in " + arguments.artefacts)
        return 0
    finally:
        if driver is not None:
            driver.quit()
        host.stdin.close()
        try:
            host.wait(timeout=10)
        except subprocess.TimeoutExpired:
            host.kill()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
