#!/usr/bin/env python3
"""The application manifest embedded in each built Windows program: exactly
one, where Windows' loader looks for it (type 24, id 1), and saying what the
programs rely on."""

import os
import sys
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.environ["INKSEAL_SOURCE_DIR"], "packaging", "windows"))
import pe_resources  # noqa: E402

BIN = os.path.join(os.environ["INKSEAL_BINARY_DIR"], "bin")
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
ISOLATIONAWARE_MANIFEST_RESOURCE_ID = 2
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
NS = {"v1": "urn:schemas-microsoft-com:asm.v1",
      "v3": "urn:schemas-microsoft-com:asm.v3",
      "compat": "urn:schemas-microsoft-com:compatibility.v1",
      "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}


class ManifestTest(unittest.TestCase):
    def manifest(self, program):
        path = os.path.join(BIN, program + ".exe")
        copies = pe_resources.resource(path, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
        self.assertEqual(len(copies), 1, f"{program}: one manifest in one language")
        # A second manifest (a tool chain's default one) would be a link
        # error on Windows' side at best, an ignored manifest at worst.
        self.assertEqual(pe_resources.resource(path, RT_MANIFEST, ISOLATIONAWARE_MANIFEST_RESOURCE_ID), [])
        return ElementTree.fromstring(copies[0])

    def test_each_program_asks_for_themed_controls_dpi_awareness_and_no_elevation(self):
        for program in ("Ferrowend", "Brantwick"):
            with self.subTest(program=program):
                root = self.manifest(program)
                self.assertEqual(root.tag, "{%s}assembly" % NS["v1"])
                identity = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", NS)
                self.assertEqual(identity.get("name"), "Microsoft.Windows.Common-Controls")
                self.assertEqual(identity.get("version"), "6.0.0.0")
                self.assertEqual(identity.get("publicKeyToken"), "6595b64144ccf1df")
                level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", NS)
                self.assertEqual(level.get("level"), "asInvoker")
                self.assertEqual(level.get("uiAccess"), "false")
                supported = [e.get("Id") for e in root.findall("compat:compatibility/compat:application/compat:supportedOS", NS)]
                self.assertIn(WINDOWS_10_AND_11, supported)
                settings = root.find("v3:application/v3:windowsSettings", NS)
                awareness = settings.find("ws2016:dpiAwareness", NS).text
                self.assertEqual([a.strip() for a in awareness.split(",")][0], "PerMonitorV2")
                self.assertIn(settings.find("ws2005:dpiAware", NS).text.strip(), ("true", "true/pm"))


if __name__ == "__main__":
    unittest.main()
