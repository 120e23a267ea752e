"""Both programs behind the proxy the desktop names: GNOME's proxy settings
(through GSettings' keyfile backend in a private XDG_CONFIG_HOME, with a
private session bus for the configuration-script runner), real tinyproxy
instances on loopback, and the stand-in service.  Manual proxies, the
bypass list, configuration scripts, proxy sign-in with and without the
desktop's credentials, a proxy that is down, and the environment variables
when the desktop names nothing.  No secret may reach a box, standard error
or a proxy's log.  Natively only: Windows reads its own Internet settings."""

import contextlib
import http.server
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import inkseal_e2e as e2e
import uploader_runner as runner
from login_dialog import PASSWORD, LoginDialog, StandInService, read_settings

CANNOT_CONNECT = 12029
CONNECTION_ERROR = 12030    # the tunnel refused: what curl reports for a proxy's 407
START_SECONDS = 15
RUN_TIMEOUT = 90
PROXY_USER = "office"
PROXY_PASSWORD = "pr0xy-s3cret"
ADA = {"OAuthClientKey": "ck-ada", "OAuthClientSecret": "cs-ada",
       "OAuthTokenKey": "tk-ada", "OAuthTokenSecret": "ts-ada"}
PROXY_ENV_NAMES = ["http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                   "all_proxy", "ALL_PROXY"]
DOCUMENT = b"%PDF-1.4\n%%EOF\n"
SCHEMA_DIR = "/usr/share/glib-2.0/schemas"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(10)


class Tinyproxy:
    """One tinyproxy on loopback; basic_auth=(user, password) makes it ask."""

    def __init__(self, folder, name, basic_auth=None):
        self.port = free_port()
        self.log = os.path.join(folder, name + ".log")
        config = os.path.join(folder, name + ".conf")
        with open(config, "w") as f:
            f.write(f'Port {self.port}\nListen 127.0.0.1\nTimeout 30\nLogFile "{self.log}"\nLogLevel Info\n'
                    "MaxClients 20\nAllow 127.0.0.1\n")
            if basic_auth:
                f.write(f"BasicAuth {basic_auth[0]} {basic_auth[1]}\n")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + START_SECONDS
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    stop(self.process)
                    raise e2e.HarnessError("tinyproxy did not start")
                time.sleep(0.1)

    def text(self):
        with open(self.log, errors="replace") as f:
            return f.read()

    def tunnels(self, since, target):
        return self.text()[since:].count(f"CONNECT {target} ")


class PacServer:
    """Serves the configuration scripts of a folder over http on loopback."""

    def __init__(self, folder):
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *arguments, **keywords):
                super().__init__(*arguments, directory=folder, **keywords)

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Quiet)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class SilentServer:
    """Takes connections on loopback and never answers."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.url = f"http://127.0.0.1:{self.socket.getsockname()[1]}/"

    def stop(self):
        self.socket.close()


def session_bus(stack):
    """A private session bus, on which glib-networking's script runner is
    started on demand; its address."""
    process = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    stack.callback(process.stdout.close)
    stack.callback(stop, process)
    line = []
    reader = threading.Thread(target=lambda: line.append(process.stdout.readline()), daemon=True)
    reader.start()
    reader.join(START_SECONDS)
    if not line or not line[0].strip():
        raise e2e.HarnessError("dbus-daemon did not start")
    return line[0].strip()


def gnome_settings(mode, http=None, ignore=(), autoconfig=None, credentials=None):
    """GNOME's proxy settings as the keyfile backend stores them."""
    hosts = ", ".join(f"'{h}'" for h in ignore)
    text = f"[system/proxy]\nmode='{mode}'\nignore-hosts=[{hosts}]\n"
    if autoconfig:
        text += f"autoconfig-url='{autoconfig}'\n"
    if http:
        text += f"\n[system/proxy/http]\nhost='{http[0]}'\nport={http[1]}\n"
        if credentials:
            text += (f"use-authentication=true\nauthentication-user='{credentials[0]}'\n"
                     f"authentication-password='{credentials[1]}'\n")
    return text


@unittest.skipUnless(e2e.NATIVE, "the desktop's proxy settings are Linux's")
@unittest.skipUnless(shutil.which("tinyproxy") and shutil.which("dbus-daemon"), "needs tinyproxy and dbus-daemon")
class DesktopProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.folder = tempfile.mkdtemp(prefix="inkseal-proxy-")
            cls.stack.callback(shutil.rmtree, cls.folder, True)
            cls.service = StandInService()
            cls.stack.callback(cls.service.stop)
            cls.open_proxy = Tinyproxy(cls.folder, "open")
            cls.stack.callback(stop, cls.open_proxy.process)
            cls.guarded_proxy = Tinyproxy(cls.folder, "guarded", (PROXY_USER, PROXY_PASSWORD))
            cls.stack.callback(stop, cls.guarded_proxy.process)
            scripts = os.path.join(cls.folder, "scripts")
            os.makedirs(scripts)
            with open(os.path.join(scripts, "proxy.pac"), "w") as f:
                f.write('function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:%d"; }\n'
                        % cls.open_proxy.port)
            cls.direct_script = os.path.join(scripts, "direct.pac")
            with open(cls.direct_script, "w") as f:
                f.write('function FindProxyForURL(url, host) { return "DIRECT"; }\n')
            cls.scripts = PacServer(scripts)
            cls.stack.callback(cls.scripts.stop)
            cls.silent = SilentServer()
            cls.stack.callback(cls.silent.stop)
            cls.bus = session_bus(cls.stack)
        except BaseException:
            cls.stack.close()
            raise
        cls.target = cls.service.host   # what a tunnel to the service names

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def setUp(self):
        self.service.reset()

    def desktop_environment(self, config_home, settings, desktop="GNOME", bus=None, **variables):
        folder = os.path.join(config_home, "glib-2.0", "settings")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "keyfile"), "w") as f:
            f.write(settings)
        env = {name: "" for name in PROXY_ENV_NAMES}
        # The harness hides the system's data folders (their web handlers);
        # GNOME's proxy schemas are named apart.
        env.update({"XDG_CURRENT_DESKTOP": desktop, "GSETTINGS_BACKEND": "keyfile",
                    "GSETTINGS_SCHEMA_DIR": SCHEMA_DIR, "DBUS_SESSION_BUS_ADDRESS": bus or self.bus,
                    # An accessibility launcher started on this private bus
                    # would leave its address on the display once it ends.
                    "NO_AT_BRIDGE": "1"})
        env.update(variables)
        return env

    def upload(self, settings, **variables):
        install = runner.Installation(self.service)
        self.addCleanup(install.remove)
        install.module_settings(LumeskURL=self.service.url + "/upload", **ADA)
        install.user_environment.update(
            self.desktop_environment(install.user_environment["XDG_CONFIG_HOME"], settings, **variables))
        return install.run(install.write_document("spool", "Contract.pdf", DOCUMENT))

    def uploads(self):
        return [r for r in self.service.requests() if r["method"] == "PUT"]

    def assert_no_secret(self, *texts):
        for text in texts:
            self.assertNotIn(PROXY_PASSWORD, text)
            self.assertNotIn("pr0xy", text)

    def test_upload_follows_the_desktops_proxy_its_bypass_list_and_its_scripts(self):
        proxy = self.open_proxy
        cases = [
            # name, settings, whether the upload goes through the proxy
            ("manual", gnome_settings("manual", ("127.0.0.1", proxy.port), ignore=["bypass.invalid"]), True),
            ("bypass list", gnome_settings("manual", ("127.0.0.1", proxy.port), ignore=["127.0.0.0/8"]), False),
            ("script answering PROXY", gnome_settings("auto", autoconfig=self.scripts.url + "proxy.pac"), True),
            ("script answering DIRECT", gnome_settings("auto", autoconfig="file://" + self.direct_script), False),
        ]
        for name, settings, proxied in cases:
            with self.subTest(name):
                self.service.reset()
                since = len(proxy.text())
                outcome = self.upload(settings)
                self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
                self.assertEqual(len(self.uploads()), 1)
                self.assertEqual(proxy.tunnels(since, self.target), 1 if proxied else 0, proxy.text()[since:])

    def test_a_script_that_never_comes_is_given_up_and_the_upload_goes_direct(self):
        # A bus of its own: the script runner it starts stays stuck for a while.
        stack = contextlib.ExitStack()
        self.addCleanup(stack.close)
        bus = session_bus(stack)
        started = time.monotonic()
        outcome = self.upload(gnome_settings("auto", autoconfig=self.silent.url + "proxy.pac"), bus=bus)
        self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
        self.assertEqual(len(self.uploads()), 1)
        # The resolver's own wait for its script runner lasts 25 s.
        self.assertLess(time.monotonic() - started, 20)

    def test_environment_variables_apply_where_the_desktop_names_no_proxy(self):
        proxy = self.open_proxy
        for desktop in ("GNOME", ""):
            with self.subTest(desktop=desktop or "none"):
                since = len(proxy.text())
                outcome = self.upload(gnome_settings("none"), desktop=desktop,
                                      https_proxy=f"http://127.0.0.1:{proxy.port}")
                self.assertEqual(outcome.exit_code, 0, outcome)
                self.assertEqual(proxy.tunnels(since, self.target), 1, proxy.text()[since:])

    def test_proxy_sign_in_uses_the_desktops_credentials_and_says_so_without_them(self):
        proxy = self.guarded_proxy
        at = ("127.0.0.1", proxy.port)
        since = len(proxy.text())
        outcome = self.upload(gnome_settings("manual", at, credentials=(PROXY_USER, PROXY_PASSWORD)))
        self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
        # curl offers the credentials once the proxy has named its scheme.
        self.assertGreaterEqual(proxy.tunnels(since, self.target), 1)
        self.assertEqual(len(self.uploads()), 1)
        self.assert_no_secret(outcome.output)

        for name, credentials in (("none", None), ("wrong", (PROXY_USER, "not it"))):
            with self.subTest(credentials=name):
                self.service.reset()
                outcome = self.upload(gnome_settings("manual", at, credentials=credentials))
                self.assertEqual(outcome.exit_code, 1, outcome)
                self.assertEqual(len(outcome.messages), 1, outcome)
                icon, text = outcome.messages[0]
                self.assertEqual(icon, "error")
                self.assertTrue(text.startswith(f"\nError code: {CONNECTION_ERROR}\n"), text)
                self.assertIn(f"\nThe proxy 127.0.0.1:{proxy.port} asked for a sign-in", text)
                self.assertEqual(self.uploads(), [])
        self.assert_no_secret(proxy.text(), outcome.output)

    def test_a_proxy_that_is_down_is_named_with_the_cannot_connect_number(self):
        port = runner.closed_port()
        outcome = self.upload(gnome_settings("manual", ("127.0.0.1", port)))
        self.assertEqual(outcome.exit_code, 1, outcome)
        icon, text = outcome.messages[0]
        self.assertTrue(text.startswith(f"\nError code: {CANNOT_CONNECT}\n"), text)
        self.assertIn(f"\nThe proxy 127.0.0.1:{port} could not be reached.\n", text)
        self.assertEqual(self.uploads(), [])

    def test_login_goes_through_the_desktops_proxy_and_names_one_that_wants_a_sign_in(self):
        with contextlib.ExitStack() as stack:
            install = tempfile.mkdtemp(prefix="inkseal-brantwick-")
            stack.callback(shutil.rmtree, install, True)
            program = shutil.copy2(e2e.program_path("Brantwick"), install)
            with open(os.path.join(install, "vod995.ini"), "w", newline="\r\n") as f:
                f.write("[Parameters]\n" + "".join(f"{k}={v}\n" for k, v in self.service.trust_settings().items()))

            def log_in(settings):
                env, lumesk = stack.enter_context(e2e.user_folder())
                env.update(self.desktop_environment(env["XDG_CONFIG_HOME"], settings))
                env["INKSEAL_SERVICE_HOST"] = self.service.host
                running = stack.enter_context(e2e.start(program, env=env, timeout=RUN_TIMEOUT))
                dialog = LoginDialog(running)
                dialog.wait_shown()
                dialog.fill_credentials("ada@inkseal.test", "analytical engine")
                dialog.enter_in(PASSWORD)
                return running, dialog, os.path.join(lumesk, "vod995.ini")

            since = len(self.open_proxy.text())
            running, _, stored = log_in(gnome_settings("manual", ("127.0.0.1", self.open_proxy.port)))
            result = running.finish()
            self.assertEqual((result.exit_code, result.messages), (1, []), result)
            self.assertEqual(dict(read_settings(stored)), ADA)
            self.assertEqual(self.open_proxy.tunnels(since, self.target), 1)

            self.service.reset()
            port = self.guarded_proxy.port
            running, dialog, stored = log_in(gnome_settings("manual", ("127.0.0.1", port)))
            icon, text = dialog.read_message()
            self.assertEqual(icon, "error")
            self.assertTrue(text.startswith(f"\nError code: {CONNECTION_ERROR}\n"), text)
            self.assertIn(f"\nThe proxy 127.0.0.1:{port} asked for a sign-in", text)
            # Keys that come while the press is still being handled are
            # dropped: Escape again until the dialog has taken one.
            deadline = time.monotonic() + 20
            while running.running() and time.monotonic() < deadline:
                try:
                    dialog.escape()
                except e2e.HarnessError:
                    pass  # the window went as the key was sent
                time.sleep(0.5)
            self.assertEqual(running.finish().exit_code, 2)
            self.assertFalse(os.path.exists(stored))
            self.assertEqual(self.service.requests(), [])


if __name__ == "__main__":
    unittest.main()
