#!/usr/bin/env python3
"""The web console in a real browser: headless Chromium, driven by Selenium,
against a real rvx-manager on 127.0.0.1 with a temporary data folder. Three
radios (their own GnuPG keys, made here) upload their keys the way radios
do; two are registered from the command line and post positions. The
scenario signs in, registers and renames the third, opens the map, chooses
units and checks the distances shown, and saves screenshots of each step into
the artefact folder.

The browser may reach nothing but 127.0.0.1: every other host name fails to
resolve and every other address goes to a closed proxy port."""

import argparse
import os
import subprocess
import sys
import shutil
import tempfile
import time
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.ui import WebDriverWait

PASSWORD = "console test password"


class Manager:
    """rvx-manager serving a temporary data folder on free ports of 127.0.0.1."""

    def __init__(self, program):
        self.program = program
        self.folder = tempfile.mkdtemp(prefix="console-manager-")
        self.process = None

    def run(self, *words, stdin=""):
        done = subprocess.run([self.program, "--data", self.folder] + list(words), input=stdin, text=True,
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError("rvx-manager %s: %s%s" % (" ".join(words), done.stdout, done.stderr))
        return done.stdout

    def serve(self):
        self.process = subprocess.Popen([self.program, "--data", self.folder, "serve", "--listen", "127.0.0.1:0",
                                         "--admin-listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
        ports = {}
        while len(ports) < 2:
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError("rvx-manager did not start")
            for listener in ("radio", "admin"):
                if line.startswith("rvx-manager %s listening on " % listener):
                    ports[listener] = int(line.rsplit(":", 1)[1])
        self.radio_port, self.admin_port = ports["radio"], ports["admin"]

    def post(self, path, fields):
        body = urllib.parse.urlencode(fields).encode()
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.radio_port, path), data=body,
                                         headers={"Content-Type": "application/x-www-form-urlencoded"})
        with urllib.request.urlopen(request, timeout=30) as reply:
            return reply.read().decode()

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
        subprocess.run(["gpgconf", "--homedir", os.path.join(self.folder, "gnupg"), "--kill", "gpg-agent"],
                       capture_output=True)
        shutil.rmtree(self.folder, ignore_errors=True)


class Radio:
    """A radio's key pair in a GnuPG home of its own, and its uploads."""

    def __init__(self, name):
        self.home = tempfile.mkdtemp(prefix="g.", dir="/tmp")
        environment = dict(os.environ, GNUPGHOME=self.home)
        subprocess.run(["gpg", "--batch", "--passphrase", "", "--quick-gen-key", name, "future-default", "default",
                        "never"], env=environment, capture_output=True, check=True, timeout=60)
        listing = subprocess.run(["gpg", "--with-colons", "--list-keys"], env=environment, capture_output=True,
                                 text=True, check=True).stdout
        self.fingerprint = next(line.split(":")[9] for line in listing.splitlines() if line.startswith("fpr:"))
        self.code = self.fingerprint[-8:]
        self.public_key = subprocess.run(["gpg", "--armor", "--export", self.fingerprint], env=environment,
                                         capture_output=True, text=True, check=True).stdout

    def upload_key(self, manager):
        manager.post("/api/initialize", {"api_user": "020000000001", "fingerprint": self.fingerprint,
                                          "key_id": self.code, "public_key": self.public_key})

    def post_position(self, manager, latitude, longitude):
        manager.post("/index.php/api/location/put", {"kid": self.code, "lat": "%.8f" % latitude,
                                                     "lon": "%.8f" % longitude, "ts": str(int(time.time()) - 300)})

    def close(self):
        subprocess.run(["gpgconf", "--homedir", self.home, "--kill", "gpg-agent"], capture_output=True)
        shutil.rmtree(self.home, ignore_errors=True)


def prepare_fleet(manager):
    """A truck and a base one degree of latitude apart, registered; a van
    that has uploaded its key and waits to be registered."""
    manager.run("set-password", "--password-stdin", stdin=PASSWORD + "\n")
    manager.run("zone", "add", "2", "Field")
    manager.run("channel", "add", "300", "Harbour", "--zone", "2")
    manager.run("router", "add", "127.0.0.1", "3301")
    manager.serve()
    radios = {name: Radio(name) for name in ("Truck 7", "Base", "Van")}
    for radio in radios.values():
        radio.upload_key(manager)
    for name, latitude in (("Truck 7", 45.5), ("Base", 46.5)):
        manager.run("register", radios[name].code, "--name", name, "--account", "Fleet")
        radios[name].post_position(manager, latitude, -122.25)
    return radios


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
    def __init__(self, driver, base, artefacts, codes):
        self.codes = codes
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
        van = self.codes["Van"]
        form.find_element(By.NAME, "code").send_keys(van)
        form.find_element(By.NAME, "name").send_keys("Van 3")
        form.find_element(By.NAME, "account").send_keys("Fleet")
        form.find_element(By.TAG_NAME, "button").click()
        self.check(self.notice() == "Unit %s is registered." % van, "registration: " + self.notice())
        self.check(self.cell("unit-" + van, "Registered") == "yes", "the unit is not shown as registered")
        self.check(self.cell("unit-" + van, "Account") == "Fleet", "the account is not shown")

        name = self.driver.find_element(By.CSS_SELECTOR, '#unit-%s input[name="name"]' % van)
        name.clear()
        name.send_keys("Van <4>")
        self.driver.find_element(By.CSS_SELECTOR, "#unit-%s form.row-form button" % van).click()
        self.check(self.notice() == "Unit %s is now called Van <4>." % van, "rename: " + self.notice())
        shown = self.driver.find_element(By.CSS_SELECTOR, '#unit-%s input[name="name"]' % van).get_attribute("value")
        self.check(shown == "Van <4>", "the new name is not shown: " + shown)
        self.screenshot("02-units.png")

    def map_distances(self):
        self.driver.find_element(By.LINK_TEXT, "Map").click()
        self.wait.until(expected_conditions.presence_of_element_located((By.ID, "map")))
        truck, base = self.codes["Truck 7"], self.codes["Base"]
        Select(self.driver.find_element(By.NAME, "from")).select_by_value(truck)
        self.driver.find_element(By.CSS_SELECTOR, "#choose button").click()
        self.wait.until(expected_conditions.url_contains("from=" + truck))
        row = "position-" + base
        shown = (self.cell(row, "Distance"), self.cell(row, "Bearing"), self.cell(row, "On the radio"))
        self.check(shown == ("111.3 km", "0\u00b0 N", "69 Miles N"), "distance from the truck: %r" % (shown,))
        self.check(len(self.driver.find_elements(By.CSS_SELECTOR, "#map .ray")) == 1, "no line to the other unit")
        self.screenshot("03-map.png")

        # Choosing on the map itself: the base, north of the truck.
        self.driver.find_element(By.ID, "mark-" + base).click()
        self.wait.until(expected_conditions.url_contains("from=" + base))
        row = "position-" + truck
        shown = (self.cell(row, "Distance"), self.cell(row, "Bearing"), self.cell(row, "On the radio"))
        self.check(shown == ("111.3 km", "180\u00b0 S", "69 Miles S"), "distance from the base: %r" % (shown,))

    def phone_view(self):
        self.driver.set_window_size(390, 844)
        self.driver.get(self.base + "/units")
        width = self.driver.execute_script("return document.documentElement.scrollWidth")
        self.check(width <= 390, "the units page is %d pixels wide on a phone" % width)
        self.screenshot("04-units-phone.png")
        self.driver.get(self.base + "/map?from=" + self.codes["Truck 7"])
        self.screenshot("05-map-phone.png")
        self.driver.set_window_size(1280, 900)
        self.driver.get(self.base + "/channels")
        self.driver.find_element(By.CSS_SELECTOR, '#channel-300 td[data-label="Voice"] button').click()
        self.check(self.notice().startswith("Voice of talk group 300 is encrypted"), "encrypt: " + self.notice())
        self.check(self.cell("channel-300", "Voice").startswith("Encrypted"), "talk group 300 is not shown encrypted")
        self.screenshot("06-talk-groups.png")
        self.driver.get(self.base + "/service")
        self.screenshot("07-routers-and-codec.png")

    def no_policy_violations(self):
        problems = [entry["message"] for entry in self.driver.get_log("browser") if entry["level"] == "SEVERE"]
        self.check(not problems, "the browser reported: %s" % problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--manager", required=True)
    parser.add_argument("--artefacts", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    arguments = parser.parse_args()
    os.makedirs(arguments.artefacts, exist_ok=True)
    for old in os.listdir(arguments.artefacts):
        if old.endswith(".png"):
            os.remove(os.path.join(arguments.artefacts, old))

    manager = Manager(arguments.manager)
    radios = {}
    profile = tempfile.mkdtemp(prefix="console-browser-")
    driver = None
    try:
        radios = prepare_fleet(manager)
        driver = start_browser(arguments.chromium, arguments.chromedriver, profile,
                               os.path.join(arguments.artefacts, "chromedriver.log"))
        codes = {name: radio.code for name, radio in radios.items()}
        scenario = Scenario(driver, "http://127.0.0.1:%d" % manager.admin_port, arguments.artefacts, codes)
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
        manager.stop()
        for radio in radios.values():
            radio.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
