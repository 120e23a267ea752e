#!/usr/bin/env python3
"""Settings files end to end, through tools/show_message: the "Failed to
write." box with the key, section, file and the OS text; refused line
breaks; the per-user folder and its two failure messages."""

import errno
import os
import re
import stat
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inkseal_e2e as e2e  # noqa: E402
from inkseal_e2e import Message  # noqa: E402

SEPARATOR = "\\" if e2e.WINDOWS else "/"
ERROR_CODE_LINE = re.compile(r"\nError code: (-?\d+)\n")


def show(*arguments, env=None):
    return e2e.run(e2e.program_path("show_message"), [str(a) for a in arguments], env=env)


class SettingsTest(unittest.TestCase):
    def setUp(self):
        self.folder = self.enterContext(e2e.temporary_folder())

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def write_setting(self, key, value, file, env=None):
        return show("write-setting", key, value, "Parameters", e2e.program_path_text(file), env=env)

    def assertFailedWrite(self, message, key, file):
        """The "Failed to write." box: its number, that number's own
        description, then the key, section and file."""
        self.assertEqual(message.icon, "error")
        match = ERROR_CODE_LINE.match(message.text)
        self.assertIsNotNone(match, message.text)
        code = int(match.group(1)) & 0xFFFFFFFF
        self.assertNotEqual(code, 0)
        self.assertEqual(message.text,
                         f"\nError code: {match.group(1)}\n" + e2e.description(code) + "\nFailed to write.\n"
                         f"\nkey: {key}\nsection: Parameters\ninifile: {e2e.program_path_text(file)}")
        return code

    def test_written_values_read_back(self):
        file = self.path("vod995.ini")
        result = self.write_setting("OAuthTokenKey", r"t\u00e9 k", file)
        self.assertEqual((result.exit_code, result.messages, result.stdout), (0, [], b"result=1"))
        read = show("read-setting", "oauthtokenkey", "PARAMETERS", e2e.program_path_text(file))
        self.assertEqual(read.stdout.decode("utf-8"), "value=t\u00e9 k")
        if e2e.NATIVE:
            self.assertEqual(stat.S_IMODE(os.stat(file).st_mode), 0o600)

    def test_a_write_the_os_refuses_shows_what_failed(self):
        with open(self.path("plain"), "w") as f:
            f.write("a file, not a folder")
        file = self.path("plain", "vod995.ini")
        result = self.write_setting("OAuthClientSecret", "s", file)
        self.assertEqual(result.stdout, b"result=0")
        self.assertEqual(len(result.messages), 1, result)
        self.assertFailedWrite(result.messages[0], "OAuthClientSecret", file)

    def test_a_value_with_a_line_break_is_refused_and_the_file_kept(self):
        file = self.path("vod995.ini")
        before = b"; kept\r\n[Parameters]\r\nOAuthClientKey=old\r\n"
        with open(file, "wb") as f:
            f.write(before)
        result = self.write_setting("OAuthClientKey", r"new\nOAuthTokenKey=injected", file)
        self.assertEqual(result.stdout, b"result=0")
        self.assertEqual(len(result.messages), 1, result)
        code = self.assertFailedWrite(result.messages[0], "OAuthClientKey", file)
        self.assertEqual(code, e2e.error_number("invalid_parameter"))
        with open(file, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_the_user_folder_is_made_once_and_then_found(self):
        env, lumesk = self.enterContext(e2e.user_folder())
        expected = "ok=1\nfolder=" + e2e.program_path_text(lumesk) + SEPARATOR
        for _ in range(2):  # the second run finds the folder already there
            result = show("user-folder", env=env)
            self.assertEqual((result.messages, result.stdout.decode("utf-8")), ([], expected))
        self.assertTrue(os.path.isdir(lumesk))
        result = show("user-settings-path", env=env)
        self.assertEqual(result.stdout.decode("utf-8"),
                         e2e.program_path_text(os.path.join(lumesk, "vod995.ini")))

    @unittest.skipUnless(e2e.NATIVE, "the Windows folder query cannot be made to fail from here")
    def test_a_failed_folder_query_is_reported_and_the_bare_name_used(self):
        not_a_folder = self.path("file")
        open(not_a_folder, "w").close()
        env = {"XDG_CONFIG_HOME": not_a_folder}
        expected = Message("error", "Failed to obtain user profile path!\n" + e2e.description(errno.ENOTDIR))
        result = show("user-folder", env=env)
        self.assertEqual((result.messages, result.stdout), ([expected], b"ok=0\nfolder="))
        result = show("user-settings-path", env=env)
        self.assertEqual((result.messages, result.stdout), ([expected], b"vod995.ini"))

    @unittest.skipUnless(e2e.NATIVE, "needs a folder where nothing can be created")
    def test_a_sub_folder_that_cannot_be_made_is_reported(self):
        result = show("user-folder", env={"XDG_CONFIG_HOME": "/proc"})
        self.assertEqual(result.stdout, b"ok=0\nfolder=")
        self.assertEqual(len(result.messages), 1, result)
        self.assertEqual(result.messages[0].icon, "error")
        self.assertTrue(result.messages[0].text.startswith("Failed to get user profile path!\n"), result)


if __name__ == "__main__":
    unittest.main(verbosity=2)
