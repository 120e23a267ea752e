"""The browser step on Linux does not wait for the browser: with xdg-open's
$BROWSER fallback the browser runs in xdg-open's foreground, and Ferrowend
(and behind it the printer agent's queue) must not wait until the user
closes it.  A refusing browser is still reported (test_uploader)."""

import contextlib
import os
import signal
import time
import unittest

import inkseal_e2e as e2e
import uploader_runner as runner
from test_uploader import ADA

BROWSER_START_SECONDS = 20


class StayingBrowserInstallation(runner.Installation):
    """A browser that records the address and then stays open."""

    def _browser_script(self, fails):
        script = self.path("browser.sh")
        self.browser_pid_file = self.path("browser.pid")
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.browser_log}'\n"
                    f"echo $$ >'{self.browser_pid_file}'\nexec sleep 120\n")
        os.chmod(script, 0o755)
        return script


@unittest.skipUnless(e2e.NATIVE, "Windows' shell hands the address on without waiting")
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

    def browser_pid(self):
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while time.monotonic() < deadline:
            with contextlib.suppress(OSError, ValueError):
                with open(self.install.browser_pid_file) as f:
                    return int(f.read())
            time.sleep(0.1)
        self.fail("the browser never started")

    def test_ferrowend_ends_while_the_browser_it_opened_stays_open(self):
        self.install.module_settings(LumeskURL=self.service.url + "/upload", **ADA)
        path = self.install.write_document("docs", "letter.pdf", b"%PDF-1.4 letter")
        outcome = self.install.run(path)
        pid = self.browser_pid()
        self.addCleanup(lambda: [os.kill(pid, signal.SIGKILL) for _ in [0] if os.path.exists(f"/proc/{pid}")])
        self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
        self.assertEqual(len(outcome.browsed), 1)
        self.assertRegex(outcome.browsed[0], r"^https://127\.0\.0\.1:\d+/documents/\d+$")
        self.assertTrue(os.path.exists(f"/proc/{pid}"), "the browser ended with Ferrowend")


if __name__ == "__main__":
    unittest.main(verbosity=2)
