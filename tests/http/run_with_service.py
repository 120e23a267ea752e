#!/usr/bin/env python3
"""Runs the HTTP client's test binary against loopback servers it starts.

Starts the scriptable test service (tools/http_test_service) and a tinyproxy,
hands their addresses to the tests in environment variables, runs the binary
(natively, or under Wine through tools/wine-run.sh) and stops everything
again, also when a run overstays its time limit.

The binary runs twice: once without a proxy (every test but Proxy.*), and
once for Proxy.* with the proxy configured the platform's way: http_proxy
for libcurl, the user's Internet settings in the registry under Wine.
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

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_service(service_script, folder):
    process = subprocess.Popen([sys.executable, service_script, "--dir", folder], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, start_new_session=True)
    deadline = time.monotonic() + READY_TIMEOUT_S
    line = b""
    while time.monotonic() < deadline and not line.endswith(b"\n"):
        ready, _, _ = select.select([process.stdout], [], [], 1)
        if ready:
            byte = process.stdout.read(1)
            if not byte:
                break
            line += byte
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


def set_wine_proxy(wine, env, proxy):
    """The user's Internet settings: the proxy WinHttpGetIEProxyConfigForCurrentUser reports."""
    def reg(*args):
        subprocess.run([wine, "reg", *args], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    if proxy is None:
        reg("delete", INTERNET_SETTINGS + r"\Connections", "/v", "DefaultConnectionSettings", "/f")
        return
    # The binary record Windows keeps: version, a counter (Wine insists on
    # 0), flags (direct | named proxy), then the proxy list, the bypass list
    # and the auto-configuration URL, each as a length and its ANSI text.
    def field(text):
        data = text.encode("latin-1")
        return len(data).to_bytes(4, "little") + data
    record = ((0x46).to_bytes(4, "little") + (0).to_bytes(4, "little") + (0x3).to_bytes(4, "little") +
              field(proxy) + field("") + field("") + bytes(32))
    reg("add", INTERNET_SETTINGS + r"\Connections", "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
        "/d", record.hex(), "/f")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--wine", help="tools/wine-run.sh, to run a Windows binary")
    parser.add_argument("--timeout", type=int, default=300)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="inkseal-http-")
    service = proxy = None
    failures = 0
    try:
        service, urls = start_service(args.service, os.path.join(folder, "service"))
        proxy, proxy_port = start_proxy(folder)

        env = {name: value for name, value in os.environ.items() if name not in PROXY_ENV_NAMES}
        for name in ("http", "https", "https_expired", "https_wrong_name"):
            env[f"INKSEAL_HTTP_{name.upper()}_URL"] = urls[name]
        env["INKSEAL_HTTP_CLOSED_URL"] = f"http://127.0.0.1:{free_port()}"
        log_dir = urls["log_dir"]
        env["INKSEAL_HTTP_LOG_DIR"] = windows_path(log_dir) if args.wine else log_dir
        if args.wine:
            env["INKSEAL_HTTP_UNDER_WINE"] = "1"

        command = ([args.wine] if args.wine else []) + [args.binary]
        failures += run(command + ["--gtest_filter=-Proxy.*"], env, args.timeout) != 0

        proxy_url = f"http://127.0.0.1:{proxy_port}"
        proxy_env = dict(env, INKSEAL_HTTP_VIA_PROXY=proxy_url)
        if args.wine:
            set_wine_proxy(args.wine, env, f"127.0.0.1:{proxy_port}")
        else:
            proxy_env.update(http_proxy=proxy_url, https_proxy=proxy_url)
        try:
            failures += run(command + ["--gtest_filter=Proxy.*"], proxy_env, args.timeout) != 0
        finally:
            if args.wine:
                set_wine_proxy(args.wine, env, None)
    finally:
        stop(proxy)
        stop(service)
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
