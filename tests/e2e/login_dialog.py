"""Drives Brantwick's login dialog as a user would, on both platforms.

Natively the GTK dialog gets real X input through xdotool (XTEST): the
window is found by its title and focused, then keys are typed.  The dialog
has no control IDs there, so fields are reached the keyboard's way, by the
tab order (email, password, "Log in", "Cancel"; in two-factor mode the code
edit takes the email's place).  Under Wine the UI probe types into the
edits by control ID, posts keys to them, presses buttons and reports which
controls are visible and which has the focus.

Every step has a time limit; a dialog that never shows fails the test.
"""

import os
import subprocess
import time

import inkseal_e2e as e2e
from stand_in_service import StandInService  # noqa: F401  (re-exported for the tests)

EMAIL, PASSWORD, CODE = 1001, 1002, 1003
EMAIL_LABEL, PASSWORD_LABEL, CODE_LABEL = 1101, 1102, 1103
LOG_IN, CANCEL = 1, 2

# For the sanitizer build: GTK's libraries keep caches until the process ends.
SANITIZER_ENV = {"LSAN_OPTIONS": "suppressions=" + os.path.join(e2e.SOURCE_DIR, "tests", "sanitizer",
                                                                "gtk_leaks.supp")}

SHOW_TIMEOUT = 30
XDOTOOL_TIMEOUT = 20
KEY_DELAY_MS = 15


def _xdotool(*arguments):
    result = subprocess.run(["xdotool"] + [str(a) for a in arguments], capture_output=True, text=True,
                            timeout=XDOTOOL_TIMEOUT)
    if result.returncode != 0:
        raise e2e.HarnessError(f"xdotool {arguments} failed: {result.stderr}")
    return result.stdout


class LoginDialog:
    """The dialog of one running Brantwick (an inkseal_e2e.Running)."""

    def __init__(self, running):
        self.running = running
        self.window = None
        # Natively, where the keyboard is (None: nowhere) and the tab order
        # of the mode shown, so that a button can be reached by Tab.
        self.focus = EMAIL
        self.tab_order = [EMAIL, PASSWORD, LOG_IN, CANCEL]

    # --- waiting ---------------------------------------------------------

    def wait_shown(self, focus_expected=True):
        if e2e.NATIVE:
            deadline = time.monotonic() + SHOW_TIMEOUT
            while time.monotonic() < deadline:
                if not self.running.running():
                    # The program started may be Brantwick's parent (the
                    # printer agent): name the one that ended.
                    _, stderr = self.running._outputs()
                    program = os.path.basename(self.running.process.args[0])
                    raise AssertionError(f"{program} ended with {self.running.process.returncode} before the "
                                         f"dialog showed: {stderr.decode('utf-8', 'replace')}")
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Inkseal$"],
                                       capture_output=True, text=True, timeout=XDOTOOL_TIMEOUT).stdout.split()
                if found:
                    self.window = found[0]
                    _xdotool("windowfocus", "--sync", self.window)
                    time.sleep(0.3)  # let GTK take the focus-in before the first key
                    return
                time.sleep(0.1)
            raise AssertionError(f"the login dialog did not show within {SHOW_TIMEOUT} s")
        report = self.report(timeout_ms=SHOW_TIMEOUT * 1000)
        if report is None:
            raise AssertionError(f"the login dialog did not show within {SHOW_TIMEOUT} s")

    def report(self, timeout_ms=5000):
        """Under Wine: the probe's report as a dict, "control" lines in a list;
        None when no dialog is shown."""
        result = self.running.probe("dialog", timeout_ms)
        if result.returncode == e2e.PROBE_NO_WINDOW:
            return None
        if result.returncode != 0:
            raise e2e.HarnessError(f"probe dialog failed: {result.returncode} {result.stderr!r}")
        report = {"control": []}
        for line in result.stdout.decode("utf-8").splitlines():
            name, _, value = line.partition("=")
            if name == "control":
                report["control"].append(value)
            else:
                report[name] = value
        return report

    def visible_controls(self):
        return [int(c) for c in self.report()["visible"].split(",") if c]

    def visible_controls_settled(self, expected, seconds=5):
        """The visible controls once they equal expected, or as last seen after
        seconds: the dialog switches modes only after its message box closed,
        so a report taken at once may catch it half-way."""
        deadline = time.monotonic() + seconds
        while True:
            visible = self.visible_controls()
            if visible == expected or time.monotonic() > deadline:
                return visible
            time.sleep(0.1)

    def focused_control(self):
        return int(self.report()["focus"])

    # --- acting ----------------------------------------------------------

    def _probe(self, *arguments):
        result = self.running.probe(*arguments)
        if result.returncode != 0:
            raise e2e.HarnessError(f"probe {arguments} failed: {result.returncode} {result.stderr!r}")

    def _keys(self, *names):
        _xdotool("key", "--clearmodifiers", "--delay", KEY_DELAY_MS, *names)

    def _type(self, text):
        if text:
            _xdotool("type", "--delay", KEY_DELAY_MS, text)

    def _tab_to(self, control):
        steps = self.tab_order.index(control) - (self.tab_order.index(self.focus) if self.focus else -1)
        if steps < 0:
            raise e2e.HarnessError(f"cannot Tab back from {self.focus} to {control}")
        if steps:
            self._keys(*["Tab"] * steps)
        self.focus = control

    def fill_credentials(self, email, password):
        """Types email and password; natively leaves the keyboard on password."""
        if e2e.NATIVE:
            self._tab_to(EMAIL)
            self._type(email)
            self._tab_to(PASSWORD)
            self._type(password)
        else:
            self._probe("type", EMAIL, email)
            self._probe("type", PASSWORD, password)

    def enter_in(self, control):
        """Enter with the keyboard in control (natively: reached from the
        password edit, or from the code edit in two-factor mode)."""
        if e2e.WINDOWS:
            self._probe("key", control, "return")
        elif control == EMAIL and self.focus == PASSWORD:
            self._keys("shift+Tab", "Return")
            self.focus = EMAIL
        else:
            self._tab_to(control)
            self._keys("Return")

    def click_log_in(self):
        if e2e.WINDOWS:
            self._probe("press", LOG_IN)
        else:
            self._tab_to(LOG_IN)
            self._keys("space")

    def fill_code(self, code):
        """After the switch to two-factor mode."""
        if e2e.WINDOWS:
            self._probe("type", CODE, code)
        else:
            # The switch puts the keyboard into the code edit: no Tab.
            self.tab_order = [CODE, LOG_IN, CANCEL]
            self.focus = CODE
            self._type(code)

    def type_here(self, text):
        """Natively: types where the keyboard is, without moving it."""
        self._type(text)

    def escape(self):
        if e2e.WINDOWS:
            self._probe("key", 0, "escape")
        else:
            self._keys("Escape")

    def click_cancel(self):
        if e2e.WINDOWS:
            self._probe("press", CANCEL)
        else:
            self._tab_to(CANCEL)
            self._keys("space")

    def close_box(self):
        if e2e.WINDOWS:
            self._probe("close")
        else:
            raise NotImplementedError("no WM_DELETE_WINDOW without a window manager")

    def read_message(self, wait_ms=10000):
        """The next message the press showed: (icon, text).  Under Wine the box
        is read and closed; natively it is taken from the program's stderr,
        waiting up to wait_ms for it."""
        if e2e.WINDOWS:
            message = self.running.read_message(wait_ms)
            if message is None:
                raise AssertionError("no message box came")
            return message.icon, message.text
        deadline = time.monotonic() + wait_ms / 1000
        seen = len(self.running.messages)
        while time.monotonic() < deadline:
            _, stderr = self.running._outputs()
            blocks = e2e.parse_message_blocks(stderr.decode("utf-8", "replace"))
            if len(blocks) > seen:
                self.running.messages = blocks
                return blocks[seen].icon, blocks[seen].text
            time.sleep(0.1)
        raise AssertionError("no message came")


def read_settings(path):
    """The [Parameters] keys of a settings file, in file order."""
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8-sig", "replace")
    pairs = []
    for line in text.splitlines():
        if "=" in line and not line.startswith("["):
            key, _, value = line.partition("=")
            pairs.append((key.strip(), value.strip()))
    return pairs
