#!/usr/bin/env python3
"""The four message operations end to end: the exact text, icon and order of
the boxes a program shows (read with the UI probe under Wine, from standard
error natively), driven through tools/show_message."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inkseal_e2e as e2e  # noqa: E402
from inkseal_e2e import Message  # noqa: E402

NO_DESCRIPTION = 0x3FFFFFF1
HTTP_CANNOT_CONNECT = 12029


def show(*arguments):
    return e2e.run(e2e.program_path("show_message"), [str(a) for a in arguments])


def returned(*arguments):
    result = show("--return", *arguments)
    assert result.exit_code == 0 and not result.messages, result
    return result.stdout.decode("utf-8")


class MessageTest(unittest.TestCase):
    def assertShows(self, result, *messages):
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(result.messages, list(messages))

    def setUp(self):
        self.code = e2e.error_number("path_not_found")
        self.text = e2e.description(self.code)

    def test_descriptions_belong_to_their_numbers(self):
        self.assertTrue(self.text.endswith("\n") and len(self.text) > 1, repr(self.text))
        self.assertNotEqual(self.text, e2e.description(e2e.error_number("invalid_parameter")))
        self.assertEqual(e2e.description(NO_DESCRIPTION), "")

    def test_report_last_error_appends_the_description(self):
        self.assertShows(show("last-error", self.code, r"Failed to start:\nBrantwick.exe"),
                         Message("error", "Failed to start:\nBrantwick.exe\n" + self.text))

    def test_report_last_error_with_an_empty_text_shows_the_description_alone(self):
        self.assertShows(show("last-error", self.code, ""), Message("error", self.text))

    def test_show_information_shows_the_text_exactly(self):
        text = "Please report to sysadmin the following: \nVerify\t\u00e9\u20ac  \n\nlast  "
        self.assertShows(show("information", text.encode("unicode_escape").decode("ascii")
                              .replace("\\x", "\\u00")), Message("information", text))

    def test_report_error_code_starts_with_an_empty_line(self):
        result = show("error-code", self.code, r"Failed to open document\nC:\\doc.pdf")
        self.assertShows(result, Message(
            "error", f"\nError code: {self.code}\n" + self.text + "\nFailed to open document\nC:\\doc.pdf"))
        lines = result.messages[0].text.split("\n")
        self.assertEqual(lines[:2], ["", f"Error code: {self.code}"])

    def test_report_error_code_with_an_empty_text_ends_after_the_description(self):
        self.assertShows(show("error-code", self.code, ""),
                         Message("error", f"\nError code: {self.code}\n" + self.text + "\n"))

    def test_a_code_without_description_and_signed_printing(self):
        self.assertShows(show("error-code", NO_DESCRIPTION, "T"),
                         Message("error", f"\nError code: {NO_DESCRIPTION}\n\nT"))
        negative = show("error-code", "0x80072EE7", "")
        self.assertEqual(negative.messages[0].text.split("\n")[1], "Error code: -2147012889")

    def test_report_http_error_uses_the_http_librarys_texts(self):
        library_text = e2e.description(HTTP_CANNOT_CONNECT, http=True)
        if e2e.NATIVE:
            self.assertTrue(library_text.endswith("\n") and len(library_text) > 1, repr(library_text))
            self.assertEqual(e2e.description(HTTP_CANNOT_CONNECT), "")
        # Wine's HTTP library has no message table: its text is then empty.
        self.assertShows(show("http-error", HTTP_CANNOT_CONNECT, "Please report"),
                         Message("error", f"\nError code: {HTTP_CANNOT_CONNECT}\n" + library_text
                                 + "\nPlease report"))
        self.assertShows(show("http-error", self.code, "x"),
                         Message("error", f"\nError code: {self.code}\n" + self.text + "\nx"))

    def test_returned_texts_equal_the_shown_ones(self):
        for arguments in (("last-error", self.code, r"a\nb"), ("information", r"i\n"),
                          ("http-error", HTTP_CANNOT_CONNECT, "h")):
            shown = show(*arguments)
            self.assertEqual(len(shown.messages), 1, shown)
            self.assertEqual(returned(*arguments), shown.messages[0].text, arguments)


@unittest.skipUnless(e2e.NATIVE and os.environ.get("DISPLAY") and shutil.which("xdotool"),
                     "needs the native build, a display and xdotool")
class DesktopDialogTest(unittest.TestCase):
    """With a display, a message is a modal dialog titled "Inkseal" that
    holds the program until OK is pressed, and nothing goes to stderr."""

    WAIT_SECONDS = 20

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], capture_output=True, timeout=10).stdout.decode().split()

    def find_dialog(self, pid):
        deadline = time.monotonic() + self.WAIT_SECONDS
        while time.monotonic() < deadline:
            windows = self.xdotool("search", "--onlyvisible", "--pid", str(pid), "--name", "^Inkseal$")
            if windows:
                return windows[0]
            time.sleep(0.2)
        return None

    def test_the_dialog_waits_for_ok(self):
        env = {k: v for k, v in os.environ.items() if k != "INKSEAL_MESSAGE_OUTPUT"}
        with tempfile.TemporaryFile() as stderr:
            process = subprocess.Popen([e2e.program_path("show_message"), "information", "hello"], env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr,
                                       start_new_session=True)
            try:
                dialog = self.find_dialog(process.pid)
                self.assertIsNotNone(dialog, "no dialog titled Inkseal appeared")
                time.sleep(0.5)
                self.assertIsNone(process.poll(), "the program went on without waiting for OK")
                # Without a window of its own the program's box is a modal
                # dialog to the window manager, not a second main window.
                # The window may be found a moment before all of its
                # properties are set: read them until both are there.
                deadline = time.monotonic() + 5
                while True:
                    properties = subprocess.run(["xprop", "-id", dialog, "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE"],
                                                capture_output=True, text=True, timeout=10).stdout
                    if ("_NET_WM_WINDOW_TYPE_DIALOG" in properties and "_NET_WM_STATE_MODAL" in properties
                            or time.monotonic() > deadline):
                        break
                    time.sleep(0.2)
                self.assertIn("_NET_WM_WINDOW_TYPE_DIALOG", properties)
                self.assertIn("_NET_WM_STATE_MODAL", properties)
                self.xdotool("windowfocus", "--sync", dialog)
                self.xdotool("key", "Return")
                process.wait(self.WAIT_SECONDS)
            finally:
                if process.poll() is None:
                    os.killpg(process.pid, 9)
                    process.wait(10)
            self.assertEqual(process.returncode, 0)
            stderr.seek(0)
            self.assertEqual(stderr.read(), b"")


if __name__ == "__main__":
    unittest.main(verbosity=2)
