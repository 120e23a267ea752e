#!/usr/bin/env python3
"""The Debian package, built by scripts/package-deb.sh from this build tree:
the same bytes from a second build, its control data and layout, lintian,
maintainer scripts that reach only this machine's scheduler, and a real
install, reinstall and purge by dpkg into a throwaway root with an admin
folder of its own (the machine's own package state is never touched)."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ["INKSEAL_SOURCE_DIR"]
BINARY_DIR = os.environ["INKSEAL_BINARY_DIR"]
TIMEOUT = 120
PROGRAMS = ("usr/lib/inkseal/Ferrowend", "usr/lib/inkseal/Brantwick")
CONFFILE = "etc/inkseal/vod995.ini"
SETTINGS_LINK = "usr/lib/inkseal/vod995.ini"
# The printer's parts, packaged once the build installs them: path and the
# permission bits that must not be set on it.
PRINTER_PARTS = {
    "usr/lib/cups/backend/inkseal": 0o077,   # CUPS runs a backend as root only when others cannot touch it
    "usr/lib/inkseal/inkseal-agent": 0o022,
    "usr/lib/inkseal/inkseal-queue": 0o022,
    "etc/xdg/autostart/inkseal-agent.desktop": 0o022,
    "usr/lib/systemd/user/inkseal-agent.service": 0o022,
    "usr/share/inkseal/inkseal.ppd": 0o022,
}
SIGN_IN_ENTRY = "usr/share/applications/inkseal-sign-in.desktop"
AUTOSTART_ENTRY = "etc/xdg/autostart/inkseal-agent.desktop"
USER_UNIT = "usr/lib/systemd/user/inkseal-agent.service"


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=TIMEOUT, **kwargs)


def checked(command, **kwargs):
    result = run(command, **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{command} failed ({result.returncode}):\n{result.stdout}")
    return result.stdout


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="inkseal-deb-test-")
        cls.deb, cls.deb_again = (
            checked(["bash", os.path.join(SOURCE_DIR, "scripts", "package-deb.sh"), BINARY_DIR,
                     os.path.join(cls.folder, build)]).strip().splitlines()[-1]
            for build in ("out", "again"))
        cls.control = {}
        for line in checked(["dpkg-deb", "--field", cls.deb]).splitlines():
            if line[:1] not in (" ", ""):
                name, _, value = line.partition(":")
                cls.control[name] = value.strip()
        cls.entries = {}   # path -> (mode text, owner, link target)
        for line in checked(["dpkg-deb", "--contents", cls.deb]).splitlines():
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            path, _, target = path.partition(" -> ")
            cls.entries[path[2:].rstrip("/")] = (mode, owner, target)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def printer_parts(self):
        return [p for p in PRINTER_PARTS if p in self.entries]

    def test_control_data_says_what_the_programs_need(self):
        self.assertTrue(os.path.basename(self.deb), "inkseal_1.0.9.9_amd64.deb")
        self.assertEqual((self.control["Package"], self.control["Version"], self.control["Architecture"]),
                         ("inkseal", "1.0.9.9", "amd64"))
        depends = [d.split()[0] for d in self.control["Depends"].split(",")]
        # libcurl and GTK are linked; Ferrowend opens the page with xdg-open;
        # the desktop's proxy comes through glib-networking and GNOME's schemas.
        for package in ("libc6", "libcurl4", "libgtk-3-0", "xdg-utils", "glib-networking",
                        "gsettings-desktop-schemas"):
            self.assertIn(package, depends)
        self.assertNotIn("cups-daemon", depends)
        self.assertIn("libproxy1-plugin-webkit", self.control.get("Recommends", ""))
        if self.printer_parts():
            self.assertIn("cups-daemon", self.control.get("Recommends", ""))
        conffiles = checked(["dpkg-deb", "--info", self.deb, "conffiles"]).split()
        etc_files = ["/" + p for p, (mode, _, _) in self.entries.items()
                     if p.startswith("etc/") and mode.startswith("-")]
        self.assertEqual(sorted(conffiles), sorted(etc_files))
        self.assertIn("/" + CONFFILE, conffiles)

    def test_layout_puts_the_programs_beside_a_link_to_the_conffile(self):
        for program in PROGRAMS:
            self.assertEqual(self.entries[program][:2], ("-rwxr-xr-x", "root/root"), program)
        self.assertEqual(self.entries[SETTINGS_LINK][0][0], "l")
        self.assertEqual(self.entries[SETTINGS_LINK][2], "/" + CONFFILE)
        self.assertEqual(self.entries[CONFFILE][:2], ("-rw-r--r--", "root/root"))
        for doc in ("usr/share/doc/inkseal/copyright", "usr/share/doc/inkseal/changelog.gz"):
            self.assertIn(doc, self.entries)
        for path, (mode, owner, _) in self.entries.items():
            self.assertEqual(owner, "root/root", path)
            if not mode.startswith("l"):
                self.assertNotIn(mode[8], "w", f"{path} is writable by others")
        # A backend under another name would be left out of the checks below.
        for path in self.entries:
            if path.startswith("usr/lib/cups/backend/"):
                self.assertIn(path, PRINTER_PARTS)
        for part in self.printer_parts():
            bits = sum(1 << (8 - i) for i, c in enumerate(self.entries[part][0][1:]) if c != "-")
            self.assertEqual(bits & PRINTER_PARTS[part], 0, f"{part}: {self.entries[part][0]}")

    def test_programs_with_test_hooks_are_not_packaged_for_shipping(self):
        env = {k: v for k, v in os.environ.items() if k != "INKSEAL_PACKAGE_TEST_TREE"}
        result = run(["bash", os.path.join(SOURCE_DIR, "scripts", "package-deb.sh"), BINARY_DIR,
                      os.path.join(self.folder, "refused")], env=env)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        self.assertIn("Brantwick: INKSEAL_SERVICE_HOST", result.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "refused")))

    def test_the_same_tree_gives_the_same_package(self):
        with open(self.deb, "rb") as a, open(self.deb_again, "rb") as b:
            self.assertTrue(a.read() == b.read(), "two builds differ")

    def test_lintian_finds_no_errors_and_hardened_binaries(self):
        result = run(["lintian", "-I", "--pedantic", "--tag-display-limit", "0", self.deb])
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:") or "hardening" in line]
        self.assertEqual(errors, [], result.stdout)

    def test_maintainer_scripts_reach_only_the_local_scheduler(self):
        """postinst and prerm, with lpadmin and lpstat stand-ins that log the
        server they would talk to, and an environment naming a remote one."""
        folder = tempfile.mkdtemp(dir=self.folder)
        log = os.path.join(folder, "log")
        for tool in ("lpadmin", "lpstat", "cupsreject"):
            # The server a CUPS client asks: the one after -h, else $CUPS_SERVER.
            with open(os.path.join(folder, tool), "w") as f:
                f.write(f'#!/bin/sh\nserver=$CUPS_SERVER\n[ "$1" = -h ] && server=$2\necho "$server" >>{log}\n')
            os.chmod(os.path.join(folder, tool), 0o755)
        scheduler = os.path.join(folder, "cups.sock")
        env = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"], CUPS_SERVER="print.example.com:631",
                   INKSEAL_PPD="/dev/null", DPKG_ROOT="")
        for script, argument in (("postinst", "configure"), ("prerm", "remove")):
            with open(os.path.join(SOURCE_DIR, "packaging", "debian", script)) as f:
                text = f.read()
            text = text.replace("/usr/lib/inkseal/inkseal-queue", os.path.join(SOURCE_DIR, "printer", "inkseal-queue"))
            text = text.replace("/run/cups/cups.sock", scheduler)
            copy = os.path.join(folder, script)
            with open(copy, "w") as f:
                f.write(text)
            with self.subTest(script=script):
                # Without the local socket nothing is asked of anyone.
                checked(["sh", copy, argument], env=env)
                self.assertFalse(os.path.exists(log))
                with socket.socket(socket.AF_UNIX) as listening:
                    listening.bind(scheduler)
                    checked(["sh", copy, argument], env=env)
                os.unlink(scheduler)
                with open(log) as f:
                    servers = set(f.read().split())
                os.unlink(log)
                self.assertEqual(servers, {scheduler})

    def test_install_reinstall_and_purge_in_a_throwaway_root(self):
        root = os.path.join(self.folder, "root")
        admin = os.path.join(self.folder, "admin")
        os.makedirs(os.path.join(admin, "updates"))
        os.makedirs(os.path.join(admin, "info"))
        for name in ("status", "available"):
            open(os.path.join(admin, name), "w").close()
        os.makedirs(root)
        # Maintainer scripts run here, not chrooted, with DPKG_ROOT naming the
        # root; the dependencies live on this machine, not in the root.
        dpkg = ["dpkg", "--instdir=" + root, "--admindir=" + admin, "--force-script-chrootless",
                "--force-depends", "--force-not-root", "--log=/dev/null"]
        checked(dpkg + ["--install", self.deb])
        for program in PROGRAMS:
            self.assertTrue(os.access(os.path.join(root, program), os.X_OK), program)
        self.assertEqual(os.readlink(os.path.join(root, SETTINGS_LINK)), "/" + CONFFILE)
        # The menu's sign-in entry starts Brantwick; the autostart entry is
        # tried only while its program is there; the unit's documentation is shipped.
        fields = {}
        for entry in (SIGN_IN_ENTRY, AUTOSTART_ENTRY, USER_UNIT):
            if entry in self.entries:
                with open(os.path.join(root, entry)) as f:
                    fields[entry] = dict(re.findall(r"^(\w+)=(.*)$", f.read(), re.M))
        self.assertEqual(fields[SIGN_IN_ENTRY]["Exec"], "/" + PROGRAMS[1])
        self.assertIn(f"usr/share/icons/hicolor/48x48/apps/{fields[SIGN_IN_ENTRY]['Icon']}.png", self.entries)
        for entry in (SIGN_IN_ENTRY, AUTOSTART_ENTRY):
            if entry in fields:
                self.assertEqual(fields[entry]["TryExec"], fields[entry]["Exec"], entry)
                self.assertTrue(os.access(root + fields[entry]["Exec"], os.X_OK), entry)
        if USER_UNIT in fields:
            self.assertTrue(os.path.isfile(root + fields[USER_UNIT]["Documentation"].removeprefix("file://")))

        # The installed program loads its libraries and runs from there far
        # enough to report (what it reports hangs on this machine's /etc).
        home = os.path.join(root, "home", "ada")
        users_file = os.path.join(home, ".config", "Lumesk", "vod995.ini")
        os.makedirs(os.path.dirname(users_file))
        with open(users_file, "w") as f:
            f.write("[Parameters]\nOAuthClientKey=ck\nOAuthClientSecret=cs\nOAuthTokenKey=tk\nOAuthTokenSecret=ts\n")
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   INKSEAL_MESSAGE_OUTPUT="stderr", DISPLAY="")
        result = run([os.path.join(root, PROGRAMS[0]), "/nonexistent.pdf"], env=env)
        self.assertNotIn("error while loading shared libraries", result.stdout)
        self.assertIn("[Inkseal] ", result.stdout)

        # An edited conffile survives the package going in again.
        edited = "[Parameters]\nLumeskURL=https://sign.example.com/upload\n"
        with open(os.path.join(root, CONFFILE), "w") as f:
            f.write(edited)
        checked(dpkg + ["--install", self.deb])
        with open(os.path.join(root, CONFFILE)) as f:
            self.assertEqual(f.read(), edited)

        checked(dpkg + ["--purge", "inkseal"])
        left = sorted(os.path.relpath(os.path.join(d, f), root)
                      for d, _, files in os.walk(root) for f in files)
        self.assertEqual(left, [os.path.relpath(users_file, root)])
        self.assertFalse(os.path.lexists(os.path.join(root, "etc", "inkseal")))
        self.assertFalse(os.path.lexists(os.path.join(root, "usr", "lib", "inkseal")))


if __name__ == "__main__":
    unittest.main()
