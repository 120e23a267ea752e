"""The browser step on Linux.  The page goes to the desktop's default handler
for its scheme, found and started by GIO as GTK applications do; only where
the desktop names none does xdg-open get it (and with it $BROWSER); with
neither there is no handler, which is said at once.  Ferrowend never waits
for the browser: with xdg-open's $BROWSER fallback the browser runs in
xdg-open's foreground, and the printer agent's queue waits for Ferrowend."""

import contextlib
import os
import signal
import time
import unittest

import inkseal_e2e as e2e
import uploader_runner as runner
from test_uploader import ADA

BROWSER_START_SECONDS = 20
NO_ASSOCIATION = 1155  # Windows' number and words on both platforms


class StayingBrowserInstallation(runner.Installation):
    """A browser that records the address and then stays open."""

    def _browser_script(self, fails):
        script = self.path("browser.sh")
        self.browser_pid_file = self.path("browser.pid")
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.browser_log}'\n"
                    f"echo $$ >'{self.browser_pid_file}'\nexec /bin/sleep 120\n")
        os.chmod(script, 0o755)
        return script


@unittest.skipUnless(e2e.NATIVE, "the Linux desktop's handlers")
class BrowserStepTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = runner.StandInService()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def setUp(self):
        self.install = StayingBrowserInstallation(self.service)
        self.addCleanup(self.install.remove)
        self.install.module_settings(LumeskURL=self.service.url + "/upload", **ADA)
        self.path = self.install.write_document("docs", "letter.pdf", b"%PDF-1.4 letter")

    def browser_pid(self):
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while time.monotonic() < deadline:
            with contextlib.suppress(OSError, ValueError):
                with open(self.install.browser_pid_file) as f:
                    return int(f.read())
            time.sleep(0.1)
        self.fail("the browser never started")

    def assert_opened_and_left_open(self, outcome):
        pid = self.browser_pid()
        self.addCleanup(lambda: [os.kill(pid, signal.SIGKILL) for _ in [0] if os.path.exists(f"/proc/{pid}")])
        self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
        self.assertEqual(len(outcome.browsed), 1)
        self.assertRegex(outcome.browsed[0], r"^https://127\.0\.0\.1:\d+/documents/\d+$")
        self.assertTrue(os.path.exists(f"/proc/{pid}"), "the browser ended with Ferrowend")

    def test_the_desktops_default_handler_gets_the_page_without_xdg_open_and_stays_open(self):
        self.assert_opened_and_left_open(self.install.run(self.path, handler="desktop", xdg_open=False))

    def test_without_a_desktop_handler_xdg_open_hands_the_page_to_the_browser_variable(self):
        self.assert_opened_and_left_open(self.install.run(self.path, handler="variable"))

    def test_no_handler_at_all_is_reported_as_no_association(self):
        # Neither a desktop handler nor xdg-open; then xdg-open whose only
        # way, $BROWSER, refuses (it then finds no tool: exit 3).
        refusing = runner.Installation(self.service)
        self.addCleanup(refusing.remove)
        refusing.module_settings(LumeskURL=self.service.url + "/upload", **ADA)
        path = refusing.write_document("docs", "letter.pdf", b"%PDF-1.4 letter")
        for xdg_open in (False, True):
            with self.subTest(xdg_open=xdg_open):
                outcome = refusing.run(path, browser_fails=True, handler="variable", xdg_open=xdg_open)
                self.assertEqual(len(outcome.messages), 1, outcome)
                kind, text = outcome.messages[0]
                self.assertEqual(kind, "error")
                self.assertRegex(text, "^" + runner.error_code_text(
                    NO_ASSOCIATION, "Could not open the default web browser with URL:\n")
                    + r"https://127\.0\.0\.1:\d+/documents/\d+\Z")
                self.assertEqual(outcome.exit_code, 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
