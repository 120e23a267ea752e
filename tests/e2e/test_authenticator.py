"""Brantwick end to end: the real program and its real dialog (GTK under
Xvfb natively, the Win32 dialog under Wine), logging in against the
stand-in signature service, with exit codes, messages and the per-user
settings file checked."""

import base64
import contextlib
import os
import re
import shutil
import socket
import stat
import subprocess
import tempfile
import time
import unittest

import inkseal_e2e as e2e
from login_dialog import (CANCEL, CODE, CODE_LABEL, EMAIL, EMAIL_LABEL, LOG_IN, PASSWORD, PASSWORD_LABEL,
                          SANITIZER_ENV, LoginDialog, StandInService, read_settings)

RUN_TIMEOUT = 90
CREDENTIALS_MODE = [EMAIL_LABEL, EMAIL, PASSWORD_LABEL, PASSWORD, LOG_IN, CANCEL]
TWO_FACTOR_MODE = [CODE_LABEL, CODE, LOG_IN, CANCEL]
ADA = [("OAuthClientKey", "ck-ada"), ("OAuthClientSecret", "cs-ada"),
       ("OAuthTokenKey", "tk-ada"), ("OAuthTokenSecret", "ts-ada")]
GRACE = [("OAuthClientKey", "ck-grace"), ("OAuthClientSecret", "cs-grace"),
         ("OAuthTokenKey", "tk-grace"), ("OAuthTokenSecret", "ts-grace")]
TOTP_DEMAND = ("information", "Please enter your TOTP code.")
WS_DISABLED = 0x08000000


class AuthenticatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StandInService()
        # Brantwick installed with the settings file beside it that trusts
        # the stand-in service's authority, as an administrator would.
        cls.install = tempfile.mkdtemp(prefix="inkseal-brantwick-")
        cls.program = shutil.copy2(e2e.program_path("Brantwick"), cls.install)
        with open(os.path.join(cls.install, "vod995.ini"), "w", newline="\r\n") as f:
            f.write("[Parameters]\n" + "".join(f"{k}={v}\n" for k, v in cls.service.trust_settings().items()))

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.install, ignore_errors=True)

    def setUp(self):
        self.service.reset()
        self.stack = contextlib.ExitStack()
        self.addCleanup(self.stack.close)
        self.env, self.lumesk = self.stack.enter_context(e2e.user_folder())
        self.env["INKSEAL_SERVICE_HOST"] = self.service.host
        self.env.update(SANITIZER_ENV)

    def start(self, env=None, cwd=None):
        running = self.stack.enter_context(
            e2e.start(self.program, env=dict(self.env, **(env or {})), cwd=cwd,
                      timeout=RUN_TIMEOUT))
        return running, LoginDialog(running)

    def settings_file(self):
        return os.path.join(self.lumesk, "vod995.ini")

    def assert_stored(self, expected):
        self.assertEqual(read_settings(self.settings_file()), expected)
        if e2e.NATIVE:
            self.assertEqual(stat.S_IMODE(os.stat(self.settings_file()).st_mode), 0o600)

    def token_bodies(self):
        return [e2e_body(r) for r in self.service.requests() if r["path"] == "/api/v1/getpersonaltoken"]

    # --- logging in ------------------------------------------------------

    def test_enter_in_either_field_or_the_button_logs_in_and_stores_the_four_keys_in_order(self):
        for way in ("enter-email", "enter-password", "button"):
            with self.subTest(way=way):
                with e2e.user_folder() as (folder_env, lumesk):
                    self.lumesk = lumesk
                    running, dialog = self.start(env=folder_env)
                    dialog.wait_shown()
                    dialog.fill_credentials("  ada@inkseal.test ", "analytical engine")
                    if way == "enter-email":
                        dialog.enter_in(EMAIL)
                    elif way == "enter-password":
                        dialog.enter_in(PASSWORD)
                    else:
                        dialog.click_log_in()
                    result = running.finish()
                    self.assertEqual(result.exit_code, 1, result)
                    self.assertEqual(result.messages, [])
                    self.assert_stored(ADA)
        # Blanks around the email were not sent.
        self.assertEqual(self.token_bodies(),
                         ["email=ada%40inkseal.test&password=analytical%20engine&totp="] * 3)

    def test_two_factor_round_trip_switches_the_dialog_and_sends_the_code_with_the_credentials(self):
        running, dialog = self.start()
        dialog.wait_shown()
        dialog.fill_credentials("grace@inkseal.test", "cobol")
        dialog.enter_in(PASSWORD)
        self.assertEqual(dialog.read_message(), TOTP_DEMAND)
        if e2e.WINDOWS:
            self.assertEqual(dialog.visible_controls_settled(TWO_FACTOR_MODE), TWO_FACTOR_MODE)
            self.assertEqual(self.focus_settled(dialog, CODE), CODE)
        self.assertFalse(os.path.exists(self.settings_file()))
        # Natively typed where the keyboard is: the code edit, without a Tab.
        dialog.fill_code("424242")
        dialog.enter_in(CODE)
        result = running.finish()
        self.assertEqual(result.exit_code, 1, result)
        self.assert_stored(GRACE)
        self.assertEqual(self.token_bodies(), ["email=grace%40inkseal.test&password=cobol&totp=",
                                               "email=grace%40inkseal.test&password=cobol&totp=424242"])

    def test_blank_fields_are_refused_without_a_request_and_a_wrong_password_keeps_the_dialog(self):
        running, dialog = self.start()
        dialog.wait_shown()
        dialog.fill_credentials(" \t ", "secret")
        dialog.enter_in(PASSWORD)
        self.assertEqual(dialog.read_message(), ("information", "Incorrect email or password."))
        self.assertEqual(self.token_bodies(), [])
        if e2e.WINDOWS:
            dialog._probe("type", EMAIL, "ada@inkseal.test")
            dialog._probe("type", PASSWORD, "   ")
            dialog.enter_in(PASSWORD)
            self.assertEqual(dialog.read_message(), ("information", "Incorrect email or password."))
            dialog._probe("type", PASSWORD, "difference engine")
            dialog.enter_in(PASSWORD)
            self.assertEqual(dialog.read_message(), ("information", "Wrong email or password."))
            self.assertEqual(dialog.visible_controls(), CREDENTIALS_MODE)
        dialog.escape()
        result = running.finish()
        self.assertEqual(result.exit_code, 2, result)
        self.assertFalse(os.path.exists(self.settings_file()))

    def focus_settled(self, dialog, expected, seconds=5):
        """Under Wine: the focused control once it is expected, or as last seen."""
        deadline = time.monotonic() + seconds
        while True:
            report = dialog.report()
            if int(report["focus"]) == expected or time.monotonic() > deadline:
                return int(report["focus"])
            time.sleep(0.1)

    def disabled_settled(self, dialog, expected, seconds=5):
        """Under Wine: whether the dialog is disabled, once it is as expected
        or as last seen (the press ends a moment after its box)."""
        deadline = time.monotonic() + seconds
        while True:
            disabled = bool(int(dialog.report()["style"], 16) & WS_DISABLED)
            if disabled == expected or time.monotonic() > deadline:
                return disabled
            time.sleep(0.1)

    def test_with_the_service_down_the_failure_box_masks_the_password_and_keeps_the_rest(self):
        with socket.socket() as s:  # a loopback port nothing listens on
            s.bind(("127.0.0.1", 0))
            closed = s.getsockname()[1]
        running, dialog = self.start(env={"INKSEAL_SERVICE_HOST": f"127.0.0.1:{closed}"})
        dialog.wait_shown()
        dialog.fill_credentials("ada@inkseal.test", "analytical engine")
        dialog.enter_in(PASSWORD)
        kind, text = dialog.read_message()
        self.assertEqual(kind, "error")
        self.assertTrue(text.endswith("Please report to sysadmin the following: Failed to print the document."
                                      "\nResponseHeaders: \nxcdata: email=ada%40inkseal.test&password=***&totp="
                                      "\nheaders: Content-Length: 59\r\n"
                                      "Content-Type: application/x-www-form-urlencoded\r\n"), text)
        dialog.escape()
        self.assertEqual(running.finish().exit_code, 2)

    def test_a_refused_code_or_password_is_selected_so_that_typing_replaces_it(self):
        running, dialog = self.start()
        dialog.wait_shown()
        dialog.fill_credentials("grace@inkseal.test", "fortran")
        dialog.enter_in(PASSWORD)
        self.assertEqual(dialog.read_message(), ("information", "Wrong email or password."))
        if e2e.WINDOWS:
            self.assertEqual(self.focus_settled(dialog, PASSWORD), PASSWORD)
            self.assertEqual(dialog.report()["selection"], "0,7")
            dialog._probe("type", PASSWORD, "cobol")
        else:
            dialog.type_here("cobol")  # replaces the selected "fortran"
        dialog.enter_in(PASSWORD)
        self.assertEqual(dialog.read_message(), TOTP_DEMAND)
        dialog.fill_code("000000")
        dialog.enter_in(CODE)
        self.assertEqual(dialog.read_message(), TOTP_DEMAND)
        if e2e.WINDOWS:
            self.assertEqual(self.focus_settled(dialog, CODE), CODE)
            self.assertEqual(dialog.report()["selection"], "0,6")
            dialog._probe("type", CODE, "424242")
        else:
            dialog.type_here("424242")
        dialog.enter_in(CODE)
        result = running.finish()
        self.assertEqual(result.exit_code, 1, result)
        self.assertEqual([b.split("&", 1)[1] for b in self.token_bodies()],
                         ["password=fortran&totp=", "password=cobol&totp=", "password=cobol&totp=000000",
                          "password=cobol&totp=424242"])

    def test_input_during_a_slow_exchange_is_dropped_and_the_reply_is_then_read(self):
        # Both replies stall a few seconds: the first is typed over, the
        # second (an HTML page from a proxy) cannot be read.
        self.service.queue_reply("/api/v1/getpersonaltoken", 200, [["Content-Type", "application/json"]],
                                 b'{"status":"error","message":"Slow and wrong."}', delay=3)
        self.service.queue_reply("/api/v1/getpersonaltoken", 502, [["Content-Type", "text/html"]],
                                 b"<html><body>Bad gateway</body></html>", delay=2)
        running, dialog = self.start()
        dialog.wait_shown()
        dialog.fill_credentials("ada@inkseal.test", "analytical engine")
        dialog.enter_in(PASSWORD)
        time.sleep(1)
        # Typed into the busy dialog: a second Enter, letters, Escape.
        if e2e.WINDOWS:
            report = dialog.report()
            self.assertTrue(int(report["style"], 16) & WS_DISABLED, report["style"])
            for key in ("return", "tab", "escape"):
                dialog._probe("key", PASSWORD, key)
            dialog._probe("key", 0, "escape")
        else:
            dialog._keys("Return", "z", "z", "Escape")
        self.assertEqual(dialog.read_message(), ("information", "Slow and wrong."))
        self.assertTrue(running.running(), "an Escape typed during the exchange ended the dialog")
        dialog.enter_in(PASSWORD)
        icon, text = dialog.read_message()
        self.assertEqual(icon, "error")
        status, _, reader = text.split("\n")
        self.assertEqual(status, "The service's reply could not be read (HTTP status 502 Canned).")
        self.assertIn("<", reader)
        dialog.escape()
        result = running.finish()
        self.assertEqual(result.exit_code, 2, result)
        self.assertEqual(result.messages[2:], [], "nothing more was shown")
        self.assertEqual(self.token_bodies(),
                         ["email=ada%40inkseal.test&password=analytical%20engine&totp="] * 2)

    @unittest.skipUnless(e2e.WINDOWS, "message boxes without owner leave the Win32 dialog on screen")
    def test_no_second_press_starts_behind_an_open_box(self):
        running, dialog = self.start()
        dialog.wait_shown()
        dialog.fill_credentials("ada@inkseal.test", "difference engine")
        dialog.enter_in(PASSWORD)
        deadline = time.monotonic() + 10
        while len(self.token_bodies()) < 1 and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(0.5)  # the box is up (or coming)
        self.assertTrue(int(dialog.report()["style"], 16) & WS_DISABLED, "the dialog is disabled behind its box")
        dialog._probe("press", LOG_IN)
        dialog._probe("key", PASSWORD, "return")
        self.assertEqual(dialog.read_message(), ("information", "Wrong email or password."))
        self.assertIsNone(running.read_message(1500), "a second box came")
        self.assertEqual(len(self.token_bodies()), 1)
        self.assertFalse(self.disabled_settled(dialog, False), "enabled again once the box is closed")
        dialog.escape()
        self.assertEqual(running.finish().exit_code, 2)

    # --- cancelling ------------------------------------------------------

    def test_escape_cancel_and_the_close_box_end_with_two_in_both_modes_and_write_nothing(self):
        ways = ["escape", "cancel"] + (["close"] if e2e.WINDOWS else [])
        for two_factor in (False, True):
            for way in ways:
                with self.subTest(two_factor=two_factor, way=way):
                    running, dialog = self.start()
                    dialog.wait_shown()
                    if two_factor:
                        dialog.fill_credentials("grace@inkseal.test", "cobol")
                        dialog.enter_in(PASSWORD)
                        self.assertEqual(dialog.read_message(), TOTP_DEMAND)
                        if e2e.NATIVE:
                            dialog.fill_code("")  # the harness follows the keyboard into the code edit
                    if way == "escape":
                        dialog.escape()
                    elif way == "cancel":
                        dialog.click_cancel()
                    else:
                        dialog.close_box()
                    result = running.finish()
                    self.assertEqual(result.exit_code, 2, result)
                    self.assertFalse(os.path.exists(self.settings_file()))

    # --- starting --------------------------------------------------------

    @unittest.skipUnless(e2e.WINDOWS, "the Win32 dialog")
    def test_the_dialog_opens_centred_without_owner_from_its_template(self):
        running, dialog = self.start()
        dialog.wait_shown()
        report = dialog.report()
        x, y, width, height = map(int, report["window"].split(","))
        left, top, right, bottom = map(int, report["workarea"].split(","))
        self.assertEqual(report["owner"], "0")
        self.assertEqual((x, y), ((left + right) // 2 - width // 2, (top + bottom) // 2 - height // 2))
        self.assertEqual(int(report["focus"]), EMAIL)
        self.assertEqual([int(v) for v in report["visible"].split(",")], CREDENTIALS_MODE)
        controls = {}
        order = []
        for line in report["control"]:
            ident, kind, style, box, *text = line.split(" ", 4)
            order.append(int(ident))
            controls[int(ident)] = (kind, int(style, 16), tuple(map(int, box.split(","))), " ".join(text))
        # Each edit right after its caption: a screen reader names an edit by
        # the nearest static text before it.  Captions take no tab stop.
        self.assertEqual(order, [EMAIL_LABEL, EMAIL, CODE_LABEL, CODE, PASSWORD_LABEL, PASSWORD, LOG_IN, CANCEL])
        ws_tabstop = 0x00010000
        self.assertEqual([i for i in order if controls[i][1] & ws_tabstop], [EMAIL, CODE, PASSWORD, LOG_IN, CANCEL])
        self.assertEqual({i: controls[i][3] for i in (EMAIL_LABEL, CODE_LABEL, PASSWORD_LABEL, LOG_IN, CANCEL)},
                         {EMAIL_LABEL: "Email", CODE_LABEL: "Two-factor code", PASSWORD_LABEL: "Password",
                          LOG_IN: "Log in", CANCEL: "Cancel"})
        self.assertEqual(controls[CODE][2], controls[EMAIL][2], "the code edit lies on the email edit")
        self.assertEqual(controls[CODE_LABEL][2], controls[EMAIL_LABEL][2])
        self.assertLess(controls[CANCEL][2][0], controls[LOG_IN][2][0])
        es_password = 0x20
        self.assertEqual([bool(controls[i][1] & es_password) for i in (EMAIL, PASSWORD, CODE)], [False, True, True])
        self.assertTrue(controls[LOG_IN][1] & 0x1, "Log in is the default button")
        dialog.escape()
        self.assertEqual(running.finish().exit_code, 2)

    @unittest.skipUnless(e2e.WINDOWS, "the Windows program's resources")
    def test_resources_hold_the_template_icon_group_and_version(self):
        decompiled = subprocess.run(["x86_64-w64-mingw32-windres", "-i", e2e.program_path("Brantwick"), "-O", "rc"],
                                    capture_output=True, text=True, timeout=60).stdout
        template = decompiled[decompiled.index("129 DIALOGEX"):]
        template = template[:template.index("END")]
        self.assertEqual([line.strip() for line in template.splitlines()], [
            "129 DIALOGEX 0, 0, 160, 95", "STYLE 0xc80048", 'CAPTION "Inkseal"', 'FONT 8, "MS Shell Dlg"', "BEGIN",
            'CONTROL "Email", 1101, "STATIC", 0x50020000, 17, 8, 98, 8',
            'CONTROL "", 1001, "EDIT", 0x50810080, 17, 18, 125, 14',
            'CONTROL "Two-factor code", 1103, "STATIC", 0x40020000, 17, 8, 98, 8',
            'CONTROL "", 1003, "EDIT", 0x408100a0, 17, 18, 125, 14',
            'CONTROL "Password", 1102, "STATIC", 0x50020000, 17, 38, 98, 8',
            'CONTROL "", 1002, "EDIT", 0x508100a0, 17, 48, 125, 14',
            'CONTROL "Log in", 1, "BUTTON", 0x50010001, 93, 74, 50, 14',
            'CONTROL "Cancel", 2, "BUTTON", 0x50010000, 17, 74, 50, 14'])
        self.assertRegex(decompiled, r"128 14 /\* RT_GROUP_ICON \*/")
        self.assertRegex(decompiled, r"FILEVERSION 1, 0, 9, 9")
        self.assertRegex(decompiled, r'VALUE "ProductVersion", "1.0.9.9"')

    @unittest.skipUnless(e2e.WINDOWS, "the Win32 dialog's icons reach the X window")
    def test_the_dialog_carries_the_programs_icons(self):
        running, dialog = self.start()
        dialog.wait_shown()
        windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Inkseal$"],
                                 capture_output=True, text=True, timeout=20).stdout.split()
        self.assertTrue(windows)
        icon = subprocess.run(["xprop", "-id", windows[0], "_NET_WM_ICON"], capture_output=True, text=True,
                              timeout=20).stdout
        sizes = set(re.findall(r"Icon \((\d+) x (\d+)\)", icon))
        self.assertIn(("32", "32"), sizes, icon[:200])
        self.assertIn(("16", "16"), sizes, icon[:200])
        dialog.escape()
        self.assertEqual(running.finish().exit_code, 2)

    @unittest.skipUnless(e2e.NATIVE, "a display that cannot be opened")
    def test_without_a_display_the_dialog_is_not_created_and_the_exit_code_is_minus_one(self):
        result = e2e.run(e2e.program_path("Brantwick"), env=dict(self.env, DISPLAY="", WAYLAND_DISPLAY=""),
                         timeout=RUN_TIMEOUT)
        self.assertEqual(result.exit_code, 255, result)
        self.assertEqual(result.messages, [])

    @unittest.skipUnless(e2e.NATIVE, "a per-user folder that cannot be made")
    def test_without_a_settings_folder_the_dialog_still_opens_unfocused_and_works(self):
        folder_failures = ("Failed to obtain user profile path!\n", "Failed to get user profile path!\n")
        # The configuration folder below a file, and the configuration folder being a file.
        for below_a_file in (True, False):
            with self.subTest(below_a_file=below_a_file), e2e.temporary_folder() as scratch:
                self.service.reset()
                blocker = os.path.join(scratch, "not-a-folder")
                with open(blocker, "w") as f:
                    f.write("a file where the configuration folder should be")
                config_home = os.path.join(blocker, "config") if below_a_file else blocker
                running, dialog = self.start(env={"XDG_CONFIG_HOME": config_home}, cwd=scratch)
                dialog.wait_shown()
                icon, text = dialog.read_message()
                self.assertEqual(icon, "error")
                self.assertTrue(text.startswith(folder_failures), text)
                # Nothing has the keyboard: typing goes nowhere until Tab enters the first field.
                dialog._type("lost")
                dialog.focus = None
                dialog.fill_credentials("ada@inkseal.test", "analytical engine")
                dialog.enter_in(PASSWORD)
                result = running.finish()
                self.assertEqual(result.exit_code, 1, result)
                self.assertEqual(len(result.messages), 1, result)
                # With no folder the file is the bare name, in the current directory.
                self.assertEqual(read_settings(os.path.join(scratch, "vod995.ini")), ADA)
                self.assertEqual(self.token_bodies(),
                                 ["email=ada%40inkseal.test&password=analytical%20engine&totp="])


def e2e_body(request):
    return base64.b64decode(request["body_base64"]).decode("latin-1")


if __name__ == "__main__":
    unittest.main(verbosity=2)
