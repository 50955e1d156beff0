#!/usr/bin/env python3
"""The frames as an operator looks at them, in a real browser.

tools/scenario runs the two machines end to end in a temporary directory
(clock pinned), then headless Chromium, driven through Selenium, opens the
client's loop viewer straight from disk (file://) and the station page
vkhealth writes beside the frames.  The kit's commands run in sessions of
their own (tvsession); the page must follow them within two seconds
without a reload.  Waits are bounded polls of the page (WebDriverWait),
never fixed sleeps.  On a failure a screenshot is written under the test's
temporary directory, which is then kept; with VARNEK_SCREENSHOTS=DIR set
the screenshots of the viewer and the station page are written there too.

    frames_view_test.py BIN KITBIN SOURCE
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

BIN, KITBIN, SOURCE = sys.argv[1:4] if len(sys.argv) >= 4 else ("", "", "")
NOW = 1718982600  # 2024-06-21 15:10 UTC: images of 14:00, 14:30 and 15:00 (day 2024173)
FOLLOW_S = 2.0    # the page shows what the kit did within this
STATE_COLOURS = {  # the state cells' background colours on the station page
    "on time": "rgb(30, 123, 52)",
    "late": "rgb(242, 194, 0)",
    "stalled": "rgb(232, 113, 10)",
    "failing": "rgb(197, 34, 31)",
}


class FramesView(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="varnek-browser-")
        cls.failed = False
        env = cls.env({"VARNEK_TEST_NOW": str(NOW)})
        run = subprocess.run(["/bin/bash", os.path.join(SOURCE, "tools/scenario"), BIN, KITBIN, cls.tmp + "/run"],
                             env=env, capture_output=True, text=True, timeout=300)
        if run.returncode != 0:
            raise RuntimeError("tools/scenario failed:\n" + run.stdout + run.stderr)
        cls.home = cls.tmp + "/run/client"
        cls.frames = cls.home + "/tavrin/frames"
        opts = webdriver.ChromeOptions()
        opts.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + cls.tmp + "/chromium", "--window-size=1000,800"):
            opts.add_argument(flag)
        cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        if cls.failed:
            print("the test's files and screenshots are kept in " + cls.tmp)
        else:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    @staticmethod
    def env(extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("TVENV_POSUC", "TVENV_NEGUC", "TVKEYCHECK", "TVDEBUG", "VARNEK_SCENARIO_SESSION")}
        env.update({"TZ": "UTC", "LC_ALL": "C"})
        env.update(extra)
        return env

    def setUp(self):
        self.driver.set_window_size(1000, 800)

    def run(self, result=None):
        # A failing test leaves a screenshot of what the browser showed.
        before = len(result.failures) + len(result.errors) if result else 0
        outcome = super().run(result)
        if result and len(result.failures) + len(result.errors) > before:
            type(self).failed = True
            self.shot(os.path.join(self.tmp, "failed-" + self._testMethodName + ".png"))
        return outcome

    def shot(self, path):
        try:
            self.driver.save_screenshot(path)
        except Exception as e:  # a screenshot must not hide the failure
            print("no screenshot: %s" % e)

    def keep_shot(self, name):
        where = os.environ.get("VARNEK_SCREENSHOTS")
        if where:
            os.makedirs(where, exist_ok=True)
            self.shot(os.path.join(where, name))

    # -- the kit and the pages ------------------------------------------

    def kit(self, word, *args):
        """Runs a kit command as the client's account, in a session of 12 frames."""
        run = subprocess.run([BIN + "/tvsession", "12", KITBIN + "/" + word.lower() + ".k"] + list(args),
                             cwd=self.home, capture_output=True, text=True, timeout=60,
                             env=self.env({"HOME": self.home, "PATH": KITBIN + ":" + BIN + ":/usr/bin:/bin"}))
        self.assertEqual(run.returncode, 0, "%s %s: %s" % (word, " ".join(args), run.stderr))

    def serial(self):
        with open(self.frames + "/loop-state.js") as f:
            return int(re.search(r'"serial (\d+)"', f.read()).group(1))

    def body(self):
        return self.driver.execute_script("return Object.assign({}, document.body.dataset);")

    def wait(self, condition, what, timeout=10.0):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: condition())
        except TimeoutException:
            self.fail("%s: not within %.1f s; the page shows %s" % (what, timeout, self.body()))

    def holds(self, condition, seconds):
        """True when `condition` stays false for `seconds` (a bounded wait for it)."""
        try:
            WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(lambda d: condition())
            return False
        except TimeoutException:
            return True

    def open_viewer(self):
        """Opens the loop viewer from disk once it shows the kit's last state."""
        self.driver.get("file://" + self.frames + "/loop.html")
        serial = str(self.serial())
        self.wait(lambda: self.body()["serial"] == serial, "the page reads the state file")

    def key(self, key):
        self.driver.find_element(By.TAG_NAME, "body").send_keys(key)

    def click(self, button):
        self.driver.find_element(By.ID, button).click()

    def text(self, element):
        return self.driver.find_element(By.ID, element).text

    def picture_shown(self):
        return self.driver.execute_script(
            "const p = document.getElementById('picture');"
            "return !p.hidden && p.complete && p.naturalWidth > 0;")

    # -- the loop viewer ----------------------------------------------------

    def test_the_loop_plays_at_the_dwell_in_loop_order(self):
        self.kit("SEQS", "3-4", "1-2")
        self.kit("ZRNG", "1")
        self.kit("SCRNSET", "L", "ON")
        self.open_viewer()
        self.assertEqual(self.body()["dwell"], "1000")
        start = self.driver.execute_script("return window.varnekShown.length;")
        self.wait(lambda: self.driver.execute_script("return window.varnekShown.length;") >= start + 5,
                  "five frames shown", timeout=12)
        shown = self.driver.execute_script("return window.varnekShown.slice(arguments[0]);", start)
        order = [3, 4, 1, 2]
        for (a, _), (b, _) in zip(shown, shown[1:]):
            self.assertEqual(order[(order.index(a) + 1) % 4], b, "frames shown: %s" % shown)
        gaps = sorted(b - a for (_, a), (_, b) in zip(shown, shown[1:]))
        self.assertGreater(gaps[0], 800, "a frame shown for less than the dwell: %s" % gaps)
        self.assertLess(gaps[len(gaps) // 2], 1500, "frames shown for much longer than the dwell: %s" % gaps)

    def test_pause_holds_the_frame_and_steps_move_one(self):
        self.kit("SEQB", "1", "4")
        self.kit("ZRNG", "AUTO")
        self.kit("SCRNSET", "L", "ON")
        self.open_viewer()
        self.assertEqual(self.body()["playing"], "true")
        self.click("play")
        self.assertEqual(self.body()["playing"], "false")
        held = self.body()["index"]
        self.assertTrue(self.holds(lambda: self.body()["index"] != held, 1.5), "pause did not hold the frame")
        index = int(held)
        for key, step in ((Keys.ARROW_RIGHT, 1), (Keys.ARROW_RIGHT, 1), (Keys.ARROW_LEFT, -1)):
            self.key(key)
            index = (index + step) % 4
            self.assertEqual(self.body()["index"], str(index))
            self.assertEqual(self.text("counter"), "%d / 4" % (index + 1))
        for button, to in (("first", 0), ("last", 3), ("forward", 0), ("back", 3)):
            self.click(button)
            self.assertEqual(self.body()["index"], str(to), button)
        self.key("+")
        self.assertLess(int(self.body()["dwell"]), 500)
        self.key("-")
        self.key("-")
        self.assertGreater(int(self.body()["dwell"]), 500)
        self.key(Keys.SPACE)
        self.assertEqual(self.body()["playing"], "true")
        self.wait(lambda: self.body()["index"] != "3", "playing again moves on")
        self.click("first")
        self.assertEqual(self.body()["playing"], "false", "a step pauses")

    def test_the_label_names_the_frame_shown_and_an_empty_frame_is_a_slot(self):
        self.kit("SEQB", "1", "4")
        self.kit("SCRNSET", "L", "OFF")
        self.open_viewer()
        expect = {1: ("LOC/G8IR", "2024-06-21 (2024173) 14:30:00 UTC", "frame 1"),
                  2: ("LOC/G8IR", "2024-06-21 (2024173) 15:00:00 UTC", "frame 2")}
        for frame in (1, 2):
            self.key(Keys.HOME if frame == 1 else Keys.ARROW_RIGHT)
            self.assertEqual(self.body()["frame"], str(frame))
            for part in expect[frame]:
                self.assertIn(part, self.text("label"))
            self.wait(self.picture_shown, "the picture of frame %d" % frame)
        self.key(Keys.END)  # frame 4: no test draws it
        self.assertEqual(self.body()["frame"], "4")
        self.assertIn("not drawn yet", self.text("label"))
        self.assertTrue(self.driver.find_element(By.ID, "slot").is_displayed())
        self.assertFalse(self.driver.find_element(By.ID, "picture").is_displayed(), "a broken image instead of a slot")
        self.keep_shot("loop-viewer-empty-slot.png")

    def test_the_page_follows_the_kit_without_a_reload(self):
        self.kit("SEQB", "1", "4")
        self.kit("ZRNG", "AUTO")
        self.kit("SCRNSET", "L", "OFF")
        self.open_viewer()
        self.driver.execute_script("window.notReloaded = true;")
        self.key(Keys.HOME)
        self.key(Keys.ARROW_RIGHT)
        self.key(Keys.ARROW_RIGHT)
        self.assertEqual(self.body()["frame"], "3")
        self.assertFalse(self.picture_shown())
        # A picture drawn into the frame shown appears, with its label.
        self.kit("RASVUE", "LOC/G8IR.1", "3", "MAG=2", "2")
        self.wait(lambda: self.picture_shown() and "frame 3" in self.text("label"), "the new frame",
                  timeout=FOLLOW_S)
        self.assertIn("LOC/G8IR", self.text("label"))
        self.assertIn("14:30:00", self.text("label"))
        # Loop commands: a new dwell, a loop that leaves out its bad frame,
        # the loop started and stopped.
        self.kit("ZRNG", "2")
        self.wait(lambda: self.body()["dwell"] == "2000", "the new dwell", timeout=FOLLOW_S)
        self.kit("SEQS", "1-2", "4-4")
        self.wait(lambda: self.body()["count"] == "3", "the new loop", timeout=FOLLOW_S)
        bad = self.driver.find_elements(By.CSS_SELECTOR, "#strip .cell.bad")
        self.assertEqual([b.text for b in bad], ["3"])
        self.assertIn("frame 3 left out of the loop", self.text("bad"))
        self.kit("ZRNG", "AUTO")
        self.kit("SCRNSET", "L", "ON")
        self.wait(lambda: self.body()["playing"] == "true", "the loop started", timeout=FOLLOW_S)
        self.keep_shot("loop-viewer.png")
        self.kit("SCRNSET", "L", "OFF")
        self.wait(lambda: self.body()["playing"] == "false", "the loop stopped", timeout=FOLLOW_S)
        held = self.body()["index"]
        self.assertTrue(self.holds(lambda: self.body()["index"] != held, 1.5), "SCRNSET L OFF did not stop it")
        self.kit("VWF", "2")
        self.wait(lambda: self.body()["count"] == "1" and self.body()["frame"] == "2", "VWF shows one frame",
                  timeout=FOLLOW_S)
        self.assertTrue(self.driver.execute_script("return window.notReloaded === true;"), "the page was reloaded")

    def test_a_narrow_window_scales_the_picture_keeping_its_aspect(self):
        self.kit("SEQB", "1", "4")
        self.kit("SCRNSET", "L", "OFF")
        self.driver.set_window_size(360, 700)  # setUp gives the next test its size back
        self.open_viewer()
        self.key(Keys.HOME)
        self.wait(self.picture_shown, "the picture")
        size = self.driver.execute_script(
            "const p = document.getElementById('picture'), r = p.getBoundingClientRect();"
            "return [r.width, r.height, p.naturalWidth, p.naturalHeight, window.innerWidth];")
        width, height, natural_width, natural_height, room = size
        self.assertEqual(natural_width, 480)
        self.assertLessEqual(width, room)
        self.assertLess(width, natural_width)
        self.assertAlmostEqual(width / height, natural_width / natural_height, delta=0.02)

    # -- the station page ---------------------------------------------------

    def vkhealth(self, args, minutes):
        return subprocess.run([BIN + "/vkhealth"] + args + [self.home + "/work"], capture_output=True, text=True,
                              timeout=60, env=self.env({"HOME": self.home,
                                                        "VARNEK_TEST_NOW": str(NOW + minutes * 60)}))

    def test_the_station_page_colours_the_states_vkhealth_reports(self):
        page = self.frames + "/station.html"
        # 45 minutes on: on time and late; 165: late and stalled; a day and
        # more back: every record dated ahead, failing.
        for minutes in (45, 165, -1500):
            with self.subTest(minutes=minutes):
                table = self.vkhealth([], minutes)
                html = self.vkhealth(["--html", page], minutes)
                self.assertEqual(html.returncode, table.returncode, html.stderr)
                report = json.loads(self.vkhealth(["--json"], minutes).stdout)
                self.driver.get("file://" + page)
                rows = self.driver.find_elements(By.CSS_SELECTOR, "#records tbody tr[data-record]")
                self.assertEqual(len(rows), len(report["records"]))
                for row, record in zip(rows, report["records"]):
                    self.assertEqual(row.get_attribute("data-record"), str(record["record"]))
                    cell = row.find_element(By.CSS_SELECTOR, "td.state")
                    self.assertEqual(cell.text, record["state"])
                    colour = self.driver.execute_script(
                        "return getComputedStyle(arguments[0]).backgroundColor;", cell)
                    self.assertEqual(colour, STATE_COLOURS[record["state"]], record)
                images = self.driver.find_elements(By.CSS_SELECTOR, "td.frame img")
                self.assertEqual(len(images), 2, "records 1 and 4 show frames")
                self.wait(lambda: all(self.driver.execute_script(
                    "return arguments[0].complete && arguments[0].naturalWidth > 0;", i) for i in images),
                    "every thumbnail loads")
                for image in images:
                    link = image.find_element(By.XPATH, "..").get_attribute("href")
                    self.assertEqual(link, "file://" + self.frames + "/loop.html")
                if minutes == 165:
                    self.keep_shot("station-page.png")
        self.assertIn(time.strftime("%Y-%m-%d %H:%M", time.gmtime(NOW - 1500 * 60)),
                      self.text("written"), "the time the page was written")


if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    print("browser tests took %.1f s" % (time.monotonic() - started))
    sys.exit(0 if result.wasSuccessful() else 1)
