#!/usr/bin/env python3
"""The Windows installer under Wine, in a Wine prefix of its own: a silent
installation beside a printer driver's own vod995.ini and its removal, then
one with LUMESKURL into a folder of our choosing (refused while a file
there has a second name elsewhere, and closed to all but administrators
before anything is copied or written), a print through the
installed Ferrowend to the stand-in service, a reinstall and an upgrade by
another build of the same version with the reduced user interface (which
runs the UI sequence), and the removal that keeps the user's credentials;
last the driver's own address, given back on removal, and an administrator's
edit, kept through upgrades."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ["INKSEAL_SOURCE_DIR"]
BINARY_DIR = os.environ["INKSEAL_BINARY_DIR"]
PREFIX = os.path.join(BINARY_DIR, "wineprefix-msi")
os.environ["INKSEAL_WINEPREFIX"] = PREFIX      # for the harness and every program it starts
os.environ.setdefault("INKSEAL_PLATFORM", "windows")
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import inkseal_e2e as e2e  # noqa: E402
import uploader_runner as runner  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
STEP_SECONDS = 180
DEFAULT_FOLDER = os.path.join(PREFIX, "drive_c", "Program Files", "Inkseal")
CHOSEN_FOLDER_TEXT = r"C:\Signing Tools\Inkseal"
CHOSEN_FOLDER = os.path.join(PREFIX, "drive_c", "Signing Tools", "Inkseal")
PROGRAMS = ("Ferrowend.exe", "Brantwick.exe")
DRIVER_SETTINGS = b"[Parameters]\r\nLumeskURL=https://driver.example/own\r\nLaunch=C:\\spool\\job.pdf\r\n"
ADA = {"OAuthClientKey": "ck-ada", "OAuthClientSecret": "cs-ada",
       "OAuthTokenKey": "tk-ada", "OAuthTokenSecret": "ts-ada"}


def wine_environment():
    return dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


def in_prefix(command):
    """Runs a Wine command in the test's prefix and waits for the prefix to
    settle (msiexec hands its work to the installer service)."""
    with tempfile.TemporaryFile() as output:
        try:
            result = subprocess.run(command, env=wine_environment(), stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT, timeout=STEP_SECONDS)
            subprocess.run([WINESERVER, "-w"], env=wine_environment(), timeout=STEP_SECONDS)
        except subprocess.TimeoutExpired:
            subprocess.run([WINESERVER, "-k"], env=wine_environment(), timeout=60)
            raise
        output.seek(0)
        return result.returncode, output.read().decode("utf-8", "replace")


def msiexec(*arguments, ui="/qn", succeed=True):
    """Runs msiexec with a verbose log; returns the log's text."""
    log = os.path.join(PREFIX, "drive_c", "msiexec.log")
    if os.path.exists(log):
        os.remove(log)
    code, output = in_prefix([WINE, "msiexec"] + list(arguments) + [ui, "/l*v", "C:\\msiexec.log"])
    if (code == 0) != succeed:
        raise AssertionError(f"msiexec {arguments} ended with {code}: {output}")
    with open(log, encoding="utf-8", errors="replace") as f:
        return f.read()


def executed_at(log, action):
    """Where the log shows the action run from the installation's script
    (the last of its starts: the script is written first, then run)."""
    starts = [m.start() for m in re.finditer(r"^Action start [0-9:]+: %s\.\r?$" % action, log, re.M)]
    if not starts:
        raise AssertionError(f"{action} did not run")
    return starts[-1]


def uninstall_entries():
    """Programs and Features' entries for Inkseal: product code -> the
    entry's values as the registry file writes them."""
    with open(os.path.join(PREFIX, "system.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    entries = {}
    for key, body in re.findall(r"^\[([^\]]*\\\\Uninstall\\\\\{[^\]]*\})\][^\n]*\n(.*?)(?=^\[)", text, re.M | re.S):
        if '"DisplayName"="Inkseal"' in body:
            entries[key[key.rindex("{"):]] = body
    return entries


def installed_products():
    return set(uninstall_entries())


def product_code(msi):
    rows = subprocess.run(["msiinfo", "export", msi, "Property"], stdout=subprocess.PIPE, text=True,
                          check=True, timeout=60).stdout
    return re.search(r"^ProductCode\t(\{[^}]*\})", rows, re.M).group(1)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def sign_in_target():
    """The program the Start menu's "Sign in to Inkseal" starts: the local
    path that the shortcut file holds.  Windows puts a per-machine shortcut
    in the common Start menu, Wine in the user's."""
    links = glob.glob(os.path.join(PREFIX, "drive_c", "*", "**", "Start Menu", "Programs", "Sign in to Inkseal.lnk"),
                      recursive=True)
    if len(links) != 1:
        raise AssertionError(f"one sign-in entry expected: {links}")
    link = read(links[0])
    target = re.search(rb"C:\\[^\0]*?Brantwick\.exe", link).group(0).decode("latin-1")
    return os.path.join(PREFIX, "drive_c", *target[3:].split("\\"))


class WindowsInstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="inkseal-msi-test-")
        shutil.rmtree(PREFIX, ignore_errors=True)
        in_prefix([WINE, "wineboot", "-i"])
        # Two builds of the same version from different commits (the time
        # stamp is in the programs): the second replaces the first.
        cls.packages = []
        for build, commit_time in (("first", "1700000000"), ("second", "1700086400")):
            out = subprocess.run(["bash", os.path.join(SOURCE_DIR, "scripts", "package-msi.sh"), BINARY_DIR,
                                  os.path.join(cls.folder, build)],
                                 env=dict(os.environ, SOURCE_DATE_EPOCH=commit_time),
                                 stdout=subprocess.PIPE, check=True, text=True, timeout=STEP_SECONDS).stdout
            cls.packages.append(out.strip().splitlines()[-1])
        cls.service = runner.StandInService()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        subprocess.run([WINESERVER, "-k"], env=wine_environment(), timeout=60)
        shutil.rmtree(PREFIX, ignore_errors=True)
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_1_without_the_address_a_drivers_settings_file_stays_as_it_is(self):
        first = e2e.wine_path(self.packages[0])
        os.makedirs(DEFAULT_FOLDER)
        settings = os.path.join(DEFAULT_FOLDER, "vod995.ini")
        with open(settings, "wb") as f:
            f.write(DRIVER_SETTINGS)
        msiexec("/i", first)
        for program in PROGRAMS:
            self.assertTrue(os.path.isfile(os.path.join(DEFAULT_FOLDER, program)), program)
        self.assertEqual(read(settings), DRIVER_SETTINGS)
        self.assertEqual(installed_products(), {product_code(self.packages[0])})
        msiexec("/x", first)
        self.assertEqual(installed_products(), set())
        for program in PROGRAMS:
            self.assertFalse(os.path.exists(os.path.join(DEFAULT_FOLDER, program)), program)
        self.assertEqual(read(settings), DRIVER_SETTINGS)
        shutil.rmtree(DEFAULT_FOLDER)

    def test_2_install_print_upgrade_and_remove(self):
        first, second = (e2e.wine_path(p) for p in self.packages)
        upload_url = self.service.url + "/upload"
        settings = os.path.join(CHOSEN_FOLDER, "vod995.ini")
        expected_settings = f"[Parameters]\r\nLumeskURL={upload_url}\r\n".encode()
        # A second name for a file elsewhere, planted in the chosen folder:
        # the installer, as SYSTEM, would close whatever it leads to.  It
        # stops the installation before anything is copied.
        os.makedirs(CHOSEN_FOLDER)
        outside = os.path.join(PREFIX, "drive_c", "outside.txt")
        write(outside, b"not the installer's")
        planted = os.path.join(CHOSEN_FOLDER, "planted.txt")
        os.link(outside, planted)
        log = msiexec("/i", first, "LUMESKURL=" + upload_url, "INSTALLFOLDER=" + CHOSEN_FOLDER_TEXT, succeed=False)
        self.assertIn("cannot be closed to other users: the installer found a file with a second name elsewhere "
                      "(a hard link): " + CHOSEN_FOLDER_TEXT + "\\planted.txt", log)
        self.assertEqual(installed_products(), set())
        self.assertEqual(sorted(os.listdir(CHOSEN_FOLDER)), ["planted.txt"])
        os.remove(planted)

        # The folder is closed to all but administrators before the programs
        # are copied in, again after, and before vod995.ini is written.
        # (Wine keeps no permissions: it reads every allowing DACL as mode
        # 0777, so only the order and the outcome can be seen here.)
        log = msiexec("/i", first, "LUMESKURL=" + upload_url, "INSTALLFOLDER=" + CHOSEN_FOLDER_TEXT)
        self.assertEqual(log.count("Inkseal: only administrators and SYSTEM may change " + CHOSEN_FOLDER_TEXT), 2)
        order = [executed_at(log, action)
                 for action in ("LockInstallFolder", "InstallFiles", "LockInstalledFiles", "WriteUploadAddress")]
        self.assertEqual(order, sorted(order))
        for program in PROGRAMS:
            self.assertTrue(os.path.isfile(os.path.join(CHOSEN_FOLDER, program)), program)
        self.assertEqual(read(settings), expected_settings)
        self.assertFalse(os.path.exists(DEFAULT_FOLDER))
        entry = uninstall_entries()[product_code(self.packages[0])]
        self.assertIn('"InstallLocation"="%s\\\\"' % CHOSEN_FOLDER_TEXT.replace("\\", "\\\\"), entry)
        # Wine records the estimated size as "Size" and writes no DisplayIcon
        # (the icon is checked in the package's tables instead).
        self.assertRegex(entry, r'"Size"="[1-9][0-9]{3}"')
        self.assertIn('"NoRepair"=dword:00000001', entry)
        self.assertIn('"HelpLink"="https://inkseal.app"', entry)

        # The installed Ferrowend prints the sample PDF with the user's stored credentials.
        install = runner.Installation(self.service)
        try:
            install.install_dir = CHOSEN_FOLDER
            install.user_settings(**ADA)
            user_file = os.path.join(install.lumesk_folder, "vod995.ini")
            user_bytes = read(user_file)
            document = install.path("Sample.pdf")
            subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "sample_pdf", "make_sample_pdf.py"),
                            document], check=True, timeout=60)
            outcome = install.run(e2e.wine_path(document))
            self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
            uploads = [r for r in self.service.requests() if r["method"] == "PUT"]
            self.assertEqual(len(uploads), 1)
            self.assertEqual(runner.header(uploads[0], "Content-Length"), str(os.path.getsize(document)))
            self.assertIn(f"Size: {os.path.getsize(document)} bytes", self.service.fetch(outcome.browser))

            # The same package again and then the second build, both with a
            # user interface: each keeps the folder and the address.
            for package, code in ((first, self.packages[0]), (second, self.packages[1])):
                msiexec("/i", package, ui="/qr")
                self.assertEqual(installed_products(), {product_code(code)})
                for program in PROGRAMS:
                    self.assertTrue(os.path.isfile(os.path.join(CHOSEN_FOLDER, program)), program)
                self.assertEqual(read(settings), expected_settings)
                self.assertFalse(os.path.exists(DEFAULT_FOLDER))
            self.assertTrue(os.path.isfile(sign_in_target()))

            # The remembered address fills a key that has gone missing.
            write(settings, b"[Parameters]\r\n")
            msiexec("/i", first)
            self.assertEqual(read(settings), expected_settings)

            msiexec("/x", first)
            self.assertEqual(installed_products(), set())
            for program in PROGRAMS:
                self.assertFalse(os.path.exists(os.path.join(CHOSEN_FOLDER, program)), program)
            # Only the key the package wrote is gone (Wine leaves the emptied section).
            if os.path.exists(settings):
                self.assertNotIn(b"LumeskURL", read(settings))
            self.assertEqual(read(user_file), user_bytes)
        finally:
            install.remove()

    def test_3_the_drivers_address_comes_back_and_an_edit_stays(self):
        first, second = (e2e.wine_path(p) for p in self.packages)
        os.makedirs(DEFAULT_FOLDER)
        settings = os.path.join(DEFAULT_FOLDER, "vod995.ini")
        write(settings, DRIVER_SETTINGS)
        msiexec("/i", first, "LUMESKURL=https://sign.example/a")
        self.assertEqual(read(settings), DRIVER_SETTINGS.replace(b"driver.example/own", b"sign.example/a"))

        # The administrator's edit outlives an upgrade without LUMESKURL.
        edited = DRIVER_SETTINGS.replace(b"driver.example/own", b"sign.example/b")
        write(settings, edited)
        msiexec("/i", second, ui="/qr")
        self.assertEqual(read(settings), edited)

        # The driver's own value comes back in its place.
        msiexec("/x", second)
        self.assertEqual(installed_products(), set())
        self.assertEqual(read(settings), DRIVER_SETTINGS)
        shutil.rmtree(DEFAULT_FOLDER)


if __name__ == "__main__":
    unittest.main()
