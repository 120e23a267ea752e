#!/usr/bin/env python3
"""Runs one test program while the stand-in signature service listens on
loopback, telling the program where through INKSEAL_TEST_SERVICE
(host:port) and which authority issued its certificate through
INKSEAL_TEST_SERVICE_CA (a PEM file).  Both are stopped and the service's files removed afterwards,
whatever happens; the program gets a time limit.

    with_stand_in_service.py TIMEOUT_SECONDS COMMAND [ARG...]
"""
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVICE = os.path.join(SOURCE_DIR, "tools", "stand_in_service", "service.py")
START_TIMEOUT = 30


def wait_for_ready(service):
    """The service's address from its READY line, or None."""
    import selectors
    selector = selectors.DefaultSelector()
    selector.register(service.stdout, selectors.EVENT_READ)
    if not selector.select(START_TIMEOUT):
        return None
    line = service.stdout.readline().strip()
    return line[len("READY https://"):] if line.startswith("READY https://") else None


def main():
    timeout = float(sys.argv[1])
    command = sys.argv[2:]
    state = tempfile.mkdtemp(prefix="inkseal-token-")
    service = subprocess.Popen([sys.executable, SERVICE, "--port", "0", "--state-dir", state],
                               stdout=subprocess.PIPE, text=True)
    try:
        address = wait_for_ready(service)
        if address is None:
            print("stand-in service did not start", file=sys.stderr)
            return 1
        authority = os.path.join(state, "ca.crt")
        if command[0].endswith("wine-run.sh"):
            # Windows takes a private authority from the machine's store, and
            # Wine's WinHTTP matches a certificate's DNS names only.
            tool = os.path.join(os.environ["INKSEAL_BINARY_DIR"], "tools", "trust_authority", "trust_authority.exe")
            subprocess.run([command[0], tool, "Z:" + authority.replace("/", "\\")], check=True, timeout=120)
            address = address.replace("127.0.0.1:", "localhost:")
        env = dict(os.environ, INKSEAL_TEST_SERVICE=address, INKSEAL_TEST_SERVICE_CA=authority)
        try:
            return subprocess.run(command, env=env, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            print(f"test program still running after {timeout} s: failing", file=sys.stderr)
            return 1
    finally:
        service.terminate()
        try:
            service.wait(10)
        except subprocess.TimeoutExpired:
            service.kill()
            service.wait()
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
