#!/usr/bin/env python3
"""Runs the HTTP client's test binary against loopback servers it starts.

Starts the scriptable test service (tools/http_test_service) and a tinyproxy,
hands their addresses to the tests in environment variables, runs the binary
(natively, or under Wine through tools/wine-run.sh) and stops everything
again, also when a run overstays its time limit.

The binary runs twice natively: once without a proxy (every test but
Proxy.*), and once for Proxy.* with http_proxy pointing at the tinyproxy.
Under Wine the proxy run is left out (see main).
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

READY_TIMEOUT_S = 60
PROXY_START_TIMEOUT_S = 15
PROXY_ENV_NAMES = ["http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY", "all_proxy",
                   "ALL_PROXY"]

TINYPROXY_CONFIG = """Port {port}
Listen 127.0.0.1
Timeout 60
LogFile "{folder}/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.1
ViaProxyName "tinyproxy"
"""

def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_service(service_script, folder):
    process = subprocess.Popen([sys.executable, service_script, "--dir", folder], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, start_new_session=True)
    deadline = time.monotonic() + READY_TIMEOUT_S
    line = b""
    descriptor = process.stdout.fileno()  # read unbuffered, so select sees everything
    while time.monotonic() < deadline and b"\n" not in line:
        ready, _, _ = select.select([descriptor], [], [], 1)
        if ready:
            data = os.read(descriptor, 4096)
            if not data:
                break
            line += data
    line = line.split(b"\n")[0]
    if not line.startswith(b"READY "):
        stop(process)
        raise RuntimeError(f"the test service did not start: {line!r}")
    return process, json.loads(line[len(b"READY "):])


def start_proxy(folder):
    port = free_port()
    config = os.path.join(folder, "tinyproxy.conf")
    with open(config, "w") as file:
        file.write(TINYPROXY_CONFIG.format(port=port, folder=folder))
    process = subprocess.Popen(["tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + PROXY_START_TIMEOUT_S
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process, port
        except OSError:
            time.sleep(0.1)
    stop(process)
    raise RuntimeError("tinyproxy did not start")


def stop(process):
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=10)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def run(command, env, timeout):
    """Runs one test binary; its exit code, or 124 when it ran out of time."""
    print("+", " ".join(command), flush=True)
    process = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        print(f"timed out after {timeout} s", flush=True)
        stop(process)
        return 124


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--wine", help="tools/wine-run.sh, to run a Windows binary")
    parser.add_argument("--trust-authority", help="trust_authority.exe, which adds the service's authority "
                                                   "to the Wine prefix's machine store")
    parser.add_argument("--timeout", type=int, default=300)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="inkseal-http-")
    service = proxy = None
    failures = 0
    try:
        service, urls = start_service(args.service, os.path.join(folder, "service"))
        proxy, proxy_port = start_proxy(folder)

        env = {name: value for name, value in os.environ.items() if name not in PROXY_ENV_NAMES}
        for name in ("http", "http_other", "https", "https_expired", "https_wrong_name", "http_throttled"):
            env[f"INKSEAL_HTTP_{name.upper()}_URL"] = urls[name]
        env["INKSEAL_HTTP_CLOSED_URL"] = f"http://127.0.0.1:{free_port()}"
        log_dir = urls["log_dir"]
        env["INKSEAL_HTTP_LOG_DIR"] = windows_path(log_dir) if args.wine else log_dir
        env["INKSEAL_HTTP_CA_FILE"] = windows_path(urls["ca_file"]) if args.wine else urls["ca_file"]
        if args.wine:
            env["INKSEAL_HTTP_UNDER_WINE"] = "1"
            # Windows trusts a private authority through the machine's store,
            # as an administrator sets it up.
            subprocess.run([args.wine, args.trust_authority, windows_path(urls["ca_file"])], check=True,
                           timeout=120)
            # Wine's WinHTTP matches a certificate's DNS names, not its IP addresses.
            for name in ("https", "https_expired", "https_wrong_name"):
                env[f"INKSEAL_HTTP_{name.upper()}_URL"] = urls[name].replace("://127.0.0.1:", "://localhost:")

        command = ([args.wine] if args.wine else []) + [args.binary]
        failures += run(command + ["--gtest_filter=-Proxy.*"], env, args.timeout) != 0

        # Wine cannot take part: its WinHTTP ignores a proxy set on a request
        # (a stub there), and through its session default proxy (http_proxy)
        # it sends origin-form request lines that no proxy can route.
        if not args.wine:
            proxy_url = f"http://127.0.0.1:{proxy_port}"
            proxy_env = dict(env, INKSEAL_HTTP_VIA_PROXY=proxy_url, http_proxy=proxy_url, https_proxy=proxy_url)
            failures += run(command + ["--gtest_filter=Proxy.*"], proxy_env, args.timeout) != 0
    finally:
        stop(proxy)
        stop(service)
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
