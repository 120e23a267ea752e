"""The whole road from a printed document to its page: with no stored
credentials Ferrowend starts Brantwick, the user logs in through the real
dialog (a second factor included), the credentials land in the per-user
file, the upload goes out signed with them and the page is opened; the next
print goes straight through without any dialog."""

import base64
import contextlib
import os
import shutil
import signal
import stat
import subprocess
import sys
import time
import unittest

import inkseal_e2e as e2e
from login_dialog import CODE, PASSWORD, SANITIZER_ENV, LoginDialog, StandInService, read_settings

RUN_TIMEOUT = 120
BROWSER_WAIT_SECONDS = 20  # under Wine the shell hands the address on after the program has ended
GRACE_AUTHORIZATION = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-grace",'
                       'oauth_token="tk-grace",oauth_signature="cs-grace&ts-grace"')


class WholeRoadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StandInService()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def setUp(self):
        self.service.reset()
        self.stack = contextlib.ExitStack()
        self.addCleanup(self.stack.close)
        self.root = self.stack.enter_context(e2e.temporary_folder("inkseal-road-"))
        self.user_env, self.lumesk = self.stack.enter_context(e2e.user_folder())
        self.install = os.path.join(self.root, "install")
        os.makedirs(self.install)
        for program in ("Ferrowend", "Brantwick"):
            shutil.copy2(e2e.program_path(program), self.install)
        with open(os.path.join(self.install, "vod995.ini"), "w", newline="\r\n") as f:
            f.write(f"[Parameters]\nLumeskURL={self.service.url}/upload\n"
                    f"CertificateAuthorities={self.service.trust_settings()['CertificateAuthorities']}\n")
        self.browser_log = os.path.join(self.root, "browser.log")
        browser = os.path.join(self.root, "browser.sh")
        with open(browser, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.browser_log}'\n")
        os.chmod(browser, 0o755)
        self.env = dict(self.user_env, INKSEAL_SERVICE_HOST=self.service.host, BROWSER=browser, **SANITIZER_ENV)
        if e2e.NATIVE:
            # No desktop handler of the machine: the page goes through
            # xdg-open to $BROWSER, the recording script.
            empty = os.path.join(self.root, "no-desktop")
            self.env.update(XDG_DATA_HOME=empty, XDG_DATA_DIRS=empty, XDG_CONFIG_DIRS=empty)
        self.addCleanup(self.end_programs_left_running)

    def end_programs_left_running(self):
        """Under Wine a child started by Ferrowend leaves its process group, so a
        failed test could leave the dialog open: end what runs from this
        test's own install folder."""
        marker = os.path.basename(self.root)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if marker.encode() in f.read():
                        os.kill(int(pid), signal.SIGKILL)

    def print_document(self, name, title):
        """Writes a sample PDF and starts the installed Ferrowend with its path."""
        path = os.path.join(self.root, name)
        subprocess.run([sys.executable, os.path.join(e2e.SOURCE_DIR, "tools", "sample_pdf", "make_sample_pdf.py"),
                        path, "--title", title], check=True, timeout=60)
        with open(path, "rb") as f:
            content = f.read()
        running = self.stack.enter_context(
            e2e.start(os.path.join(self.install, "Ferrowend" + e2e.EXE), [e2e.program_path_text(path)],
                      env=self.env, cwd=self.root, timeout=RUN_TIMEOUT))
        return running, content

    def browsed(self, count):
        deadline = time.monotonic() + BROWSER_WAIT_SECONDS
        while time.monotonic() < deadline:
            if os.path.exists(self.browser_log):
                with open(self.browser_log) as f:
                    lines = f.read().splitlines()
                if len(lines) >= count:
                    return lines
            time.sleep(0.1)
        return []

    def uploads(self):
        return [r for r in self.service.requests() if r["method"] == "PUT"]

    def token_requests(self):
        return [r for r in self.service.requests() if r["path"] == "/api/v1/getpersonaltoken"]

    def test_first_print_logs_in_with_a_second_factor_and_the_next_goes_straight_through(self):
        running, first = self.print_document("first.pdf", "Quarterly report")
        dialog = LoginDialog(running)
        dialog.wait_shown()
        dialog.fill_credentials("grace@inkseal.test", "cobol")
        dialog.enter_in(PASSWORD)
        # The message itself (its icon is checked in test_authenticator).
        self.assertEqual(dialog.read_message()[1], "Please enter your TOTP code.")
        dialog.fill_code("424242")
        dialog.enter_in(CODE)
        result = running.finish()
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual([text for _, text in result.messages], ["Please enter your TOTP code."], result)

        settings = os.path.join(self.lumesk, "vod995.ini")
        self.assertEqual(read_settings(settings), [
            ("OAuthClientKey", "ck-grace"), ("OAuthClientSecret", "cs-grace"),
            ("OAuthTokenKey", "tk-grace"), ("OAuthTokenSecret", "ts-grace")])
        if e2e.NATIVE:
            self.assertEqual(stat.S_IMODE(os.stat(settings).st_mode), 0o600)
        self.assertEqual(len(self.token_requests()), 2)
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        headers = {name.lower(): value for name, value in uploads[0]["headers"]}
        self.assertEqual(headers["authorization"], GRACE_AUTHORIZATION)
        self.assertEqual(base64.b64decode(uploads[0]["body_base64"]), first)
        pages = self.browsed(1)
        self.assertEqual(len(pages), 1, "the page was not opened")
        self.assertRegex(pages[0], r"^https://127\.0\.0\.1:\d+/documents/\d+$")
        self.assertIn("Quarterly report", self.service.fetch(pages[0]))

        # The second print: no dialog, no token request, the same signature.
        self.service.reset()
        running, second = self.print_document("second.pdf", "Minutes")
        result = running.finish()
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(result.messages, [])
        self.assertEqual(self.token_requests(), [])
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        headers = {name.lower(): value for name, value in uploads[0]["headers"]}
        self.assertEqual(headers["authorization"], GRACE_AUTHORIZATION)
        self.assertEqual(base64.b64decode(uploads[0]["body_base64"]), second)
        pages = self.browsed(2)
        self.assertEqual(len(pages), 2, "the second page was not opened")
        self.assertIn("Minutes", self.service.fetch(pages[1]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
