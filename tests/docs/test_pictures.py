"""The pictures of the dialogs in docs/ show them as they are: this build's
Brantwick, driven as tools/screenshots/take_screenshots.py drives it, must
draw every picture of this platform pixel for pixel.  When a dialog or a box
changes on purpose, take the pictures again with that script and commit them.
"""

import os
import subprocess
import sys
import tempfile
import unittest

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

SOURCE_DIR = os.environ["INKSEAL_SOURCE_DIR"]
PLATFORM = os.environ["INKSEAL_PLATFORM"]
NAME = {"native": "linux", "windows": "windows"}[PLATFORM]
PICTURES = [f"login-{NAME}.png", f"message-{NAME}.png", f"login-{NAME}-two-factor.png"]
SCRIPT = os.path.join(SOURCE_DIR, "tools", "screenshots", "take_screenshots.py")
TIMEOUT = 140


def pixels(path):
    """(width, height, RGB rows) of a PNG, whatever its encoder's row padding."""
    picture = GdkPixbuf.Pixbuf.new_from_file(path)
    width, height, stride, channels = (picture.get_width(), picture.get_height(),
                                       picture.get_rowstride(), picture.get_n_channels())
    data = picture.get_pixels()
    rows = []
    for y in range(height):
        row = data[y * stride:y * stride + width * channels]
        rows.append(row if channels == 3 else bytes(b for i, b in enumerate(row) if i % 4 != 3))
    return width, height, rows


class Pictures(unittest.TestCase):
    def test_pictures_show_the_dialogs_as_they_are(self):
        self.assertIn("DISPLAY", os.environ, "the pictures are taken on a display")
        with tempfile.TemporaryDirectory(prefix="inkseal-pictures-") as taken:
            # A second try when the script itself fails (a window manager's
            # or Wine's hiccup): that says nothing about the pictures.
            for _ in range(2):
                result = subprocess.run([sys.executable, SCRIPT, "--platform", PLATFORM, taken],
                                        capture_output=True, text=True, timeout=TIMEOUT)
                if result.returncode == 0:
                    break
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            stale = []
            for picture in PICTURES:
                now, committed = pixels(os.path.join(taken, picture)), pixels(os.path.join(SOURCE_DIR, "docs", picture))
                if now != committed:
                    stale.append(f"{picture}: {now[0]}x{now[1]} now, {committed[0]}x{committed[1]} in docs/, "
                                 f"{sum(a != b for a, b in zip(now[2], committed[2]))} rows differ")
        self.assertEqual(stale, [], "run tools/screenshots/take_screenshots.py and commit the pictures")


if __name__ == "__main__":
    unittest.main()
