#!/usr/bin/env python3
"""The Windows installer as scripts/package-msi.sh builds it, without
installing it: two builds of the same tree are the same bytes, what Programs
and Features and Windows Installer read from its tables, and signing with a
throwaway certificate authority made here, checked back to its root."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ["INKSEAL_SOURCE_DIR"]
BINARY_DIR = os.environ["INKSEAL_BINARY_DIR"]
sys.path.insert(0, os.path.join(SOURCE_DIR, "packaging", "windows"))
import pe_version  # noqa: E402

TIMEOUT = 120
PROGRAMS = ("Ferrowend.exe", "Brantwick.exe")


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=TIMEOUT,
                          **kwargs)


def package(out, **environment):
    result = run(["bash", os.path.join(SOURCE_DIR, "scripts", "package-msi.sh"), BINARY_DIR, out],
                 env=dict(os.environ, **environment))
    if result.returncode != 0:
        raise AssertionError(f"package-msi.sh failed:\n{result.stderr}")
    return result.stdout.strip().splitlines()[-1], result.stderr


def table(msi, name):
    """The rows of one table, each a dict by column name.  msiinfo writes a
    table's binary fields as files into the current folder."""
    lines = run(["msiinfo", "export", msi, name], cwd=os.path.dirname(msi),
                check=True).stdout.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def verified(path, root):
    return run(["osslsigncode", "verify", "-CAfile", root, "-in", path])


class WindowsPackageBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="inkseal-msi-build-")
        cls.msi, cls.unsigned_note = package(os.path.join(cls.folder, "first"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_the_same_tree_gives_the_same_package(self):
        again, _ = package(os.path.join(self.folder, "again"))
        with open(self.msi, "rb") as a, open(again, "rb") as b:
            self.assertTrue(a.read() == b.read(), "two builds differ")

    def test_tables_carry_versions_the_entry_and_the_sign_in_shortcut(self):
        files = {row["File"]: row for row in table(self.msi, "File")}
        for program in PROGRAMS:
            built = pe_version.file_version(os.path.join(BINARY_DIR, "bin", program))
            self.assertEqual(files[program]["Version"], built, program)
        properties = {row["Property"]: row["Value"] for row in table(self.msi, "Property")}
        self.assertIn(properties["ARPPRODUCTICON"], [row["Name"] for row in table(self.msi, "Icon")])
        self.assertGreater(int(properties["ARPSIZE"]), 1000)
        self.assertEqual(properties["ARPNOREPAIR"], "1")
        actions = {row["Action"]: row for row in table(self.msi, "CustomAction")}
        self.assertEqual(actions["SetInstallLocation"]["Source"], "ARPINSTALLLOCATION")
        shortcuts = table(self.msi, "Shortcut")
        self.assertEqual([(s["Name"].split("|")[-1], s["Target"]) for s in shortcuts],
                         [("Sign in to Inkseal", "[INSTALLFOLDER]Brantwick.exe")])

    def test_signed_with_a_certificate_and_unsigned_without(self):
        self.assertIn("not signed", self.unsigned_note)
        authority = os.path.join(self.folder, "authority")
        os.makedirs(authority)
        path = lambda name: os.path.join(authority, name)  # noqa: E731
        openssl = ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-days", "2"]
        run(openssl + ["-x509", "-keyout", path("root.key"), "-out", path("root.pem"), "-subj", "/CN=Inkseal Test Root",
                       "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"],
            check=True)
        run(openssl + ["-keyout", path("signer.key"), "-out", path("signer.csr"), "-subj", "/CN=Inkseal Test Signer"],
            check=True)
        with open(path("signer.ext"), "w") as f:
            f.write("keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
        run(["openssl", "x509", "-req", "-in", path("signer.csr"), "-CA", path("root.pem"), "-CAkey", path("root.key"),
             "-CAcreateserial", "-days", "2", "-extfile", path("signer.ext"), "-out", path("signer.pem")], check=True)
        password = "a throwaway password"
        run(["openssl", "pkcs12", "-export", "-inkey", path("signer.key"), "-in", path("signer.pem"),
             "-certfile", path("root.pem"), "-out", path("signer.p12"), "-passout", "env:SIGNING_PASSWORD"],
            env=dict(os.environ, SIGNING_PASSWORD=password), check=True)

        self.assertNotEqual(verified(self.msi, path("root.pem")).returncode, 0)
        signed, note = package(os.path.join(self.folder, "signed"), INKSEAL_SIGNING_PKCS12=path("signer.p12"),
                               INKSEAL_SIGNING_PASSWORD=password)
        self.assertNotIn("not signed", note)
        extracted = os.path.join(self.folder, "extracted")
        os.makedirs(extracted)
        run(["msiextract", "-C", extracted, signed], check=True)
        for program in PROGRAMS:
            found = [os.path.join(d, program) for d, _, names in os.walk(extracted) if program in names]
            result = verified(found[0], path("root.pem"))
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        result = verified(signed, path("root.pem"))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Inkseal Test Signer", result.stdout)


if __name__ == "__main__":
    unittest.main()
