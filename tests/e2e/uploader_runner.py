"""Runs Ferrowend for the end-to-end tests: a private install folder per case,
the stand-in service, a recording browser, and the messages the program
showed (standard error natively, the message boxes under Wine)."""

import base64
import errno
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

NATIVE = os.environ.get("INKSEAL_PLATFORM", "native") == "native"
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("INKSEAL_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
BINARY_DIR = os.environ.get("INKSEAL_BINARY_DIR", os.path.join(SOURCE_DIR, "build", "native"))
EXE = "" if NATIVE else ".exe"

SERVICE_START_SECONDS = 30
RUN_SECONDS = 60 if NATIVE else 120

# Error numbers, each in its platform's own domain.
FILE_NOT_FOUND = errno.ENOENT if NATIVE else 2
FILE_TOO_LARGE = errno.EFBIG if NATIVE else 223
BAD_NAME_WITH_QUOTE = errno.ENOENT if NATIVE else 123  # a quote cannot be part of a Windows name

WINE_RUN = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")
UI_PROBE = os.path.join(BINARY_DIR, "tools", "ui_probe", "ui_probe.exe")
PROBE_WAIT_MS = 1000
BROWSER_WAIT_SECONDS = 20  # winebrowser hands the address on after the program has ended

_UNVERIFIED = ssl.create_default_context()
_UNVERIFIED.check_hostname = False
_UNVERIFIED.verify_mode = ssl.CERT_NONE


# --- expected message texts, as full-match patterns ------------------------

def exactly(text):
    return re.escape(text)


def _description(code):
    """The platform's description of an error number, ending in a line break."""
    if NATIVE:
        return re.escape(os.strerror(code) + "\n")
    return r"(?:[^\n]+\r?\n)?"  # Wine lacks the texts of some numbers


def _signed(code):
    return str(code - 2 ** 32 if code >= 2 ** 31 else code)


def last_error_text(text, code):
    return re.escape(text + "\n") + _description(code)


def error_code_text(code, text):
    return re.escape(f"\nError code: {_signed(code)}\n") + _description(code) + re.escape("\n" + text)


def http_error_code_text(code, text):
    # The HTTP library's own message table words these; only its presence is checked.
    description = r"[^\n]+\n" if NATIVE else r"(?:[^\n]+\r?\n)?"
    return re.escape(f"\nError code: {_signed(code)}\n") + description + re.escape("\n" + text)


# --- small helpers -----------------------------------------------------------

def shown_path(path):
    """A file's path as the program sees it: under Wine, the Unix root is drive Z:."""
    return path if NATIVE else "Z:" + path.replace("/", "\\")


def wine_user_folder():
    """The prefix's roaming application-data folder, as Unix and Windows paths."""
    user = os.environ.get("USER") or os.environ.get("LOGNAME") or "root"
    unix = os.path.join(BINARY_DIR, "wineprefix", "drive_c", "users", user, "AppData", "Roaming")
    return unix, f"C:\\users\\{user}\\AppData\\Roaming"


def header(request, name):
    values = [v for n, v in request["headers"] if n.lower() == name.lower()]
    if len(values) != 1:
        raise AssertionError(f"{name}: expected one header line, found {values!r}")
    return values[0]


def write_ini(path, values):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\r\n") as f:
        f.write("[Parameters]\n")
        for key, value in values.items():
            f.write(f"{key}={value}\n")


def closed_port():
    """A loopback port that nothing listens on (bound, then released)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class StandInService:
    """tools/stand_in_service/service.py, started once per test class."""

    def __init__(self):
        self.state_dir = tempfile.mkdtemp(prefix="inkseal-service-")
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE_DIR, "tools", "stand_in_service", "service.py"),
             "--port", "0", "--state-dir", self.state_dir],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()),
                                  daemon=True)
        reader.start()
        reader.join(SERVICE_START_SECONDS)
        if not line or not line[0].startswith("READY "):
            self.stop()
            raise RuntimeError("the stand-in service did not start")
        self.url = line[0].split()[1]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        shutil.rmtree(self.state_dir, ignore_errors=True)

    def _call(self, method, path, body=b""):
        request = urllib.request.Request(self.url + path, method=method,
                                         data=body if method == "POST" else None)
        with urllib.request.urlopen(request, context=_UNVERIFIED, timeout=20) as reply:
            return reply.read()

    def requests(self):
        return json.loads(self._call("GET", "/_test/requests"))

    def reset(self):
        self._call("POST", "/_test/reset")

    def queue_reply(self, path, status, headers, body=b""):
        """The next request to path gets this reply instead of the usual one."""
        self._call("POST", "/_test/reply", json.dumps({
            "path": path, "status": status, "headers": headers,
            "body_base64": base64.b64encode(body).decode("ascii")}).encode("utf-8"))

    def fetch(self, url):
        with urllib.request.urlopen(url, context=_UNVERIFIED, timeout=20) as reply:
            return reply.read().decode("utf-8")


class Outcome:
    def __init__(self, exit_code, messages, browsed, output):
        self.exit_code = exit_code
        self.messages = messages  # [(kind, text)] in the order shown
        self.browsed = browsed    # addresses handed to the browser
        self.output = output

    @property
    def browser(self):
        return self.browsed[0] if self.browsed else None

    def __repr__(self):
        return (f"Outcome(exit_code={self.exit_code}, messages={self.messages!r}, "
                f"browsed={self.browsed!r}, output={self.output!r})")


_MESSAGE_BLOCK = re.compile(r"\[Inkseal\] (error|information)\n(.*?)\n\[OK\]\n", re.S)


class Installation:
    """A folder with a copy of Ferrowend, its settings file, the user's
    settings folder, the documents and a recording browser."""

    def __init__(self, service):
        self.service = service
        self.root = tempfile.mkdtemp(prefix="inkseal-upl-")
        self.install_dir = self.path("install")
        os.makedirs(self.install_dir)
        shutil.copy2(os.path.join(BINARY_DIR, "bin", "Ferrowend" + EXE), self.install_dir)
        self.config_home = self.path("config")
        self.authenticator_log = self.path("authenticator.log")
        self.browser_log = self.path("browser.log")
        self.fake_environment = {}
        self.program_name = "Ferrowend"
        self._forget_user_settings()

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)
        self._forget_user_settings()

    def _forget_user_settings(self):
        # Under Wine the user's folder belongs to the shared prefix, not to us.
        if not NATIVE and os.path.exists(self._user_settings_file()):
            os.remove(self._user_settings_file())

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    # What the program calls these paths in its messages.
    def module_settings_path(self):
        return shown_path(os.path.join(self.install_dir, "vod995.ini"))

    def user_settings_path(self):
        if NATIVE:
            return os.path.join(self.config_home, "Lumesk", "vod995.ini")
        return wine_user_folder()[1] + "\\Lumesk\\vod995.ini"

    def _user_settings_file(self):
        if NATIVE:
            return self.user_settings_path()
        return os.path.join(wine_user_folder()[0], "Lumesk", "vod995.ini")

    def module_settings(self, **values):
        write_ini(os.path.join(self.install_dir, "vod995.ini"), values)

    def user_settings(self, **values):
        write_ini(self._user_settings_file(), values)

    def write_document(self, folder, name, content):
        """Writes a document and returns its path as the program sees it."""
        os.makedirs(self.path(folder), exist_ok=True)
        path = self.path(folder, name)
        with open(path, "wb") as f:
            f.write(content)
        return shown_path(path)

    def shown(self, *parts):
        return shown_path(self.path(*parts))

    def fake_authenticator(self, exit_code, credentials=None):
        shutil.copy2(os.path.join(BINARY_DIR, "tests", "uploader", "fake_authenticator" + EXE),
                     os.path.join(self.install_dir, "Brantwick" + EXE))
        names = {"OAuthClientKey": "CLIENT_KEY", "OAuthClientSecret": "CLIENT_SECRET",
                 "OAuthTokenKey": "TOKEN_KEY", "OAuthTokenSecret": "TOKEN_SECRET"}
        self.fake_environment = {"INKSEAL_FAKE_EXIT": str(exit_code),
                                 "INKSEAL_FAKE_AUTHENTICATOR_LOG": shown_path(self.authenticator_log)}
        for key, value in (credentials or {}).items():
            self.fake_environment["INKSEAL_FAKE_OAUTH_" + names[key]] = value

    def authenticator_starts(self):
        if not os.path.exists(self.authenticator_log):
            return 0
        with open(self.authenticator_log) as f:
            return f.read().count("started")

    def _browser_script(self, fails):
        script = self.path("browser.sh")
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.browser_log}'\n")
            if fails:
                f.write("exit 1\n")
        os.chmod(script, 0o755)
        return script

    def _browsed(self):
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log) as f:
            return f.read().splitlines()

    def rename_program(self, name):
        """Gives the installed program another file name (without extension)."""
        os.rename(self.program(), os.path.join(self.install_dir, name + EXE))
        self.program_name = name

    def program(self):
        return os.path.join(self.install_dir, self.program_name + EXE)

    def run(self, command_line, browser_fails=False, config_home=None, cwd=None):
        """Starts the installed Ferrowend with command_line as the text after
        its name, waits at most RUN_SECONDS, and returns what happened."""
        if os.path.exists(self.browser_log):
            os.remove(self.browser_log)
        env = dict(os.environ)
        # The desktop's own handlers stay out: xdg-open (also behind Wine's
        # winebrowser) falls back to $BROWSER, our recording script.
        for name in ("WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                     "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"):
            env.pop(name, None)
        env.update(self.fake_environment)
        env.update({"XDG_CONFIG_HOME": config_home or self.config_home,
                    "XDG_DATA_HOME": self.path("data"),
                    "BROWSER": self._browser_script(browser_fails)})
        if NATIVE:
            return self._run_native(command_line, env, cwd)
        return self._run_under_wine(command_line, env, cwd)

    def _run_native(self, command_line, env, cwd):
        env.pop("DISPLAY", None)
        env["INKSEAL_MESSAGE_OUTPUT"] = "stderr"
        # Split at every blank, as an unquoting shell would: the program must
        # join the arguments back into the very same text.
        arguments = command_line.split(" ") if command_line else []
        process = subprocess.Popen([self.program()] + arguments,
                                   env=env, cwd=cwd or self.root, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        try:
            _, error_output = process.communicate(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise AssertionError(f"Ferrowend did not end within {RUN_SECONDS} s")
        text = error_output.decode("utf-8", "replace")
        messages = [(kind, body) for kind, body in _MESSAGE_BLOCK.findall(text)]
        return Outcome(process.returncode, messages, self._browsed(), text)

    def _run_under_wine(self, command_line, env, cwd):
        """The UI probe starts Ferrowend with the exact command line (its own
        name quoted, then the text) and, meanwhile, reads and closes every
        message box it shows.  Whatever goes wrong, nothing is left running."""
        env["INKSEAL_BINARY_DIR"] = BINARY_DIR
        line_file = self.path("command-line.txt")
        with open(line_file, "w", encoding="utf-8", newline="") as f:
            f.write(f'"{shown_path(self.program())}"' + (" " + command_line if command_line else ""))
        launcher = subprocess.Popen(
            [WINE_RUN, UI_PROBE, "launch", shown_path(self.program()), shown_path(line_file)],
            env=env, cwd=cwd or self.root, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + RUN_SECONDS
        messages = []
        try:
            while launcher.poll() is None:
                if time.monotonic() > deadline:
                    raise AssertionError(f"Ferrowend did not end within {RUN_SECONDS} s: {messages!r}")
                message = self._probe_message(env)
                if message:
                    messages.append(message)
        finally:
            if launcher.poll() is None:
                self._kill_programs(env)
                launcher.kill()
            launcher.wait()
        if launcher.returncode == 0 and not messages:  # the shell accepted an address
            self._wait_for_browser()
        return Outcome(launcher.returncode, messages, self._browsed(), "")

    @staticmethod
    def _probe_message(env):
        """One message box, read and closed: (kind, text), or None when none came."""
        try:
            probe = subprocess.run([WINE_RUN, UI_PROBE, "message", str(PROBE_WAIT_MS)], env=env,
                                   stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            return None
        if probe.returncode != 0:
            return None
        kind, _, text = probe.stdout.decode("utf-8").partition("\n")
        return kind.removeprefix("icon="), text

    def _kill_programs(self, env):
        for image in (self.program_name + EXE, "Brantwick" + EXE):
            subprocess.run([WINE_RUN, "taskkill", "/f", "/im", image], env=env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    def _wait_for_browser(self):
        deadline = time.monotonic() + BROWSER_WAIT_SECONDS
        while not self._browsed() and time.monotonic() < deadline:
            time.sleep(0.1)
