"""The README and the guides in docs/ work from a fresh clone: every relative
link reaches a file of the repository (and a heading, when it names one), and
every command the README tells its reader to run is there to run.

A command is a line of a code block, or an inline code span that starts with
"sudo " or "bash " or names a script of the repository.  Its program is
checked by kind: a script of the repository must exist and be executable; a
program the packages install under /usr/lib/inkseal must have an install
rule that puts it there; a Windows program must be one the build makes; any
other program must be found on PATH (scripts/install-deps.sh installs the
system's, and runs before the tests).
"""

import glob
import os
import re
import shlex
import shutil
import subprocess
import unittest

SOURCE_DIR = os.environ.get("INKSEAL_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
README = os.path.join(SOURCE_DIR, "README.md")
PAGES = [README] + sorted(glob.glob(os.path.join(SOURCE_DIR, "docs", "*.md")))
INSTALLED_FOLDER = "/usr/lib/inkseal/"
# Windows' own commands, which no Linux machine has.
WINDOWS_COMMANDS = {"msiexec", "del"}

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
INLINE_CODE = re.compile(r"`([^`]+)`")
FENCE = re.compile(r"^\s*(```|~~~)")


def tracked_files():
    """The files a fresh clone has, or None outside a git checkout (a copy
    without history), where only what is on disk can be checked."""
    try:
        listing = subprocess.run(["git", "-C", SOURCE_DIR, "ls-files", "-z"], capture_output=True,
                                 timeout=30, check=True).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    return {os.path.join(SOURCE_DIR, name) for name in listing.decode("utf-8").split("\0") if name}


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def split_page(text):
    """(prose lines, code block lines): fenced blocks and indented blocks
    that follow a blank line are code; list items' continuation lines are not."""
    prose, code = [], []
    in_fence = in_indented = False
    previous_blank = True
    for line in text.splitlines():
        if FENCE.match(line):
            in_fence = not in_fence
            previous_blank = False
            continue
        if in_fence:
            code.append(line)
            continue
        blank = not line.strip()
        if line.startswith("    ") and (in_indented or previous_blank) and not blank:
            in_indented = True
            code.append(line.strip())
        else:
            if not blank:
                in_indented = False
            prose.append(line)
        previous_blank = blank
    return prose, code


def anchor(heading):
    """The anchor GitHub makes of a heading."""
    text = re.sub(r"[`*_]", "", heading.strip().lower())
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    seen = {}
    result = set()
    for line in split_page(read(path))[0]:
        match = re.match(r"#{1,6}\s+(.*)", line)
        if not match:
            continue
        base = anchor(match.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else f"{base}-{count}")
    return result


def commands(path):
    prose, code = split_page(read(path))
    found = [line for line in code if not line.startswith("#")]
    for span in INLINE_CODE.findall("\n".join(prose)):
        span = " ".join(span.split())
        if re.match(r"(sudo|bash) ", span) or re.match(r"(scripts|tools|\.ci)/", span):
            found.append(span)
    return found


def program_of(command):
    """The program a command line starts, past variable assignments and sudo."""
    words = shlex.split(command.replace("\\", "\\\\"))
    while words and (re.match(r"[A-Za-z_][A-Za-z0-9_]*=", words[0]) or words[0] == "sudo"):
        words.pop(0)
    if words and words[0] == "bash" and len(words) > 1:
        return words[1], True
    return (words[0] if words else ""), False


def cmake_sources():
    """The text of every CMakeLists.txt of the source tree; the build folders
    (a Wine prefix links to / from there) and hidden folders stay out."""
    texts = []
    for folder, subfolders, files in os.walk(SOURCE_DIR):
        subfolders[:] = [d for d in subfolders if not d.startswith(".") and
                         not (folder == SOURCE_DIR and d == "build")]
        if "CMakeLists.txt" in files:
            texts.append(read(os.path.join(folder, "CMakeLists.txt")))
    return texts


def install_rule_puts(name, folder):
    pattern = re.compile(r"install\((TARGETS|PROGRAMS)\s+" + re.escape(name) +
                         r"\b[^)]*DESTINATION\s+" + re.escape(folder) + r"\b")
    return any(pattern.search(text) for text in cmake_sources())


def executable_target(name):
    pattern = re.compile(r"add_executable\(\s*" + re.escape(name) + r"\b")
    return any(pattern.search(text) for text in cmake_sources())


def problem_with(program, through_bash):
    windows_path = re.match(r"[A-Za-z]:\\", program)
    if windows_path or program in WINDOWS_COMMANDS:
        name = re.sub(r"\.exe$", "", program.split("\\")[-1], flags=re.I)
        if windows_path and not executable_target(name):
            return f"{program}: the build makes no program {name}"
        return None
    if program.startswith(INSTALLED_FOLDER):
        if not install_rule_puts(os.path.basename(program), "lib/inkseal"):
            return f"{program}: no install rule puts it into {INSTALLED_FOLDER}"
        return None
    if "/" in program and not program.startswith(("/", "~")):
        path = os.path.join(SOURCE_DIR, program)
        if not os.path.isfile(path):
            return f"{program}: no such file in the repository"
        if not through_bash and not os.access(path, os.X_OK):
            return f"{program}: not executable"
        if through_bash and not os.access(path, os.X_OK):
            return f"{program}: not executable (the scripts are also run directly)"
        return None
    if program.startswith("/"):
        return None if os.access(program, os.X_OK) else f"{program}: not on this system"
    return None if shutil.which(program) else f"{program}: not found on PATH"


class Links(unittest.TestCase):
    def test_relative_links_reach_files_and_headings(self):
        problems = []
        tracked = tracked_files()
        for page in PAGES:
            for line in split_page(read(page))[0]:
                for target in LINK.findall(line):
                    if re.match(r"[a-z]+:", target):
                        continue
                    file_part, _, fragment = target.partition("#")
                    linked = os.path.normpath(os.path.join(os.path.dirname(page), file_part)) if file_part else page
                    where = f"{os.path.relpath(page, SOURCE_DIR)}: {target}"
                    if not linked.startswith(SOURCE_DIR + os.sep) or not os.path.exists(linked):
                        problems.append(f"{where}: no such file")
                    elif tracked is not None and os.path.isfile(linked) and linked not in tracked:
                        problems.append(f"{where}: not in the repository (a fresh clone lacks it)")
                    elif fragment and (not linked.endswith(".md") or fragment not in anchors(linked)):
                        problems.append(f"{where}: no such heading")
        self.assertEqual(problems, [])

    def test_every_guide_is_linked_from_the_readme(self):
        linked = {os.path.normpath(os.path.join(SOURCE_DIR, t.partition("#")[0]))
                  for t in LINK.findall(read(README))}
        self.assertEqual([p for p in PAGES[1:] if p not in linked], [])


class Commands(unittest.TestCase):
    def test_readme_commands_exist(self):
        found = commands(README)
        self.assertIn("bash scripts/test.sh", found)
        problems = [p for p in (problem_with(*program_of(c)) for c in found) if p]
        self.assertEqual(problems, [])

    def test_ci_runs_the_test_command(self):
        ci = os.path.join(SOURCE_DIR, ".ci", "run")
        self.assertTrue(os.access(ci, os.X_OK))
        self.assertRegex(read(ci), r"(?m)^exec bash scripts/test\.sh\s*$")


class Checker(unittest.TestCase):
    """The checker's own rules, on cases the pages do not hold today."""

    def test_anchors_follow_github(self):
        self.assertEqual(anchor("Debian and Ubuntu: the .deb"), "debian-and-ubuntu-the-deb")
        self.assertEqual(anchor("Signing in and out"), "signing-in-and-out")
        self.assertEqual(anchor("The `Launch` key"), "the-launch-key")

    def test_problems_are_found(self):
        self.assertIsNotNone(problem_with("scripts/no-such.sh", True))
        self.assertIsNotNone(problem_with("README.md", False))       # there, but not executable
        self.assertIsNotNone(problem_with("/usr/lib/inkseal/inkseal-nothing", False))
        self.assertIsNotNone(problem_with("no-such-command-inkseal", False))
        self.assertIsNone(problem_with("/usr/lib/inkseal/inkseal-queue", False))
        self.assertIsNotNone(problem_with("C:\\Program Files\\Inkseal\\Nothing.exe", False))
        self.assertEqual(program_of('INKSEAL_X=1 Y="$(cat f)" sudo bash scripts/package.sh'),
                         ("scripts/package.sh", True))

    def test_code_blocks_are_told_from_prose(self):
        prose, code = split_page("Text\n\n    cmd one\n    cmd two\nmore\n- item\n  continued\n```\nfenced\n```\n")
        self.assertEqual(code, ["cmd one", "cmd two", "fenced"])
        self.assertIn("more", prose)


if __name__ == "__main__":
    unittest.main()
