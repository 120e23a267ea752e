"""tools/stand_in_service/service.py on loopback, started once per test class,
with its test-control calls (request log, reset, canned replies)."""

import base64
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.request

import inkseal_e2e as e2e

START_SECONDS = 30



class StandInService:
    def __init__(self, certificate_names=None):
        """certificate_names: made out for these (e.g. "DNS:elsewhere.invalid")
        instead of this machine's loopback names."""
        self.state_dir = tempfile.mkdtemp(prefix="inkseal-service-")
        names = ["--certificate-names", certificate_names] if certificate_names else []
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(e2e.SOURCE_DIR, "tools", "stand_in_service", "service.py"),
             "--port", "0", "--state-dir", self.state_dir] + names,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()),
                                  daemon=True)
        reader.start()
        reader.join(START_SECONDS)
        if not line or not line[0].startswith("READY https://"):
            self.stop()
            raise e2e.HarnessError("the stand-in service did not start")
        # base_url: the service's own address, in the pages it names;
        # url and host: where the programs reach it.
        self.base_url = self.url = line[0].split()[1]
        self.host = self.url[len("https://"):]
        # The service's own authority: the programs trust it through the
        # settings file beside them (trust_settings), as an administrator
        # names a private one; the harness's own calls check it too.
        self.ca_file = os.path.join(self.state_dir, "ca.crt")
        self._trusting = ssl.create_default_context(cafile=self.ca_file)
        self._trusting.check_hostname = certificate_names is None
        if e2e.WINDOWS:
            # Windows takes a private authority from the machine's store,
            # where an administrator adds it.  Wine's WinHTTP matches only
            # the DNS names of a certificate, not its IP addresses, so the
            # programs reach the service by the name "localhost".
            subprocess.run([e2e.WINE_RUN, e2e.program_path("trust_authority"), e2e.program_path_text(self.ca_file)],
                           env=dict(os.environ, INKSEAL_BINARY_DIR=e2e.BINARY_DIR), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True, timeout=START_SECONDS * 4)
            self.url = self.url.replace("://127.0.0.1:", "://localhost:")
            self.host = self.url[len("https://"):]

    def trust_settings(self):
        """The vod995.ini key (beside the programs) that trusts this service."""
        return {"CertificateAuthorities": e2e.program_path_text(self.ca_file)}

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self.process.stdout.close()
        shutil.rmtree(self.state_dir, ignore_errors=True)

    def _call(self, method, path, body=b""):
        request = urllib.request.Request(self.url + path, method=method,
                                         data=body if method == "POST" else None)
        with urllib.request.urlopen(request, context=self._trusting, timeout=20) as reply:
            return reply.read()

    def requests(self):
        return json.loads(self._call("GET", "/_test/requests"))

    def reset(self):
        self._call("POST", "/_test/reset")

    def queue_reply(self, path, status, headers, body=b"", delay=0):
        """The next request to path gets this reply instead of the usual one,
        after delay seconds."""
        self._call("POST", "/_test/reply", json.dumps({
            "path": path, "status": status, "headers": headers, "delay": delay,
            "body_base64": base64.b64encode(body).decode("ascii")}).encode("utf-8"))

    def fetch(self, url):
        with urllib.request.urlopen(url, context=self._trusting, timeout=20) as reply:
            return reply.read().decode("utf-8", "replace")
