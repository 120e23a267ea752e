#!/usr/bin/env python3
"""The queue's description lays out what cups-filters turns into PDF with
ordinary margins: a text job and a page-filling image, each run through the
filter CUPS would use with the installed PPD, leave the margins white."""

import os
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ["INKSEAL_SOURCE_DIR"]
PPD = os.path.join(SOURCE_DIR, "printer", "inkseal.ppd")
FILTERS = "/usr/lib/cups/filter"
TIMEOUT = 60
DPI = 36                      # two points a pixel
MARGINS = (18, 36, 18, 36)    # left, top, right, bottom, in points


def ink_box(pdf, folder):
    """Left, top, right and bottom of everything not white on page 1, in
    points from each edge."""
    subprocess.run(["pdftoppm", "-r", str(DPI), "-gray", "-f", "1", "-l", "1", pdf, os.path.join(folder, "page")],
                   check=True, timeout=TIMEOUT)
    with open(os.path.join(folder, "page-1.pgm"), "rb") as f:
        _, width, height, _, pixels = f.read().split(maxsplit=4)
    width, height = int(width), int(height)
    inked = [(i % width, i // width) for i, value in enumerate(pixels[:width * height]) if value < 128]
    xs, ys = [x for x, _ in inked], [y for _, y in inked]
    scale = 72 / DPI
    return (min(xs) * scale, min(ys) * scale, (width - 1 - max(xs)) * scale, (height - 1 - max(ys)) * scale)


class MarginsTest(unittest.TestCase):
    def test_text_and_images_keep_the_margins(self):
        with tempfile.TemporaryDirectory() as folder:
            text = os.path.join(folder, "job.txt")
            with open(text, "w") as f:
                f.write("A line long enough to run towards the right edge of the sheet if nothing stopped it. " * 3)
                f.write("\n" * 80 + "the last line\n")
            image = os.path.join(folder, "job.ppm")
            with open(image, "wb") as f:
                f.write(b"P6 64 64 255\n" + b"\0" * 3 * 64 * 64)
            for source, kind, options in ((text, "texttopdf", ""), (image, "imagetopdf", "fit-to-page")):
                with self.subTest(kind=kind):
                    pdf = os.path.join(folder, kind + ".pdf")
                    with open(pdf, "wb") as out:
                        subprocess.run([os.path.join(FILTERS, kind), "1", "ada", "job", "1", options, source],
                                       env=dict(os.environ, PPD=PPD), stdout=out, stderr=subprocess.DEVNULL,
                                       check=True, timeout=TIMEOUT)
                    box = ink_box(pdf, folder)
                    for side, margin, limit in zip(("left", "top", "right", "bottom"), box, MARGINS):
                        self.assertGreaterEqual(margin, limit - 2, f"{kind}: {side} margin {margin} pt")


if __name__ == "__main__":
    unittest.main()
