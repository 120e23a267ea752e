"""Printing to the Inkseal queue of a CUPS daemon of the test's own: the
backend hands each job to the session agent, the agent runs Ferrowend on a
private spool file, and the stand-in service gets the document.

The jobs belong to the user running the test (root in CI): the agent is
that user's, listening in a runtime folder of the test's own, which the
backend finds through the daemon's SetEnv line.  A second, throwaway uid
plays another user on the machine."""

import base64
import contextlib
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import pwd

import inkseal_e2e as e2e
from cups_sandbox import CupsSandbox
from login_dialog import PASSWORD, LoginDialog
from stand_in_service import StandInService

AGENT_SECONDS = 180          # an agent's whole life in one test
WAIT_SECONDS = 60
OTHER_UID = 54321            # no account: nobody on the machine owns it
ADA_AUTHORIZATION = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-ada",'
                     'oauth_token="tk-ada",oauth_signature="cs-ada&ts-ada"')
ADA_CREDENTIALS = ("[Parameters]\nOAuthClientKey=ck-ada\nOAuthClientSecret=cs-ada\n"
                   "OAuthTokenKey=tk-ada\nOAuthTokenSecret=ts-ada\n")


def wait_for(condition, what, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"{what} did not happen within {seconds} s")


def make_pdf(path, title, text=None):
    extra = ["--text", text] if text else []
    subprocess.run([sys.executable, os.path.join(e2e.SOURCE_DIR, "tools", "sample_pdf", "make_sample_pdf.py"),
                    path, "--title", title, *extra], check=True, timeout=60)
    with open(path, "rb") as f:
        return f.read()


class Relay:
    """A port of its own in front of the stand-in service: while closed
    nothing listens there (the service cannot be reached), while open every
    connection is relayed byte for byte (TLS and all) to the service."""

    def __init__(self, target_host, target_port):
        self.target = (target_host, target_port)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.listener = None

    def open(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", self.port))
        self.listener.listen(16)
        threading.Thread(target=self._accept, args=(self.listener,), daemon=True).start()

    def close(self):
        if self.listener:
            with contextlib.suppress(OSError):
                self.listener.shutdown(socket.SHUT_RDWR)
            self.listener.close()
            self.listener = None

    def _accept(self, listener):
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            server = socket.create_connection(self.target, timeout=20)
            for source, sink in ((client, server), (server, client)):
                threading.Thread(target=self._pump, args=(source, sink), daemon=True).start()

    @staticmethod
    def _pump(source, sink):
        with contextlib.suppress(OSError):
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        for end in (source, sink):
            with contextlib.suppress(OSError):
                end.shutdown(socket.SHUT_RDWR)
        source.close()  # each socket is the source of one pump


class NotificationService:
    """A session bus of the test's own with the test's notification service
    on it: what it was asked to show, and buttons the test presses."""

    def __init__(self, folder):
        self.log = os.path.join(folder, "notifications.log")
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                    start_new_session=True)
        self.service = None
        try:
            self.address = self._line(self.bus, "the session bus")
            self.service = subprocess.Popen([e2e.program_path("test_notification_service"), self.log],
                                            env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address),
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                            start_new_session=True)
            if self._line(self.service, "the notification service") != "READY":
                raise e2e.HarnessError("the notification service did not start")
        except BaseException:
            self.stop()
            raise

    @staticmethod
    def _line(process, what):
        line = []
        reader = threading.Thread(target=lambda: line.append(process.stdout.readline().strip()), daemon=True)
        reader.start()
        reader.join(WAIT_SECONDS)
        if not line or not line[0]:
            raise e2e.HarnessError(f"{what} did not start")
        return line[0]

    def shown(self):
        """[(id, summary, body)] in the order asked."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [tuple(line.rstrip("\n").split("\t", 2)) for line in f if line.strip()]

    def press(self, notification, action):
        self.service.stdin.write(f"{notification} {action}\n")
        self.service.stdin.flush()

    def stop(self):
        for process in (self.service, self.bus):
            if process and process.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(process.pid, signal.SIGKILL)
                process.wait(10)
            if process:
                for stream in (process.stdin, process.stdout):
                    if stream:
                        stream.close()


def rewrite(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


class PrinterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.root = cls.stack.enter_context(e2e.temporary_folder("inkseal-printer-"))
            os.chmod(cls.root, 0o755)
            runtime_root = os.path.join(cls.root, "run")
            cls.runtime = os.path.join(runtime_root, str(os.getuid()))
            os.makedirs(cls.runtime, mode=0o700)
            os.chmod(runtime_root, 0o755)
            cls.agent_folder = os.path.join(cls.runtime, "inkseal")
            cls.state = os.path.join(cls.root, "state")
            cls.spool = os.path.join(cls.state, "inkseal", "spool")
            cls.service = StandInService()
            cls.stack.callback(cls.service.stop)
            cls.cups = CupsSandbox(runtime_root)
            cls.stack.callback(cls.cups.stop)
            cls.install = os.path.join(cls.root, "install")
            os.makedirs(cls.install)
            for program in ("Ferrowend", "Brantwick", "inkseal-agent"):
                shutil.copy2(e2e.program_path(program), cls.install)
            with open(os.path.join(cls.install, "vod995.ini"), "w", newline="\r\n") as f:
                f.write(f"[Parameters]\nLumeskURL={cls.service.url}/upload\n"
                        f"CertificateAuthorities={cls.service.ca_file}\n")
        except BaseException:
            cls.stack.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def setUp(self):
        self.service.reset()
        self.test_stack = contextlib.ExitStack()
        self.addCleanup(self.test_stack.close)
        self.work = self.test_stack.enter_context(e2e.temporary_folder("inkseal-print-"))
        self.config = os.path.join(self.work, "config")
        os.makedirs(os.path.join(self.config, "Lumesk"))
        self.browser_log = os.path.join(self.work, "browser.log")
        browser = os.path.join(self.work, "browser.sh")
        with open(browser, "w") as f:
            f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.browser_log}'\n")
        os.chmod(browser, 0o755)
        # No desktop handler of the machine: the page goes through xdg-open
        # to $BROWSER, the recording script, and never to an installed browser.
        no_desktop = os.path.join(self.work, "no-desktop")
        self.agent_env = dict(self.cups.env, XDG_RUNTIME_DIR=self.runtime, XDG_CONFIG_HOME=self.config,
                              XDG_DATA_HOME=no_desktop, XDG_DATA_DIRS=no_desktop, XDG_CONFIG_DIRS=no_desktop,
                              INKSEAL_SERVICE_HOST=self.service.host, BROWSER=browser, XDG_STATE_HOME=self.state,
                              # No session bus: waiting documents are only logged.
                              DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus")
        self.test_stack.callback(shutil.rmtree, self.agent_folder, True)
        self.test_stack.callback(shutil.rmtree, self.state, True)

    # --- helpers ---------------------------------------------------------

    def store_credentials(self):
        with open(os.path.join(self.config, "Lumesk", "vod995.ini"), "w") as f:
            f.write(ADA_CREDENTIALS)

    def start_agent(self):
        agent = self.test_stack.enter_context(
            e2e.start(os.path.join(self.install, "inkseal-agent"), env=self.agent_env, timeout=AGENT_SECONDS))
        socket = os.path.join(self.agent_folder, "agent.socket")
        wait_for(lambda: os.path.exists(socket) or not agent.running(), "the agent's start")
        self.assertTrue(agent.running(), self.agent_log(agent))
        return agent

    @staticmethod
    def agent_log(agent):
        return agent._outputs()[1].decode("utf-8", "replace")

    def uploader_runs(self, agent, count):
        """The agent's "Ferrowend ended" lines, once there are count of them."""
        return wait_for(lambda: len(re.findall(r"Ferrowend ended with \d+", self.agent_log(agent))) >= count and
                        re.findall(r"Ferrowend ended with (\d+) for (.*)", self.agent_log(agent)),
                        f"{count} Ferrowend run(s)")

    def uploads(self):
        return [r for r in self.service.requests() if r["method"] == "PUT"]

    def browsed(self, count):
        def lines():
            if os.path.exists(self.browser_log):
                with open(self.browser_log) as f:
                    found = f.read().splitlines()
                return found if len(found) >= count else None
        return wait_for(lines, f"{count} opened page(s)", 20)

    def spool_entries(self):
        return os.listdir(self.spool) if os.path.isdir(self.spool) else []

    # --- tests -----------------------------------------------------------

    def test_a_pdf_arrives_byte_for_byte_its_page_opens_and_only_a_document_the_service_may_not_have_stays(self):
        self.store_credentials()
        agent = self.start_agent()
        content = make_pdf(os.path.join(self.work, "report.pdf"), "Quarterly report")
        job = self.cups.print_file(os.path.join(self.work, "report.pdf"), "Quarterly report")
        self.cups.wait_state(job, ("completed",))
        runs = self.uploader_runs(agent, 1)
        self.assertEqual(runs[0][0], "0", self.agent_log(agent))
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        headers = {name.lower(): value for name, value in uploads[0]["headers"]}
        self.assertEqual(headers["authorization"], ADA_AUTHORIZATION)
        self.assertEqual(base64.b64decode(uploads[0]["body_base64"]), content)
        page = self.browsed(1)[0]
        self.assertRegex(page, r"^https://127\.0\.0\.1:\d+/documents/\d+$")
        self.assertIn("Quarterly report", self.service.fetch(page))
        self.assertEqual(self.spool_entries(), [])

        # A failure inside the service (no page named, so the browser step
        # fails): it may hold the document, which waits for the user's word.
        self.service.queue_reply("/upload", 500, [("Content-Type", "text/plain")], b"broken")
        job = self.cups.print_file(os.path.join(self.work, "report.pdf"), "Second try")
        self.cups.wait_state(job, ("completed",))
        runs = self.uploader_runs(agent, 2)
        self.assertEqual(runs[1][0], "1", self.agent_log(agent))
        self.assertIn("Could not open the default web browser with URL:\n", self.agent_log(agent))
        self.assertIn('"Second try" may have reached Inkseal', self.agent_log(agent))
        self.assertEqual(len(self.spool_entries()), 1)

    def test_a_postscript_job_arrives_as_a_pdf_of_the_same_page(self):
        self.store_credentials()
        agent = self.start_agent()
        original = os.path.join(self.work, "memo.pdf")
        make_pdf(original, "Minutes", "Seven items were agreed")
        postscript = os.path.join(self.work, "memo.ps")
        subprocess.run(["pdftops", os.path.join(self.work, "memo.pdf"), postscript], check=True, timeout=60)
        job = self.cups.print_file(postscript, "Minutes")
        self.cups.wait_state(job, ("completed",))
        self.uploader_runs(agent, 1)
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        received = os.path.join(self.work, "received.pdf")
        with open(received, "wb") as f:
            f.write(base64.b64decode(uploads[0]["body_base64"]))
        info = subprocess.run(["pdfinfo", received], capture_output=True, text=True, timeout=60)
        self.assertEqual(info.returncode, 0, info.stderr)
        self.assertRegex(info.stdout, r"(?m)^Pages:\s+1$")
        def text(path):
            return subprocess.run(["pdftotext", path, "-"], capture_output=True, text=True, timeout=60).stdout
        self.assertIn("Seven items were agreed", text(received))
        self.assertEqual(text(received), text(original))

    def assert_safe_spool_name(self, path, *kept):
        self.assertEqual(os.path.dirname(os.path.dirname(os.path.realpath(path))), os.path.realpath(self.spool), path)
        name = os.path.basename(path)
        self.assertTrue(name.endswith(".pdf") and not name.startswith("."), name)
        self.assertNotRegex(name, r"[\x00-\x1f\"'/\\]")
        for letters in kept:
            self.assertIn(letters, name)

    def test_hostile_titles_give_safe_names_inside_the_spool(self):
        self.store_credentials()
        agent = self.start_agent()
        document = os.path.join(self.work, "plain.pdf")
        make_pdf(document, "Plain")
        job = self.cups.print_file(document, "Zoë's \"draft\" /../../etc/.. ĳ 日本")
        self.cups.wait_state(job, ("completed",))
        self.assert_safe_spool_name(self.uploader_runs(agent, 1)[0][1], "Zoë", "日本")
        # CUPS itself turns a title with a line break into "Untitled"; the
        # backend run as CUPS runs it hands such a title on unchanged.
        backend = os.path.join(self.cups.root, "bin", "backend", "inkseal")
        user = pwd.getpwuid(os.getuid()).pw_name
        def backend_run(title):
            return subprocess.run([backend, "99", user, title, "1", "", document],
                                  env=dict(os.environ, INKSEAL_RUNTIME_ROOT=os.path.dirname(self.runtime)),
                                  capture_output=True, text=True, timeout=30)
        result = backend_run("../..\nline two ĳ")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_safe_spool_name(self.uploader_runs(agent, 2)[1][1], "line two ĳ")
        # A title over the agent's limit fails the job, which says why (not "no desktop session").
        result = backend_run("x" * 5000)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("ERROR: Inkseal: the desktop session could not take the document: "
                      "a header of the job is longer than 4096 bytes", result.stderr)
        self.assertEqual(len(self.uploads()), 2)

    def test_without_an_agent_the_job_is_held_and_the_next_agent_prints_only_its_own_users_held_jobs(self):
        self.store_credentials()
        document = os.path.join(self.work, "held.pdf")
        content = make_pdf(document, "Held over")
        job = self.cups.print_file(document, "Held over")
        self.cups.wait_state(job, ("pending-held",))
        self.assertEqual(self.cups.job(job)[1], "indefinite")
        user = pwd.getpwuid(os.getuid()).pw_name
        self.cups.wait_log(job, f"Inkseal: no desktop session for {user}; the job is held until you log in")
        # Another user's job, and one this user held on purpose: neither is the agent's to print.
        os.chmod(self.work, 0o755)
        nobody = pwd.getpwnam("nobody").pw_uid
        other = self.cups.print_file(document, "Not mine", as_uid=nobody)
        self.cups.wait_state(other, ("pending-held",))
        self.assertEqual(self.cups.job(other)[2], "nobody")
        # Nor may that user print in this user's name.
        with self.assertRaisesRegex(e2e.HarnessError, "Unauthorized"):
            self.cups.print_file(document, "In your name", ["-U", user], as_uid=nobody)
        on_purpose = self.cups.print_file(document, "Wait for me", ["-H", "indefinite"])

        agent = self.start_agent()
        self.cups.wait_state(job, ("completed",))
        self.uploader_runs(agent, 1)
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        self.assertEqual(base64.b64decode(uploads[0]["body_base64"]), content)
        self.assertEqual(self.cups.job_state(other), "pending-held")
        self.assertEqual(self.cups.job_state(on_purpose), "pending-held")
        for left in (other, on_purpose):
            self.cups.command(["cancel", str(left)], check=False)

    def test_a_document_whose_run_was_cut_short_by_stopping_the_agent_is_sent_by_the_next_agent(self):
        agent = self.start_agent()
        document = os.path.join(self.work, "interrupted.pdf")
        content = make_pdf(document, "Interrupted")
        job = self.cups.print_file(document, "Interrupted")
        self.cups.wait_state(job, ("completed",))
        LoginDialog(agent).wait_shown()
        agent.kill()  # with Ferrowend and its dialog, as a session that ends would
        self.assertEqual(len(self.spool_entries()), 1)
        self.assertEqual(self.uploads(), [])

        self.store_credentials()
        agent = self.start_agent()
        runs = self.uploader_runs(agent, 1)
        self.assertEqual(runs[0][0], "0", self.agent_log(agent))
        self.assertEqual([base64.b64decode(u["body_base64"]) for u in self.uploads()], [content])
        self.assertEqual(self.spool_entries(), [])

    def test_two_jobs_without_credentials_show_one_login_dialog_then_both_upload(self):
        agent = self.start_agent()
        first = make_pdf(os.path.join(self.work, "one.pdf"), "First")
        second = make_pdf(os.path.join(self.work, "two.pdf"), "Second")
        jobs = [self.cups.print_file(os.path.join(self.work, "one.pdf"), "First"),
                self.cups.print_file(os.path.join(self.work, "two.pdf"), "Second")]
        for job in jobs:
            self.cups.wait_state(job, ("completed",))
        dialog = LoginDialog(agent)
        dialog.wait_shown()
        time.sleep(1)  # room for a second dialog to appear, if the agent were to start one
        shown = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Inkseal$"],
                               capture_output=True, text=True, timeout=20).stdout.split()
        self.assertEqual(len(shown), 1, "more than one login dialog")
        dialog.fill_credentials("ada@inkseal.test", "analytical engine")
        dialog.enter_in(PASSWORD)
        runs = self.uploader_runs(agent, 2)
        self.assertEqual([code for code, _ in runs], ["0", "0"], self.agent_log(agent))
        self.assertEqual(len([r for r in self.service.requests() if r["path"] == "/api/v1/getpersonaltoken"]), 1)
        self.assertEqual([base64.b64decode(u["body_base64"]) for u in self.uploads()], [first, second])
        self.assertEqual(len(self.browsed(2)), 2)

    def test_the_agent_serves_only_the_print_service_and_runs_once_per_user(self):
        agent = self.start_agent()
        # A second start (autostart and user unit both present) ends at once, quietly.
        second = e2e.run(os.path.join(self.install, "inkseal-agent"), env=self.agent_env, timeout=30)
        self.assertEqual((second.exit_code, second.stderr), (0, b""))
        self.assertTrue(agent.running())

        # Open the folders as a careless administrator might: the peer check still refuses.
        socket = os.path.join(self.agent_folder, "agent.socket")
        for folder in (self.runtime, self.agent_folder):
            os.chmod(folder, 0o755)
            self.test_stack.callback(os.chmod, folder, 0o700)
        os.chmod(socket, 0o666)
        user = pwd.getpwuid(os.getuid()).pw_name.encode()
        intruder = (
            "import socket, struct, sys\n"
            "def frame(b): return struct.pack('>I', len(b)) + b\n"
            "s = socket.socket(socket.AF_UNIX)\n"
            f"s.connect({socket!r})\n"
            "s.settimeout(20)\n"
            "try:\n"
            f"    s.sendall(frame({user!r}) + frame(b'1') + frame(b'intruder') + frame(b'%PDF-1.4 x') + frame(b''))\n"
            "    reply = s.recv(100)\n"
            "except (BrokenPipeError, ConnectionResetError):\n"
            "    reply = b''\n"
            "sys.stdout.write(repr(reply))\n")
        result = subprocess.run(["setpriv", f"--reuid={OTHER_UID}", f"--regid={OTHER_UID}", "--clear-groups",
                                 sys.executable, "-c", intruder], capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "b''", "the agent answered another user")
        self.assertIn("refused a connection", self.agent_log(agent))
        self.assertEqual(self.spool_entries(), [])
        time.sleep(1)
        self.assertEqual(self.uploads(), [])

    def test_a_document_the_session_cannot_store_fails_its_job_and_nothing_is_uploaded(self):
        self.store_credentials()
        agent = self.start_agent()
        shutil.rmtree(self.spool)
        with open(self.spool, "w") as f:  # no folder to write into
            f.write("in the way")
        make_pdf(os.path.join(self.work, "lost.pdf"), "Nowhere")
        job = self.cups.print_file(os.path.join(self.work, "lost.pdf"), "Nowhere")
        self.cups.wait_state(job, ("aborted",))
        self.cups.wait_log(job, "Inkseal: the desktop session could not take the document: cannot create a spool file")
        os.remove(self.spool)
        self.assertNotIn("Ferrowend ended", self.agent_log(agent))
        self.assertEqual(self.uploads(), [])

    # --- documents that wait --------------------------------------------

    def waiting_setup(self, relay_open=True):
        """The upload address behind a relay the test opens and closes, a
        notification service of the test's own, a short back-off."""
        self.relay = Relay("127.0.0.1", int(self.service.host.rsplit(":", 1)[1]))
        self.test_stack.callback(self.relay.close)
        if relay_open:
            self.relay.open()
        settings = os.path.join(self.install, "vod995.ini")
        with open(settings, newline="") as f:
            original = f.read()
        self.test_stack.callback(rewrite, settings, original)
        rewrite(settings, original.replace(self.service.url, f"https://127.0.0.1:{self.relay.port}"))
        self.notifications = NotificationService(self.work)
        self.test_stack.callback(self.notifications.stop)
        # NO_AT_BRIDGE: an accessibility launcher started on this bus would
        # leave its address on the display once the bus has gone.
        self.agent_env.update(DBUS_SESSION_BUS_ADDRESS=self.notifications.address, INKSEAL_TEST_RETRY_SECONDS="2",
                              NO_AT_BRIDGE="1")

    def told(self, agent, count):
        try:
            return wait_for(lambda: len(self.notifications.shown()) >= count and self.notifications.shown(),
                            f"{count} notification(s)")
        except AssertionError as error:
            raise AssertionError(f"{error}; the agent's log:\n{self.agent_log(agent)}") from None

    def test_documents_printed_while_the_service_is_down_wait_in_order_and_go_once_when_it_is_back(self):
        self.store_credentials()
        self.waiting_setup(relay_open=False)
        agent = self.start_agent()
        first = make_pdf(os.path.join(self.work, "train.pdf"), "On the train")
        second = make_pdf(os.path.join(self.work, "later.pdf"), "Later")
        job = self.cups.print_file(os.path.join(self.work, "train.pdf"), "On the train")
        self.cups.wait_state(job, ("completed",))
        self.assertEqual(self.uploader_runs(agent, 1)[0][0], "1")
        self.assertIn("Failed to print the document.", self.agent_log(agent))  # Ferrowend's own box, once
        told = self.told(agent, 1)
        self.assertEqual(told[0][1], "Inkseal: a document waits")
        self.assertIn('"On the train" could not reach Inkseal', told[0][2])
        # A print made meanwhile goes behind it; the retries find the
        # service still away and start no Ferrowend, so no new box.
        job = self.cups.print_file(os.path.join(self.work, "later.pdf"), "Later")
        self.cups.wait_state(job, ("completed",))
        self.told(agent, 2)
        time.sleep(5)  # two back-offs
        self.assertEqual(len(re.findall("Ferrowend ended", self.agent_log(agent))), 1, self.agent_log(agent))
        self.assertEqual(len(self.notifications.shown()), 2, "told again for the same reason")
        self.assertEqual(len(self.spool_entries()), 2)
        # Back up: both go, once, in the order printed, and nothing is left.
        self.relay.open()
        runs = self.uploader_runs(agent, 3)
        self.assertEqual([code for code, _ in runs[1:]], ["0", "0"], self.agent_log(agent))
        self.assertEqual([base64.b64decode(u["body_base64"]) for u in self.uploads()], [first, second])
        wait_for(lambda: self.spool_entries() == [], "an empty spool")
        time.sleep(3)
        self.assertEqual(len(self.uploads()), 2)

        # A service that answers "unavailable" (a connection can be made):
        # Ferrowend's box once; its quiet retry, answered the same, shows none.
        for _ in range(2):
            self.service.queue_reply("/upload", 503, [("Content-Type", "text/plain")], b"down for maintenance")
        boxes = self.agent_log(agent).count("Could not open the default web browser")
        job = self.cups.print_file(os.path.join(self.work, "later.pdf"), "Maintenance")
        self.cups.wait_state(job, ("completed",))
        runs = self.uploader_runs(agent, 6)
        self.assertEqual([code for code, _ in runs[3:]], ["1", "1", "0"], self.agent_log(agent))
        self.assertEqual(self.agent_log(agent).count("Could not open the default web browser"), boxes + 1)
        wait_for(lambda: self.spool_entries() == [], "an empty spool")

    def test_a_waiting_document_outlives_logout_and_a_killed_agent_never_sends_twice(self):
        self.store_credentials()
        self.waiting_setup(relay_open=False)
        agent = self.start_agent()
        content = make_pdf(os.path.join(self.work, "away.pdf"), "Away")
        job = self.cups.print_file(os.path.join(self.work, "away.pdf"), "Away")
        self.cups.wait_state(job, ("completed",))
        self.told(agent, 1)
        # The scheduler hands the job over again (an agent stopped before it
        # answered): the copy is dropped, since the first one waits already.
        backend = subprocess.run([os.path.join(self.cups.root, "bin", "backend", "inkseal"), str(job),
                                  pwd.getpwuid(os.getuid()).pw_name, "Away", "1", "",
                                  os.path.join(self.work, "away.pdf")],
                                 env=dict(os.environ, INKSEAL_RUNTIME_ROOT=os.path.dirname(self.runtime)),
                                 capture_output=True, text=True, timeout=30)
        self.assertEqual(backend.returncode, 0, backend.stderr)
        wait_for(lambda: "is in the spool already" in self.agent_log(agent), "the copy's refusal")
        self.assertEqual(len(self.spool_entries()), 1)
        # Logout: the session's processes end and logind empties the runtime folder.
        agent.kill()
        shutil.rmtree(self.runtime)
        os.makedirs(self.runtime, mode=0o700)
        self.relay.open()
        agent = self.start_agent()  # the next login
        self.assertEqual(self.uploader_runs(agent, 1)[0][0], "0", self.agent_log(agent))
        self.assertEqual([base64.b64decode(u["body_base64"]) for u in self.uploads()], [content])
        wait_for(lambda: self.spool_entries() == [], "an empty spool")

        # The agent alone is killed while Ferrowend waits for the reply; the
        # next agent finds Ferrowend still at it, and it delivers once.
        self.service.queue_reply("/upload", 200, [("X-Open-Browser", f"{self.service.base_url}/documents/1")],
                                 delay=4)
        job = self.cups.print_file(os.path.join(self.work, "away.pdf"), "Slow reply")
        self.cups.wait_state(job, ("completed",))
        time.sleep(1.5)
        os.kill(agent.process.pid, signal.SIGKILL)
        agent = self.start_agent()
        wait_for(lambda: "was delivered by an uploader whose agent had ended" in self.agent_log(agent),
                 "the delivery seen by the next agent")
        self.assertEqual(self.spool_entries(), [])
        self.assertNotIn("Ferrowend ended", self.agent_log(agent))
        self.assertEqual(len(self.uploads()), 2)

    def test_a_cancelled_login_waits_for_send_now_and_a_document_without_a_reply_waits_for_the_users_word(self):
        self.waiting_setup()
        self.agent_env["INKSEAL_TEST_RESPONSE_DEADLINE_MS"] = "4000"  # Ferrowend's wait for a reply
        agent = self.start_agent()
        content = make_pdf(os.path.join(self.work, "unsigned.pdf"), "Unsigned")
        job = self.cups.print_file(os.path.join(self.work, "unsigned.pdf"), "Unsigned")
        self.cups.wait_state(job, ("completed",))
        dialog = LoginDialog(agent)
        dialog.wait_shown()
        dialog.click_cancel()
        self.assertEqual(self.uploader_runs(agent, 1)[0][0], "1")
        notification, _, body = self.told(agent, 1)[0]
        self.assertIn('"Unsigned" was not sent.', body)
        self.store_credentials()
        self.notifications.press(notification, "send-now")
        self.assertEqual(self.uploader_runs(agent, 2)[1][0], "0", self.agent_log(agent))
        self.assertEqual([base64.b64decode(u["body_base64"]) for u in self.uploads()], [content])
        wait_for(lambda: self.spool_entries() == [], "an empty spool")

        # The body arrives but the reply never comes (Ferrowend's wait runs
        # out): the service may hold it, so it is not sent again unasked,
        # also not when the next print goes.
        self.service.queue_reply("/upload", 200, [], delay=10)
        job = self.cups.print_file(os.path.join(self.work, "unsigned.pdf"), "No reply")
        self.cups.wait_state(job, ("completed",))
        self.uploader_runs(agent, 3)
        notification, _, body = self.told(agent, 2)[1]
        self.assertIn('"No reply" may have reached Inkseal', body)
        job = self.cups.print_file(os.path.join(self.work, "unsigned.pdf"), "Next")
        self.cups.wait_state(job, ("completed",))
        self.assertEqual(self.uploader_runs(agent, 4)[3][0], "0")
        time.sleep(3)  # a back-off
        self.assertEqual(len(self.uploads()), 3)
        self.assertEqual(len(self.spool_entries()), 1)
        self.notifications.press(notification, "discard")
        wait_for(lambda: self.spool_entries() == [], "the discarded document's removal")
        self.assertEqual(len(self.uploads()), 3)
        self.assertEqual(len(re.findall("Ferrowend ended", self.agent_log(agent))), 4)


if __name__ == "__main__":
    unittest.main(verbosity=2)
