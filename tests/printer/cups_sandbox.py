"""A CUPS daemon of the test's own: its configuration, spool, state, logs
and listening socket all lie in one temporary folder (no network port, the
machine's own CUPS is never touched), with the Inkseal backend in its own
server-bin folder and the Inkseal queue added by the queue script.

The backend learns where the test's runtime folders lie from a SetEnv line
(INKSEAL_RUNTIME_ROOT), as an administrator of a system that keeps them
elsewhere would set it; the queue script finds the daemon by its socket
(INKSEAL_CUPS_SOCKET)."""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.parse

import inkseal_e2e as e2e

START_SECONDS = 30
COMMAND_SECONDS = 30
SYSTEM_CUPS_BIN = "/usr/lib/cups"
QUEUE = "Inkseal"

# The policies of Debian's stock cupsd.conf, shortened: the queue script puts
# the queue under "authenticated".
CUPSD_CONF = """\
Listen {socket}
LogLevel debug
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType Basic
PreserveJobHistory Yes
PreserveJobFiles No
MaxJobs 0
JobRetryLimit 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Cancel-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices Pause-Printer Resume-Printer Enable-Printer Disable-Printer CUPS-Accept-Jobs CUPS-Reject-Jobs Cancel-Jobs>
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
"""

AUTHENTICATED_POLICY = """\
<Policy authenticated>
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    AuthType Default
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Cancel-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
"""

CUPS_FILES_CONF = """\
ServerRoot {root}/etc
RequestRoot {root}/spool
TempDir {root}/spool/tmp
CacheDir {root}/cache
StateDir {root}/state
ServerBin {root}/bin
DataDir /usr/share/cups
AccessLog {root}/log/access_log
ErrorLog {root}/log/error_log
PageLog {root}/log/page_log
SystemGroup root
FileDevice No
Sandboxing Relaxed
SetEnv {runtime_variable} {runtime_root}
{extra}"""


class CupsSandbox:
    def __init__(self, runtime_root, authenticated_policy=True, add_queue=True, backend_env=None):
        """backend_env: more SetEnv lines for the backend; add_queue: whether
        the queue script adds the queue at once."""
        self.root = tempfile.mkdtemp(prefix="inkseal-cups-")
        os.chmod(self.root, 0o755)  # filters run as lp and read the spool
        self.socket = os.path.join(self.root, "cups.sock")
        for folder in ("etc", "spool", "spool/tmp", "cache", "state", "log", "bin", "bin/backend"):
            os.makedirs(os.path.join(self.root, folder), exist_ok=True)
            os.chmod(os.path.join(self.root, folder), 0o755)
        os.chmod(os.path.join(self.root, "spool/tmp"), 0o1777)
        for name in os.listdir(SYSTEM_CUPS_BIN):
            if name != "backend":
                os.symlink(os.path.join(SYSTEM_CUPS_BIN, name), os.path.join(self.root, "bin", name))
        backend = os.path.join(self.root, "bin", "backend", "inkseal")
        shutil.copy(backend_path(), backend)
        os.chmod(backend, 0o700)  # CUPS runs it as root
        with open(os.path.join(self.root, "etc", "cupsd.conf"), "w") as f:
            f.write(CUPSD_CONF.format(socket=self.socket) + (AUTHENTICATED_POLICY if authenticated_policy else ""))
        with open(os.path.join(self.root, "etc", "cups-files.conf"), "w") as f:
            f.write(CUPS_FILES_CONF.format(root=self.root, runtime_variable="INKSEAL_RUNTIME_ROOT",
                                           runtime_root=runtime_root,
                                           extra="".join(f"SetEnv {k} {v}\n" for k, v in (backend_env or {}).items())))
        self.env = {"CUPS_SERVER": self.socket}
        self.process = subprocess.Popen(
            ["/usr/sbin/cupsd", "-f", "-c", os.path.join(self.root, "etc", "cupsd.conf"),
             "-s", os.path.join(self.root, "etc", "cups-files.conf")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        try:
            self._wait_ready()
            if add_queue:
                self.queue_script("add", check=True)
        except BaseException:
            self.stop()
            raise

    def queue_script(self, action, check=False, env=None):
        """Runs inkseal-queue against this daemon; CUPS_SERVER points
        elsewhere, since the script must not follow it."""
        return self.command([os.path.join(e2e.SOURCE_DIR, "printer", "inkseal-queue"), action],
                            env={"INKSEAL_PPD": os.path.join(e2e.SOURCE_DIR, "printer", "inkseal.ppd"),
                                 "INKSEAL_CUPS_SOCKET": self.socket, "CUPS_SERVER": "/nonexistent/cups.sock",
                                 **(env or {})}, check=check)

    def _wait_ready(self):
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise e2e.HarnessError(f"cupsd ended with {self.process.returncode}: {self.error_log()}")
            if os.path.exists(self.socket):
                result = subprocess.run(["lpstat", "-r"], env=self.environment(), capture_output=True,
                                        text=True, timeout=COMMAND_SECONDS)
                if "is running" in result.stdout:
                    return
            time.sleep(0.1)
        raise e2e.HarnessError("cupsd did not start")

    def environment(self, extra=None):
        env = dict(os.environ, **self.env)
        env.update(extra or {})
        return env

    def command(self, arguments, env=None, check=True):
        result = subprocess.run(arguments, env=self.environment(env), capture_output=True, text=True,
                                timeout=COMMAND_SECONDS)
        if check and result.returncode != 0:
            raise e2e.HarnessError(f"{arguments} failed: {result.stdout}{result.stderr}")
        return result

    def print_file(self, path, title, extra=(), as_uid=None):
        """Submits path to the queue (as another user with as_uid); returns
        the job id."""
        user = ["setpriv", f"--reuid={as_uid}", f"--regid={as_uid}", "--clear-groups"] if as_uid else []
        result = self.command([*user, "lp", "-d", QUEUE, "-t", title, *extra, path])
        match = re.search(r"request id is \S+-(\d+)", result.stdout)
        if not match:
            raise e2e.HarnessError(f"lp said: {result.stdout}")
        return int(match.group(1))

    def job(self, job):
        """(job-state keyword, job-hold-until, owner) of a job."""
        result = self.command([e2e.program_path("cups_job_state"), str(job)])
        state, hold_until, owner = (result.stdout.split("\n") + ["", "", ""])[:3]
        return state, hold_until, owner

    def job_state(self, job):
        return self.job(job)[0]

    def wait_state(self, job, states, seconds=60):
        deadline = time.monotonic() + seconds
        state = None
        while time.monotonic() < deadline:
            state = self.job_state(job)
            if state in states:
                return state
            time.sleep(0.2)
        raise AssertionError(f"job {job} is {state}, not {states}; log:\n{self.job_log(job)}")

    def printer_attributes(self, names):
        """{name: value text} of the queue's attributes among names, as ipptool
        reads them through the daemon's socket."""
        uri = "ipp://" + urllib.parse.quote(self.socket, safe="") + "/printers/" + QUEUE
        # Not the file's own checks (a value they reject is what the caller looks for): only its answer.
        result = self.command(["ipptool", "-T", str(COMMAND_SECONDS), "-tv", uri, "get-printer-attributes.test"],
                              check=False)
        found = (re.match(r"\s+(\S+) \([^)]*\) = (.*)", line) for line in result.stdout.splitlines())
        return {m.group(1): m.group(2) for m in found if m and m.group(1) in names}

    def job_log(self, job):
        return "\n".join(line for line in self.error_log().splitlines() if f"[Job {job}]" in line)

    def wait_log(self, job, text, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.job_log(job):
                return
            time.sleep(0.2)
        raise AssertionError(f"job {job} never logged {text!r}:\n{self.job_log(job)}")

    def error_log(self):
        with contextlib.suppress(OSError):
            with open(os.path.join(self.root, "log", "error_log"), encoding="utf-8", errors="replace") as f:
                return f.read()
        return ""

    def stop(self):
        if self.process.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)


def backend_path():
    return os.path.join(e2e.BINARY_DIR, "printer", "backend", "inkseal")
