#!/usr/bin/python3
"""Takes the pictures of the login dialog and of a message box in docs/ from
the programs as they are built now, on both platforms:

    tools/screenshots/take_screenshots.py [output folder]     (default: docs)
    tools/screenshots/take_screenshots.py --platform native|windows <folder>

It needs build/native and build/windows (Brantwick, and for Windows the UI
probe and trust_authority), starts an Xvfb display of its own without a
window manager, logs in to the stand-in service as the two-factor user and
captures, for each platform: the dialog with the email and password typed
(login-<platform>.png), the box that asks for the code (message-<platform>.png)
and the dialog in its two-factor form (login-<platform>-two-factor.png).
With --platform it takes only that platform's pictures, from the build that
INKSEAL_BINARY_DIR names (default build/<platform>), on the display that
DISPLAY names; tests/docs/test_pictures.py compares them with docs/.

Debian's python3 by path: the capture uses GDK through PyGObject.
"""

import argparse
import contextlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PLATFORMS = {"native": "linux", "windows": "windows"}
EMAIL, PASSWORD = "grace@inkseal.test", "cobol"
SCREEN = "1280x1024x24"
PLATFORM_TIMEOUT = 300
STEP_TIMEOUT = 30
# The text caret blinks: of a few frames the darkest is the one that shows it,
# so two runs over the same dialog give the same picture.
CARET_FRAMES, CARET_FRAME_GAP = 8, 0.15


# --- the display ------------------------------------------------------------

@contextlib.contextmanager
def own_display():
    free = [n for n in range(130, 191) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
            and not os.path.exists(f"/tmp/.X{n}-lock")]
    if not free:
        raise SystemExit("take_screenshots: no free display between :130 and :190")
    display = f":{random.choice(free)}"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", SCREEN, "-nolisten", "tcp", "-noreset"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + STEP_TIMEOUT
        while not os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"):
            if xvfb.poll() is not None or time.monotonic() > deadline:
                raise SystemExit(f"take_screenshots: Xvfb {display} did not start")
            time.sleep(0.1)
        yield display
    finally:
        xvfb.terminate()
        with contextlib.suppress(subprocess.TimeoutExpired):
            xvfb.wait(10)
        if xvfb.poll() is None:
            xvfb.kill()


def xdotool(*arguments):
    return subprocess.run(["xdotool"] + [str(a) for a in arguments], capture_output=True, text=True,
                          timeout=STEP_TIMEOUT).stdout


def inkseal_windows():
    return set(xdotool("search", "--onlyvisible", "--name", "^Inkseal$").split())


def wait_for_new_window(known):
    """The first visible "Inkseal" window that is not among known."""
    deadline = time.monotonic() + STEP_TIMEOUT
    while time.monotonic() < deadline:
        new = inkseal_windows() - known
        if new:
            time.sleep(0.5)  # let it draw
            return max(new, key=int)
        time.sleep(0.1)
    raise SystemExit("take_screenshots: no new window came")


def capture(window, path):
    import gi
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk
    geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
    x, y, width, height = (int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    Gdk.init([])
    root = Gdk.get_default_root_window()
    frames = []
    for _ in range(CARET_FRAMES):
        frame = Gdk.pixbuf_get_from_window(root, x, y, width, height)
        frames.append((sum(frame.get_pixels()), len(frames), frame))
        time.sleep(CARET_FRAME_GAP)
    min(frames)[2].savev(path, "png", [], [])
    print(f"  {os.path.relpath(path, SOURCE_DIR)}: {width}x{height}")


# --- one platform -----------------------------------------------------------

class NativeRun:
    """Brantwick started with its boxes on the screen (the harness sends
    them to standard error), as far as LoginDialog needs it."""

    def __init__(self, program, env):
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([program], env=dict(os.environ, **env), stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self._stderr, start_new_session=True)

    def running(self):
        return self.process.poll() is None

    def _outputs(self):
        self._stderr.seek(0)
        return b"", self._stderr.read()

    def close(self):
        if self.running():
            self.process.kill()
        self.process.wait(10)
        self._stderr.close()


def take_platform(output):
    sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
    import inkseal_e2e as e2e
    from login_dialog import CODE, CODE_LABEL, LOG_IN, CANCEL, LoginDialog, StandInService

    name = PLATFORMS[e2e.PLATFORM]
    service = StandInService()
    install = tempfile.mkdtemp(prefix="inkseal-screenshots-")
    try:
        program = shutil.copy2(e2e.program_path("Brantwick"), install)
        with open(os.path.join(install, "vod995.ini"), "w", newline="\r\n") as f:
            f.write("[Parameters]\n" + "".join(f"{k}={v}\n" for k, v in service.trust_settings().items()))
        with contextlib.ExitStack() as stack:
            env, _ = stack.enter_context(e2e.user_folder())
            env["INKSEAL_SERVICE_HOST"] = service.host
            if e2e.NATIVE:
                running = NativeRun(program, env)
                stack.callback(running.close)
            else:
                running = stack.enter_context(e2e.start(program, env=env, timeout=PLATFORM_TIMEOUT))
            dialog = LoginDialog(running)
            dialog.wait_shown()
            time.sleep(0.5)
            (dialog_window,) = inkseal_windows()
            dialog.fill_credentials(EMAIL, PASSWORD)
            time.sleep(0.5)
            capture(dialog_window, os.path.join(output, f"login-{name}.png"))

            dialog.click_log_in()
            box = wait_for_new_window({dialog_window})
            capture(box, os.path.join(output, f"message-{name}.png"))
            if e2e.NATIVE:
                xdotool("windowfocus", "--sync", box)
                xdotool("key", "Return")
            else:
                dialog.read_message()  # reads and closes it
            if e2e.WINDOWS:
                dialog.visible_controls_settled([CODE_LABEL, CODE, LOG_IN, CANCEL])
            deadline = time.monotonic() + STEP_TIMEOUT
            while inkseal_windows() != {dialog_window}:
                if time.monotonic() > deadline:
                    raise SystemExit("take_screenshots: the box did not close")
                time.sleep(0.1)
            time.sleep(1)
            capture(dialog_window, os.path.join(output, f"login-{name}-two-factor.png"))
            dialog.escape()
    finally:
        service.stop()
        shutil.rmtree(install, ignore_errors=True)


# --- all of it --------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", nargs="?", default=os.path.join(SOURCE_DIR, "docs"))
    parser.add_argument("--platform", choices=sorted(PLATFORMS),
                        help="only this platform's pictures, on the display DISPLAY names (the tests' way)")
    arguments = parser.parse_args()
    output = os.path.abspath(arguments.output)
    if arguments.platform:
        # The harness reads its platform and folders as it is imported.
        os.environ["INKSEAL_PLATFORM"] = arguments.platform
        os.environ.setdefault("INKSEAL_SOURCE_DIR", SOURCE_DIR)
        os.makedirs(output, exist_ok=True)
        take_platform(output)
        return
    os.makedirs(output, exist_ok=True)
    wine_run = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")
    with own_display() as display:
        for platform in PLATFORMS:
            binary_dir = os.path.join(SOURCE_DIR, "build", platform)
            env = dict(os.environ, DISPLAY=display, INKSEAL_PLATFORM=platform, INKSEAL_SOURCE_DIR=SOURCE_DIR,
                       INKSEAL_BINARY_DIR=binary_dir, PYTHONDONTWRITEBYTECODE="1")
            print(f"{platform}:")
            if platform == "windows":
                subprocess.run([wine_run, "--init"], env=env, check=True, timeout=PLATFORM_TIMEOUT)
            try:
                subprocess.run([sys.executable, os.path.abspath(__file__), "--platform", platform, output],
                               env=env, check=True, timeout=PLATFORM_TIMEOUT)
            finally:
                if platform == "windows":
                    subprocess.run([wine_run, "--kill"], env=env, timeout=STEP_TIMEOUT)


if __name__ == "__main__":
    main()
