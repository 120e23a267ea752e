#!/usr/bin/env python3
"""The print road's latency through the queue: a 1 MiB PDF printed with `lp`
to the Inkseal queue of a CUPS daemon of this script's own, timed until the
job is "completed" (the page hand-off: the agent has the document whole and
on disk and has answered the backend).  Two agents take turns in one run,
each beside its own Ferrowend and Brantwick, so both figures come from the
same machine at the same moment.

    bench/printer/lp_handoff.py --before DIR [--after DIR] [--runs N]

DIR holds inkseal-agent, Ferrowend and Brantwick (--after defaults to this
build tree's bin folder).  Runs as root (CUPS runs the backend as root),
with the build tree of INKSEAL_BINARY_DIR (default build/native).  Not part
of the test run."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(SOURCE, "tests", "printer"), os.path.join(SOURCE, "tests", "e2e")]
os.environ.setdefault("INKSEAL_SOURCE_DIR", SOURCE)
os.environ.setdefault("INKSEAL_BINARY_DIR", os.path.join(SOURCE, "build", "native"))

import inkseal_e2e as e2e  # noqa: E402
from cups_sandbox import CupsSandbox  # noqa: E402
from stand_in_service import StandInService  # noqa: E402

PROGRAMS = ("inkseal-agent", "Ferrowend", "Brantwick")
MIB = 1 << 20
# The stand-in service's own test account: every upload is taken.
CREDENTIALS = ("[Parameters]\nOAuthClientKey=ck-ada\nOAuthClientSecret=cs-ada\nOAuthTokenKey=tk-ada\n"
               "OAuthTokenSecret=ts-ada\n")


def one_mib_pdf(path):
    """A valid PDF of exactly 1 MiB: one page, then a comment that pads it."""
    subprocess.run([sys.executable, os.path.join(SOURCE, "tools", "sample_pdf", "make_sample_pdf.py"), path,
                    "--title", "Benchmark"], check=True, timeout=60)
    with open(path, "rb") as f:
        head = f.read()
    end = head.rindex(b"%%EOF")
    padding = MIB - len(head) - 1
    body = head[:end] + b"%" + b"x" * (padding - 1) + b"\n" + head[end:]
    with open(path, "wb") as f:
        f.write(body)


def wait_for(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.01)
    raise TimeoutError("gave up waiting")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", default=os.path.join(e2e.BINARY_DIR, "bin"))
    parser.add_argument("--runs", type=int, default=10)
    options = parser.parse_args()
    with e2e.temporary_folder("inkseal-bench-") as root:
        os.chmod(root, 0o755)
        runtime_root = os.path.join(root, "run")
        runtime = os.path.join(runtime_root, str(os.getuid()))
        os.makedirs(runtime, mode=0o700)
        os.chmod(runtime_root, 0o755)
        config = os.path.join(root, "config")
        os.makedirs(os.path.join(config, "Lumesk"))
        with open(os.path.join(config, "Lumesk", "vod995.ini"), "w") as f:
            f.write(CREDENTIALS)
        document = os.path.join(root, "one-mib.pdf")
        one_mib_pdf(document)
        assert os.path.getsize(document) == MIB
        os.chmod(document, 0o644)
        browser = os.path.join(root, "browser.sh")
        with open(browser, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(browser, 0o755)
        service = StandInService()
        cups = CupsSandbox(runtime_root)
        try:
            folders = {}
            for name, source in (("before", options.before), ("after", options.after)):
                folders[name] = os.path.join(root, name)
                os.makedirs(folders[name])
                for program in PROGRAMS:
                    shutil.copy2(os.path.join(source, program), folders[name])
                with open(os.path.join(folders[name], "vod995.ini"), "w", newline="\r\n") as f:
                    f.write(f"[Parameters]\nLumeskURL={service.url}/upload\nCertificateAuthorities={service.ca_file}\n")
            no_desktop = os.path.join(root, "no-desktop")
            env = dict(cups.env, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=config, XDG_STATE_HOME=os.path.join(root, "state"),
                       XDG_DATA_HOME=no_desktop, XDG_DATA_DIRS=no_desktop, BROWSER=browser,
                       DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus", INKSEAL_MESSAGE_OUTPUT="stderr")
            times = {name: [] for name in folders}
            socket_path = os.path.join(runtime, "inkseal", "agent.socket")
            for turn in range(options.runs):
                for name, folder in folders.items():
                    with open(os.path.join(root, f"{name}.log"), "ab") as log:
                        agent = subprocess.Popen([os.path.join(folder, "inkseal-agent")], env=dict(os.environ, **env),
                                                 stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                                 start_new_session=True)
                    try:
                        wait_for(lambda: os.path.exists(socket_path))
                        time.sleep(1)  # the agent's own start (its first look at the spool) is not timed
                        started = time.monotonic()
                        job = cups.print_file(document, f"{name} {turn}")
                        wait_for(lambda: cups.job_state(job) == "completed")
                        times[name].append(time.monotonic() - started)
                        time.sleep(1)  # Ferrowend's upload ends before the next turn
                    finally:
                        agent.kill()
                        agent.wait(10)
                        shutil.rmtree(os.path.join(runtime, "inkseal"), ignore_errors=True)
            for name, values in times.items():
                print(f"{name:6}: median {statistics.median(values) * 1000:7.1f} ms, "
                      f"mean {statistics.mean(values) * 1000:7.1f} ms, min {min(values) * 1000:7.1f} ms "
                      f"over {len(values)} prints of a 1 MiB PDF")
            for name in folders:
                with open(os.path.join(root, f"{name}.log"), encoding="utf-8", errors="replace") as f:
                    log = f.read()
                print(f"{name:6}: Ferrowend uploaded {log.count('Ferrowend ended with 0 ')} of {options.runs}")
            ratio = statistics.median(times["after"]) / statistics.median(times["before"])
            print(f"after/before (medians): {ratio:.2f}")
        finally:
            cups.stop()
            service.stop()


if __name__ == "__main__":
    main()
