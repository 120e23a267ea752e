#!/usr/bin/python3
"""Brantwick's GTK dialog as a screen reader meets it: through AT-SPI on a
private session bus (run under dbus-run-session), the way Orca reads it.

Each field must carry its caption as its accessible name and be labelled by
it, and the switch to two-factor mode must move the focus, with its event,
to a field named "Two-factor code".  The login is then finished through
AT-SPI alone.  Every wait has a time limit.

Needs Debian's python3 with python3-pyatspi, a display and the native build.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

# The accessibility bus is found through the display before the session bus:
# a launcher of an earlier session on this display may have left its address
# there and gone.  This test's own session bus starts a fresh one.
if os.environ.get("DISPLAY") and shutil.which("xprop"):
    subprocess.run(["xprop", "-root", "-remove", "AT_SPI_BUS"], capture_output=True, timeout=10)

import pyatspi  # noqa: E402
from gi.repository import GLib  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import inkseal_e2e as e2e  # noqa: E402
from stand_in_service import StandInService  # noqa: E402

WAIT_SECONDS = 20
RUN_TIMEOUT = 60
FIELDS = {"Email": pyatspi.ROLE_TEXT, "Password": pyatspi.ROLE_PASSWORD_TEXT,
          "Two-factor code": pyatspi.ROLE_PASSWORD_TEXT}


def wait_for(find, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        found = find()
        if found is not None:
            return found
        GLib.MainContext.default().iteration(False)
        time.sleep(0.05)
    raise AssertionError(f"{what} did not come within {WAIT_SECONDS} s")


def descendants(node):
    for child in node:
        if child is not None:
            yield child
            yield from descendants(child)


def find_frame(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return next((w for w in app if w is not None and w.name == "Inkseal"), None)
    return None


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display")
class ScreenReaderTest(unittest.TestCase):
    def setUp(self):
        self.service = StandInService()
        self.addCleanup(self.service.stop)
        folder = e2e.user_folder()
        env, _ = folder.__enter__()
        self.addCleanup(folder.__exit__, None, None, None)
        env["INKSEAL_SERVICE_HOST"] = self.service.host
        # Installed beside a settings file that trusts the stand-in service's
        # authority, as an administrator would set it up.
        install = tempfile.mkdtemp(prefix="inkseal-atspi-")
        self.addCleanup(shutil.rmtree, install, True)
        program = shutil.copy2(e2e.program_path("Brantwick"), install)
        with open(os.path.join(install, "vod995.ini"), "w", newline="\r\n") as f:
            f.write("[Parameters]\n" + "".join(f"{k}={v}\n" for k, v in self.service.trust_settings().items()))
        self.running = e2e.start(program, env=env, timeout=RUN_TIMEOUT)
        self.addCleanup(self.running.close)
        self.focused = []
        pyatspi.Registry.registerEventListener(self.on_focus, "object:state-changed:focused")
        self.addCleanup(pyatspi.Registry.deregisterEventListener, self.on_focus, "object:state-changed:focused")

    def on_focus(self, event):
        if event.detail1 == 1:
            self.focused.append((event.source.getRole(), event.source.name))

    def fields(self, frame):
        found = {}
        for node in descendants(frame):
            if node.getRole() in (pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT):
                labels = [r.getTarget(i).name for r in node.getRelationSet()
                          if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
                found[node.name] = (node, node.getRole(), labels)
        return found

    def press(self, frame, button):
        node = next(n for n in descendants(frame) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == button)
        node.queryAction().doAction(0)

    def test_fields_are_named_by_their_captions_and_the_code_field_is_announced(self):
        frame = wait_for(lambda: find_frame(self.running.process.pid), "the login dialog")
        fields = self.fields(frame)
        self.assertEqual({name: (role, labels) for name, (_, role, labels) in fields.items()},
                         {name: (role, [name]) for name, role in FIELDS.items()})

        fields["Email"][0].queryEditableText().setTextContents("grace@inkseal.test")
        fields["Password"][0].queryEditableText().setTextContents("cobol")
        self.focused.clear()
        self.press(frame, "Log in")
        wait_for(lambda: (pyatspi.ROLE_PASSWORD_TEXT, "Two-factor code") in self.focused or None,
                 "the focus event of the code field")

        fields["Two-factor code"][0].queryEditableText().setTextContents("424242")
        self.press(frame, "Log in")
        result = self.running.finish()
        self.assertEqual(result.exit_code, 1, result)
        self.assertEqual(result.messages, [e2e.Message("information", "Please enter your TOTP code.")])


if __name__ == "__main__":
    unittest.main(verbosity=2)
