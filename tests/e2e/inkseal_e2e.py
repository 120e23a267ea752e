"""Shared harness of the end-to-end tests (Python 3 standard library only).

It starts a built program of this build tree, reads every message the
program shows, in order and exactly, and returns them with the exit code:

- natively the program runs with INKSEAL_MESSAGE_OUTPUT=stderr, and each
  message is the block "[Inkseal] error|information\\n<text>\\n[OK]\\n" that
  it writes on standard error instead of a dialog;
- under Wine (INKSEAL_PLATFORM=windows) the program runs through
  tools/wine-run.sh and, while it runs, the UI probe (tools/ui_probe) is run
  again and again with "message 500": each call reads one box's icon and
  text and presses OK.

Everything has a time limit: a program that does not end in time is killed
with all its processes and TimeoutError is raised, so a test fails instead
of hanging.

Environment (set by ctest): INKSEAL_PLATFORM (native|windows),
INKSEAL_BINARY_DIR, INKSEAL_SOURCE_DIR.

Main entry points:
    program_path(name)              the built program (".exe" under Wine)
    run(program, args, ...)         -> Result(exit_code, messages, stdout, stderr)
    start(program, args, ...)       -> Running, for tests that drive windows
    program_path_text(path)         a host path as the program names it
    user_folder()                   context: a private per-user settings folder
    description(code)               the platform's text for an error number

Exact command lines: run(..., raw_command_line=text).  Under Wine the UI
probe's "launch" command starts the program with CreateProcessW and exactly
that command line (program name included).  Natively there is no command
line, only arguments: the text after the program name (split off by the
Windows rule: up to the first blank outside quotes, then blanks skipped)
is passed as one argument, or none when it is empty.

Exit codes are the low 8 bits, as a Linux parent sees them on both platforms
(so an exit code of -1 reads 255).
"""

import collections
import contextlib
import errno
import getpass
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

PLATFORM = os.environ.get("INKSEAL_PLATFORM", "native")
NATIVE = PLATFORM == "native"
WINDOWS = not NATIVE
SOURCE_DIR = os.environ.get(
    "INKSEAL_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BINARY_DIR = os.environ.get("INKSEAL_BINARY_DIR", os.path.join(SOURCE_DIR, "build", PLATFORM))
EXE = ".exe" if WINDOWS else ""
WINE_RUN = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")

DEFAULT_TIMEOUT = 60
PROBE_WAIT_MS = 500          # how long one probe call waits for a box
PROBE_TIMEOUT = 30           # a probe call that takes longer than this is stuck
PROBE_NO_WINDOW = 3
PROBE_END_GRACE = 5         # how long a failed probe waits to see the program end
KILL_GRACE = 10

# Error numbers the programs set themselves, each in its platform's domain.
ERROR_NUMBERS = {                        # (POSIX errno, Windows)
    "path_not_found": (errno.ENOENT, 3),
    "invalid_data": (errno.EBADMSG, 13),
    "invalid_parameter": (errno.EINVAL, 87),
    "insufficient_buffer": (errno.ENOBUFS, 122),
    "already_exists": (errno.EEXIST, 183),
    "file_too_large": (errno.EFBIG, 223),
    "no_unicode_translation": (errno.EILSEQ, 1113),
}


def error_number(name):
    posix, windows = ERROR_NUMBERS[name]
    return windows if WINDOWS else posix


Message = collections.namedtuple("Message", "icon text")   # icon: "error" | "information"
Result = collections.namedtuple("Result", "exit_code messages stdout stderr")


class HarnessError(RuntimeError):
    """The harness itself could not do its job (not a failure of the program)."""


# --- paths ---------------------------------------------------------------

def program_path(name):
    """The built program called name (without extension)."""
    file_name = name + EXE
    for candidate in (os.path.join(BINARY_DIR, "bin", file_name),
                      os.path.join(BINARY_DIR, "tools", name, file_name),
                      os.path.join(BINARY_DIR, name.lower(), file_name)):
        if os.path.isfile(candidate):
            return candidate
    for root, dirs, files in os.walk(BINARY_DIR):
        dirs[:] = [d for d in dirs if d not in ("wineprefix", "CMakeFiles", "googletest")]
        if file_name in files:
            return os.path.join(root, file_name)
    raise HarnessError(f"{file_name} is not built in {BINARY_DIR}")


def wine_path(path):
    """A Linux path as Windows programs under Wine see it: drive C: is the
    prefix's drive_c, drive Z: is /."""
    path = os.path.abspath(path)
    drive_c = os.path.join(wine_prefix(), "drive_c")
    if path == drive_c or path.startswith(drive_c + os.sep):
        return "C:" + (path[len(drive_c):] or "/").replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def program_path_text(path):
    """A host path as the program under test names it in its messages."""
    return wine_path(path) if WINDOWS else os.path.abspath(path)


def wine_prefix():
    if os.environ.get("INKSEAL_WINEPREFIX"):   # a test's own prefix, as tools/wine-run.sh takes it
        return os.environ["INKSEAL_WINEPREFIX"]
    return os.path.join(BINARY_DIR, "wineprefix")


def wine_appdata_folder():
    """The roaming application-data folder of the Wine prefix, as a Linux path."""
    return os.path.join(wine_prefix(), "drive_c", "users", getpass.getuser(), "AppData", "Roaming")


@contextlib.contextmanager
def temporary_folder(prefix="inkseal-e2e-"):
    folder = tempfile.mkdtemp(prefix=prefix)
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


@contextlib.contextmanager
def user_folder():
    """A private per-user settings folder for one test.  Yields
    (environment, lumesk_folder): pass environment to run(); lumesk_folder
    is the Linux path of the "Lumesk" folder the programs use.  Natively it
    lies in a fresh XDG_CONFIG_HOME; under Wine the prefix's own folder is
    set aside for the test and put back afterwards."""
    if NATIVE:
        with temporary_folder("inkseal-config-") as config:
            yield {"XDG_CONFIG_HOME": config}, os.path.join(config, "Lumesk")
        return
    lumesk = os.path.join(wine_appdata_folder(), "Lumesk")
    saved = lumesk + f".saved-{os.getpid()}"
    had_folder = os.path.lexists(lumesk)
    if had_folder:
        os.rename(lumesk, saved)
    try:
        yield {}, lumesk
    finally:
        if os.path.isdir(lumesk) and not os.path.islink(lumesk):
            shutil.rmtree(lumesk, ignore_errors=True)
        elif os.path.lexists(lumesk):
            os.remove(lumesk)
        if had_folder:
            os.rename(saved, lumesk)


def description(code, http=False):
    """The platform's description of an error number, exactly as the
    programs append it (empty when there is none)."""
    command = "describe-http" if http else "describe"
    result = run(program_path("show_message"), [command, str(code)])
    if result.exit_code != 0 or result.messages:
        raise HarnessError(f"show_message {command} {code} failed: {result}")
    return result.stdout.decode("utf-8")


# --- running programs -------------------------------------------------------

def split_program_name(command_line):
    """The text after the program name, by the Windows rule: the name runs
    to the first character of code 32 or below outside double quotes, then
    every such character is skipped."""
    i = 0
    quoted = False
    while i < len(command_line) and (quoted or ord(command_line[i]) > 32):
        if command_line[i] == '"':
            quoted = not quoted
        i += 1
    while i < len(command_line) and ord(command_line[i]) <= 32:
        i += 1
    return command_line[i:]


_MESSAGE_BLOCK = re.compile(r"\[Inkseal\] (error|information)\n(.*?)\n\[OK\]\n", re.S)


def parse_message_blocks(text):
    """The messages in a native program's standard error, in order."""
    return [Message(icon, body) for icon, body in _MESSAGE_BLOCK.findall(text)]


def _kill_group(process):
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(process.pid, signal.SIGKILL)
    with contextlib.suppress(subprocess.TimeoutExpired):
        process.wait(KILL_GRACE)


def _probe_command(*arguments):
    return [WINE_RUN, program_path("ui_probe")] + [str(a) for a in arguments]


def _wine_environment(extra):
    env = dict(os.environ)
    env["INKSEAL_BINARY_DIR"] = BINARY_DIR
    env.update(extra or {})
    if "DISPLAY" not in env:
        raise HarnessError("Windows programs need a display (DISPLAY is not set)")
    return env


def probe(*arguments, env=None, timeout=PROBE_TIMEOUT):
    """Runs the UI probe once (Windows only); returns the CompletedProcess.
    The probe is killed and HarnessError raised when it takes too long.
    Its output goes through files, not pipes: a wineserver started by the
    probe inherits them and would hold a pipe open long after the probe."""
    if not WINDOWS:
        raise HarnessError("the UI probe exists only for the Windows build")
    with tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
        process = subprocess.Popen(_probe_command(*arguments), env=_wine_environment(env), cwd=BINARY_DIR,
                                   stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                   start_new_session=True)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            _kill_group(process)
            raise HarnessError(f"the UI probe {arguments} did not end within {timeout} s")
        stdout.seek(0)
        stderr.seek(0)
        return subprocess.CompletedProcess(process.args, process.returncode, stdout.read(), stderr.read())


class Running:
    """A started program.  finish() collects its messages and waits for it;
    tests that drive other windows can call probe() while it runs."""

    def __init__(self, program, args=(), raw_command_line=None, env=None, cwd=None, timeout=DEFAULT_TIMEOUT):
        self.deadline = time.monotonic() + timeout
        self.timeout = timeout
        self.env = env or {}
        self.messages = []
        self._folder = tempfile.mkdtemp(prefix="inkseal-run-")
        self._stdout = open(os.path.join(self._folder, "stdout"), "w+b")
        self._stderr = open(os.path.join(self._folder, "stderr"), "w+b")
        command, full_env = self._command(program, list(args), raw_command_line)
        self.process = subprocess.Popen(command, env=full_env, cwd=cwd or self._folder,
                                        stdin=subprocess.DEVNULL, stdout=self._stdout, stderr=self._stderr,
                                        start_new_session=True)

    def _command(self, program, args, raw_command_line):
        if NATIVE:
            env = dict(os.environ)
            env.update(self.env)
            env["INKSEAL_MESSAGE_OUTPUT"] = "stderr"
            if raw_command_line is not None:
                tail = split_program_name(raw_command_line)
                args = [tail] if tail else []
            return [program] + args, env
        env = _wine_environment(self.env)
        if raw_command_line is not None:
            line_file = os.path.join(self._folder, "command_line")
            with open(line_file, "wb") as f:
                f.write(raw_command_line.encode("utf-8"))
            return _probe_command("launch", wine_path(program), wine_path(line_file)), env
        return [WINE_RUN, program] + args, env

    def running(self):
        return self.process.poll() is None

    def remaining(self):
        return self.deadline - time.monotonic()

    def probe(self, *arguments, timeout=PROBE_TIMEOUT):
        return probe(*arguments, env=self.env, timeout=max(1, min(timeout, self.remaining() + KILL_GRACE)))

    def read_message(self, wait_ms=PROBE_WAIT_MS):
        """Under Wine: reads and closes the box on screen, if one comes within
        wait_ms; returns the Message or None.  Natively messages never wait,
        and are all collected by finish()."""
        if NATIVE:
            return None
        result = self.probe("message", wait_ms)
        if result.returncode == PROBE_NO_WINDOW:
            return None
        if result.returncode != 0:
            raise HarnessError(f"the UI probe failed ({result.returncode}): {result.stderr!r}")
        first_line, _, text = result.stdout.decode("utf-8").partition("\n")
        message = Message(first_line[len("icon="):], text)
        self.messages.append(message)
        return message

    def kill(self):
        _kill_group(self.process)

    def finish(self):
        """Waits for the program, reading every box it shows; returns Result."""
        try:
            while self.running():
                if self.remaining() <= 0:
                    raise TimeoutError(f"{self.process.args} did not end within {self.timeout} s; "
                                       f"messages so far: {self.messages!r}")
                if NATIVE:
                    with contextlib.suppress(subprocess.TimeoutExpired):
                        self.process.wait(min(0.2, max(self.remaining(), 0.01)))
                else:
                    try:
                        self.read_message()
                    except HarnessError:
                        # A probe started just as the program ends can fail
                        # to start at all (exit 1, nothing said) while Wine
                        # tears the process down; a program that has ended
                        # shows no more boxes, one still running is a fault.
                        with contextlib.suppress(subprocess.TimeoutExpired):
                            self.process.wait(min(PROBE_END_GRACE, max(self.remaining(), 0.01)))
                        if self.running():
                            raise
        finally:
            if self.running():
                self.kill()
        stdout, stderr = self._outputs()
        if NATIVE:
            self.messages = parse_message_blocks(stderr.decode("utf-8", "replace"))
        return Result(self.process.returncode & 0xFF, list(self.messages), stdout, stderr)

    def _outputs(self):
        outputs = []
        for f in (self._stdout, self._stderr):
            f.flush()
            f.seek(0)
            outputs.append(f.read())
        return outputs

    def close(self):
        if self.running():
            self.kill()
        self._stdout.close()
        self._stderr.close()
        shutil.rmtree(self._folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def start(program, args=(), raw_command_line=None, env=None, cwd=None, timeout=DEFAULT_TIMEOUT):
    """Starts program; use as a context manager so it is always cleaned up."""
    return Running(program, args, raw_command_line, env, cwd, timeout)


def run(program, args=(), raw_command_line=None, env=None, cwd=None, timeout=DEFAULT_TIMEOUT):
    """Runs program to its end (at most timeout seconds), closing and
    recording every message it shows.  Returns Result."""
    with start(program, args, raw_command_line, env, cwd, timeout) as running:
        return running.finish()
