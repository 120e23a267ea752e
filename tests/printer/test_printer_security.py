"""The Linux printer against a local user who attacks it, with a CUPS daemon
of the test's own: the backend acts only as the job's owner and hands the
job only to that user's process, an agent that stalls holds up only its own
user's job, no folder of another user's decides where an agent listens, and
a queue without the "authenticated" policy takes no jobs.

A throwaway account plays the job's owner (the test runs as root, as CI
does); it is removed afterwards, and one left by a killed run before."""

import contextlib
import os
import pwd
import shutil
import signal
import subprocess
import sys
import time
import unittest

import inkseal_e2e as e2e
from cups_sandbox import QUEUE, CupsSandbox

USER_PREFIX = "inkseal-test-"
OTHER_UID = 54321            # no account: nobody on the machine owns it
TIME_LIMIT = 2               # seconds; the backend's limits, shortened for the test
JOB_SECONDS = 30
RACE_JOBS = 40
TRICKLE_SECONDS = 1.5        # between two frames: within the step limit, below the 1 MiB/s floor
TRICKLED_MIB = 8             # the hand-over may then take TIME_LIMIT + 8 s
SCHEDULER_LINE = 2047        # bytes: the scheduler reads what follows as a line of its own
PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "socket_peer.py")


def wait_for(condition, what, seconds=JOB_SECONDS):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError(f"{what} did not happen within {seconds} s")


@contextlib.contextmanager
def throwaway_user():
    for entry in pwd.getpwall():
        if entry.pw_name.startswith(USER_PREFIX):
            subprocess.run(["userdel", entry.pw_name], capture_output=True, timeout=30)
    name = f"{USER_PREFIX}{os.getpid()}"
    subprocess.run(["useradd", "--system", "--user-group", "--no-create-home", "--shell", "/usr/sbin/nologin", name],
                   check=True, capture_output=True, timeout=30)
    try:
        yield pwd.getpwnam(name)
    finally:
        subprocess.run(["userdel", name], capture_output=True, timeout=30)


def as_user(entry):
    return ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--init-groups"]


class PrinterSecurityTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.root = cls.stack.enter_context(e2e.temporary_folder("inkseal-security-"))
            os.chmod(cls.root, 0o755)
            cls.runtime_root = os.path.join(cls.root, "run")
            os.makedirs(cls.runtime_root, mode=0o755)
            cls.owner = cls.stack.enter_context(throwaway_user())
            cls.agent = os.path.join(cls.root, "inkseal-agent")
            shutil.copy2(e2e.program_path("inkseal-agent"), cls.agent)
            cls.document = os.path.join(cls.root, "document.pdf")
            with open(cls.document, "wb") as f:
                f.write(b"%PDF-1.4\n% a job\n%%EOF\n")
            os.chmod(cls.document, 0o644)
            cls.cups = CupsSandbox(cls.runtime_root, backend_env={"INKSEAL_AGENT_TIME_LIMIT": TIME_LIMIT})
            cls.stack.callback(cls.cups.stop)
        except BaseException:
            cls.stack.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def setUp(self):
        self.addCleanup(self.cups.command, ["cancel", "-a", QUEUE], check=False)

    # --- helpers ---------------------------------------------------------

    def agent_folder(self, entry):
        """A fresh runtime folder of entry's user, as logind makes it, with
        the agent's folder inside; removed after the test."""
        runtime = os.path.join(self.runtime_root, str(entry.pw_uid))
        folder = os.path.join(runtime, "inkseal")
        os.makedirs(folder)
        for path in (runtime, folder):
            os.chown(path, entry.pw_uid, entry.pw_gid)
            os.chmod(path, 0o700)
        self.addCleanup(shutil.rmtree, runtime, True)
        return folder

    def start(self, command, env=None):
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)

        def stop():
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            process.communicate(timeout=10)
        self.addCleanup(stop)
        return process

    def peer(self, entry, mode, path, *more):
        """A stand-in of socket_peer.py at path, run as entry's user (None: root)."""
        process = self.start([*(as_user(entry) if entry else []), sys.executable, PEER, mode, path, *more])
        if mode != "swap":
            wait_for(lambda: os.path.exists(path) or process.poll() is not None, f"the {mode} peer's start")
            self.assertIsNone(process.poll(), process.stderr.read() if process.poll() is not None else "")
        return process

    def print_as_owner(self, title):
        return self.cups.print_file(self.document, title, as_uid=self.owner.pw_uid)

    # --- tests -----------------------------------------------------------

    def test_swapping_the_socket_for_links_to_roots_sockets_while_jobs_print_reaches_none_of_them(self):
        folder = self.agent_folder(self.owner)
        socket = os.path.join(folder, "agent.socket")
        received = os.path.join(self.root, "received")
        self.addCleanup(lambda: os.path.exists(received) and os.remove(received))
        # What a won race amounts to, without the luck: the owner's socket, in the owner's folder, served by root.
        impostor = self.peer(None, "record", socket, received)
        os.chown(socket, self.owner.pw_uid, self.owner.pw_gid)
        job = self.print_as_owner("Impostor")
        self.cups.wait_state(job, ("pending-held",), JOB_SECONDS)
        self.cups.wait_log(job, "desktop session is served by uid 0, not by " + self.owner.pw_name)
        os.killpg(impostor.pid, signal.SIGKILL)
        impostor.wait(10)
        os.remove(socket)

        self.peer(self.owner, "answer", socket)
        # Root's services: one in a folder only root may enter, one anybody may connect to (as the system bus).
        closed = os.path.join(self.root, "closed")
        os.mkdir(closed, 0o700)
        self.addCleanup(shutil.rmtree, closed, True)
        links = []
        for name, target in (("to-closed", os.path.join(closed, "bus.socket")),
                             ("to-open", os.path.join(self.root, "bus.socket"))):
            self.addCleanup(lambda t=target: os.path.exists(t) and os.remove(t))
            self.peer(None, "record", target, received)
            os.symlink(target, os.path.join(folder, name))
            links.append(name)
        swapper = self.peer(self.owner, "swap", folder, *links)

        jobs = [self.print_as_owner(f"Race {n}") for n in range(RACE_JOBS)]
        for job in jobs:
            self.cups.wait_state(job, ("completed", "pending-held"), JOB_SECONDS)
        open(os.path.join(folder, "stop"), "w").close()
        swaps, errors = swapper.communicate(timeout=JOB_SECONDS)
        self.assertEqual(swapper.returncode, 0, errors)
        self.assertGreater(int(swaps), RACE_JOBS, "the socket was hardly swapped")
        self.assertFalse(os.path.exists(received) and os.path.getsize(received), "bytes reached a socket of root's")

        # The owner's own agent, back in place, still gets the owner's job.
        for name in links:
            if not os.path.islink(os.path.join(folder, name)):
                os.rename(os.path.join(folder, name), socket)
        self.cups.wait_state(self.print_as_owner("After the race"), ("completed",), JOB_SECONDS)

    def test_an_agent_that_never_answers_or_stops_the_backend_has_its_job_held_and_the_next_users_job_goes_through(self):
        socket = os.path.join(self.agent_folder(self.owner), "agent.socket")
        staller = self.peer(self.owner, "stall", socket)
        self.peer(None, "answer", os.path.join(self.agent_folder(pwd.getpwuid(os.getuid())), "agent.socket"))
        # One job waits for the answer, one larger than the socket's buffer for room to send.
        large = os.path.join(self.root, "large.pdf")
        with open(large, "wb") as f:
            f.write(b"%PDF-1.4\n" + b"0" * (4 << 20))
        os.chmod(large, 0o644)
        stalled = [self.print_as_owner("Stalled"),
                   self.cups.print_file(large, "Stalled too", as_uid=self.owner.pw_uid)]
        for job in stalled:
            self.cups.wait_state(job, ("pending-held",), JOB_SECONDS)
        # The backend acts as the job's owner, who may stop it, and no time limit of its own then runs.
        os.killpg(staller.pid, signal.SIGKILL)
        staller.wait(10)
        os.remove(socket)
        self.peer(self.owner, "freeze", socket)
        stalled.append(self.print_as_owner("Stopped"))
        behind = self.cups.print_file(self.document, "Behind them")
        for job in stalled:
            self.cups.wait_state(job, ("pending-held",), JOB_SECONDS)
            self.cups.wait_log(job, "desktop session did not answer in time; the job is held")
            self.assertEqual(self.cups.job(job)[1], "indefinite")  # released by the user's next agent
        self.cups.wait_state(behind, ("completed",), JOB_SECONDS)

    def test_an_agent_that_reads_too_slowly_has_its_job_held_within_the_whole_hand_overs_time(self):
        self.peer(self.owner, "trickle", os.path.join(self.agent_folder(self.owner), "agent.socket"),
                  str(TRICKLE_SECONDS))
        self.peer(None, "answer", os.path.join(self.agent_folder(pwd.getpwuid(os.getuid())), "agent.socket"))
        large = os.path.join(self.root, "trickled.pdf")
        with open(large, "wb") as f:
            f.write(b"%PDF-1.4\n" + b"0" * (TRICKLED_MIB << 20))
        os.chmod(large, 0o644)
        started = time.monotonic()
        trickled = self.cups.print_file(large, "Trickled", as_uid=self.owner.pw_uid)
        behind = self.cups.print_file(self.document, "Behind it")
        self.cups.wait_state(trickled, ("pending-held",), JOB_SECONDS)
        # The peer would have taken all of it, and said "OK", after about 13.5 s.
        self.assertLess(time.monotonic() - started, TIME_LIMIT + TRICKLED_MIB + 2)
        self.cups.wait_log(trickled, "desktop session had not taken it within the 10 s allowed; the job is held")
        self.assertIn("Inkseal: the agent read the document too slowly: " + self.owner.pw_name, self.cups.job_log(trickled))
        self.assertEqual(self.cups.job(trickled)[1], "indefinite")
        self.cups.wait_state(behind, ("completed",), JOB_SECONDS)

    def test_a_refusal_padded_to_the_schedulers_line_limit_changes_neither_the_ppd_nor_the_printer(self):
        # How the refusal was reported, each command at a piece's start: as root, the scheduler once obeyed them.
        said = "ERROR: Inkseal: the desktop session could not take the document: "
        def padded(*commands):
            reason = ""
            for piece, command in enumerate(commands, 1):
                reason += "x" * (piece * SCHEDULER_LINE - len(said) - len(reason)) + command
            return reason
        reasons = [padded("PPD: FoomaticRIPCommandLine=true cupsProtocol=TBCP", "ATTR: printer-alert=injected"),
                   padded("PPD: cupsProtocol=TBCP", "STATE: +inkseal-injected-warning")]
        self.peer(self.owner, "refuse", os.path.join(self.agent_folder(self.owner), "agent.socket"), *reasons)
        ppd = os.path.join(self.cups.root, "etc", "ppd", QUEUE + ".ppd")
        def printer():
            with open(ppd, "rb") as f:
                return f.read(), self.cups.printer_attributes({"printer-alert", "printer-alert-description",
                                                               "printer-state-reasons", "printer-type"})
        before = printer()
        for n in range(len(reasons)):
            job = self.print_as_owner(f"Padded {n}")
            self.cups.wait_state(job, ("aborted",), JOB_SECONDS)
            self.cups.wait_log(job, "the desktop session could not take the document: xxx")
        after = printer()
        self.assertEqual(before[1], after[1])
        self.assertEqual(before[0], after[0])
        for line in self.cups.error_log().splitlines():
            self.assertNotRegex(line, r"\] (PPD|ATTR|STATE): .*(TBCP|injected)", "the scheduler took a user's command")

    def test_the_agent_listens_only_in_a_private_runtime_folder_whatever_another_user_put_in_tmp(self):
        squatted = f"/tmp/inkseal-{self.owner.pw_uid}"
        os.mkdir(squatted, 0o755)
        self.addCleanup(shutil.rmtree, squatted, True)
        os.chown(squatted, OTHER_UID, OTHER_UID)
        env = {name: value for name, value in os.environ.items() if name != "XDG_RUNTIME_DIR"}
        env.update(self.cups.env, INKSEAL_RUNTIME_ROOT=os.path.join(self.root, "nowhere"))
        for runtime, said in ((None, "XDG_RUNTIME_DIR is not set and "), ("/tmp", "XDG_RUNTIME_DIR is /tmp ")):
            result = subprocess.run(as_user(self.owner) + [self.agent], capture_output=True, text=True, timeout=30,
                                    env=dict(env, **({"XDG_RUNTIME_DIR": runtime} if runtime else {})))
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(said, result.stderr)
            self.assertIn("Start the agent from a desktop session", result.stderr)

        # Without XDG_RUNTIME_DIR, logind's folder (here under the test's root) is where it listens.
        socket = os.path.join(self.agent_folder(self.owner), "agent.socket")
        state = os.path.join(self.root, "state")
        os.makedirs(state, exist_ok=True)
        os.chown(state, self.owner.pw_uid, self.owner.pw_gid)
        agent = self.start(as_user(self.owner) + [self.agent],
                           env=dict(env, INKSEAL_RUNTIME_ROOT=self.runtime_root, XDG_STATE_HOME=state,
                                    DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus"))
        wait_for(lambda: os.path.exists(socket) or agent.poll() is not None, "the agent's start")
        self.assertIsNone(agent.poll())
        self.assertEqual(os.listdir(squatted), [])

    def test_a_queue_that_cannot_get_the_authenticated_policy_rejects_jobs(self):
        cups = CupsSandbox(self.runtime_root, authenticated_policy=False, add_queue=False)
        self.addCleanup(cups.stop)
        # A queue an earlier version left accepting jobs under the default policy.
        cups.command(["lpadmin", "-p", QUEUE, "-E", "-v", "inkseal:/",
                      "-P", os.path.join(e2e.SOURCE_DIR, "printer", "inkseal.ppd")])
        result = cups.queue_script("add")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('the Inkseal queue rejects jobs: cupsd.conf has no "authenticated" policy', result.stderr)
        self.assertIn("not accepting", cups.command(["lpstat", "-a", QUEUE]).stdout)
        with self.assertRaisesRegex(e2e.HarnessError, "not accepting"):
            cups.print_file(self.document, "Refused")
        # Only a scheduler of this machine, by its socket: never a server by name.
        result = cups.queue_script("add", env={"INKSEAL_CUPS_SOCKET": "localhost:631"})
        self.assertEqual(result.returncode, 2, result.stderr)
        cups.queue_script("remove", check=True)
        self.assertNotEqual(cups.command(["lpstat", "-p", QUEUE], check=False).returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
