"""Runs Ferrowend for the end-to-end tests on top of the shared harness: a
private install folder per case, the stand-in service, the user's own
settings folder, and a browser that records the addresses it is given."""

import contextlib
import functools
import os
import re
import shutil
import socket
import tempfile
import time

import inkseal_e2e as e2e
from stand_in_service import StandInService  # noqa: F401  (re-exported for the tests)

NATIVE = e2e.NATIVE
EXE = e2e.EXE
RUN_SECONDS = 60 if NATIVE else 120
BROWSER_WAIT_SECONDS = 20  # the handler may record the address after the program has ended

FILE_NOT_FOUND = 2                                     # ENOENT / ERROR_FILE_NOT_FOUND
FILE_TOO_LARGE = e2e.error_number("file_too_large")
BAD_NAME_WITH_QUOTE = 2 if NATIVE else 123             # a quote cannot be part of a Windows name
IS_A_DIRECTORY = 21                                    # EISDIR
NOT_A_DIRECTORY = 20                                   # ENOTDIR


# --- expected message texts, as full-match patterns ------------------------

def exactly(text):
    return re.escape(text)


@functools.lru_cache(maxsize=None)
def _description(code, http=False):
    return e2e.description(code, http=http)


def _signed(code):
    return str(code - 2 ** 32 if code >= 2 ** 31 else code)


def last_error_text(text, code):
    return re.escape(text + "\n" + _description(code))


def error_code_text(code, text):
    return re.escape(f"\nError code: {_signed(code)}\n" + _description(code) + "\n" + text)


def http_error_code_text(code, text):
    return re.escape(f"\nError code: {_signed(code)}\n" + _description(code, http=True) + "\n" + text)


# --- small helpers -----------------------------------------------------------

shown_path = e2e.program_path_text


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


class Installation:
    """A folder with a copy of Ferrowend, its settings file, the documents, a
    recording browser, and the user's own settings folder (natively a fresh
    XDG_CONFIG_HOME; under Wine the prefix's folder, set aside meanwhile)."""

    def __init__(self, service):
        self.service = service
        self.root = tempfile.mkdtemp(prefix="inkseal-upl-")
        self.install_dir = self.path("install")
        os.makedirs(self.install_dir)
        self.program_name = "Ferrowend"
        shutil.copy2(e2e.program_path("Ferrowend"), self.install_dir)
        self.authenticator_log = self.path("authenticator.log")
        self.browser_log = self.path("browser.log")
        self.fake_environment = {}
        self._user_folder = contextlib.ExitStack()
        self.user_environment, self.lumesk_folder = self._user_folder.enter_context(e2e.user_folder())

    def remove(self):
        self._user_folder.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def shown(self, *parts):
        return shown_path(self.path(*parts))

    # What the program calls its settings files in its messages.
    def module_settings_path(self):
        return shown_path(os.path.join(self.install_dir, "vod995.ini"))

    def user_settings_path(self):
        return shown_path(os.path.join(self.lumesk_folder, "vod995.ini"))

    def module_settings(self, **values):
        """The settings file beside the program: these values, after the key
        that trusts the stand-in service's authority."""
        trust = self.service.trust_settings() if self.service else {}
        write_ini(os.path.join(self.install_dir, "vod995.ini"), dict(trust, **values))

    def user_settings(self, **values):
        write_ini(os.path.join(self.lumesk_folder, "vod995.ini"), values)

    def write_document(self, folder, name, content):
        """Writes a document and returns its path as the program sees it."""
        os.makedirs(self.path(folder), exist_ok=True)
        with open(self.path(folder, name), "wb") as f:
            f.write(content)
        return self.shown(folder, name)

    def rename_program(self, name):
        """Gives the installed program another file name (without extension)."""
        os.rename(self.program(), os.path.join(self.install_dir, name + EXE))
        self.program_name = name

    def program(self):
        return os.path.join(self.install_dir, self.program_name + EXE)

    def fake_authenticator(self, exit_code, credentials=None, delay_ms=0):
        """Places the stand-in authenticator as Brantwick beside the program;
        it takes delay_ms to "log in"."""
        shutil.copy2(e2e.program_path("fake_authenticator"),
                     os.path.join(self.install_dir, "Brantwick" + EXE))
        names = {"OAuthClientKey": "CLIENT_KEY", "OAuthClientSecret": "CLIENT_SECRET",
                 "OAuthTokenKey": "TOKEN_KEY", "OAuthTokenSecret": "TOKEN_SECRET"}
        self.fake_environment = {"INKSEAL_FAKE_EXIT": str(exit_code),
                                 "INKSEAL_FAKE_AUTHENTICATOR_LOG": shown_path(self.authenticator_log),
                                 "INKSEAL_FAKE_DELAY_MS": str(delay_ms)}
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

    def _desktop_handler(self, script):
        """Makes script the desktop's default handler of http and https
        addresses, in the private data folder GIO reads."""
        applications = self.path("data", "applications")
        os.makedirs(applications, exist_ok=True)
        with open(os.path.join(applications, "inkseal-test-browser.desktop"), "w") as f:
            f.write(f"[Desktop Entry]\nType=Application\nName=Recording browser\nExec={script} %u\n"
                    "MimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n")
        with open(os.path.join(applications, "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\nx-scheme-handler/http=inkseal-test-browser.desktop\n"
                    "x-scheme-handler/https=inkseal-test-browser.desktop\n")

    def run(self, command_line, browser_fails=False, config_home=None, cwd=None, handler="desktop", xdg_open=True):
        """Starts the installed program with command_line as the text after
        its name, at most RUN_SECONDS, and returns what happened.  Natively
        the recording browser is $BROWSER, which xdg-open honours, and with
        handler "desktop" also the desktop's default for web addresses
        (GIO's); xdg_open False leaves xdg-open off the program's PATH."""
        if os.path.exists(self.browser_log):
            os.remove(self.browser_log)
        # The desktop's own handlers stay out: only the private data folder
        # is read, and xdg-open (also behind Wine's winebrowser) falls back
        # to $BROWSER, our recording script.
        env = {name: "" for name in ("WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                                     "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID")}
        env.update(self.user_environment)
        env.update(self.fake_environment)
        browser = self._browser_script(browser_fails)
        shutil.rmtree(self.path("data"), ignore_errors=True)
        env.update({"XDG_DATA_HOME": self.path("data"), "BROWSER": browser})
        if NATIVE:
            env.update({"XDG_DATA_DIRS": self.path("no-data"), "XDG_CONFIG_DIRS": self.path("no-config")})
            if handler == "desktop":
                self._desktop_handler(browser)
            if not xdg_open:
                env["PATH"] = self.path("no-programs")
        if config_home:
            env["XDG_CONFIG_HOME"] = config_home
        if NATIVE:
            # Split at every blank, as an unquoting shell would: the program
            # must join the arguments back into the very same text.
            env["DISPLAY"] = ""
            arguments = command_line.split(" ") if command_line else []
            result = e2e.run(self.program(), arguments, env=env, cwd=cwd or self.root,
                             timeout=RUN_SECONDS)
        else:
            raw = f'"{shown_path(self.program())}"' + (" " + command_line if command_line else "")
            result = e2e.run(self.program(), raw_command_line=raw, env=env, cwd=cwd or self.root,
                             timeout=RUN_SECONDS)
        messages = [(m.icon, m.text) for m in result.messages]
        # The shell accepted an address: the handler it started may record it
        # after the program has ended (GIO's, Wine's winebrowser).
        if result.exit_code == 0 and not messages:
            deadline = time.monotonic() + BROWSER_WAIT_SECONDS
            while not self._browsed() and time.monotonic() < deadline:
                time.sleep(0.1)
        return Outcome(result.exit_code, messages, self._browsed(),
                       result.stderr.decode("utf-8", "replace"))
