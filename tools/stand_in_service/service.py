#!/usr/bin/env python3
"""A stand-in for the signature service, for tests and the demo.

Serves HTTPS on loopback with a certificate issued at start by a throwaway
authority of its own, <state-dir>/ca.crt: the programs under test (and the
demo) trust it only through "CertificateAuthorities=" in the vod995.ini
beside them, as an administrator names a private authority.

  PUT  /upload                     stores a PDF when the OAuth PLAINTEXT
                                   Authorization value belongs to a known user
  GET  /documents/<n>              page naming a stored document
  GET  /documents/<n>.pdf          the stored bytes
  GET  /signin                     where unauthorised uploads are sent
  POST /api/v1/getpersonaltoken    the personal-token exchange

and, for tests, from loopback only:

  GET  /_test/requests   every request received (except /_test/ ones), in order
  POST /_test/reset      forget the log and the queued replies
  POST /_test/reply      queue one canned reply for the next token request (or,
                         with "path" in the JSON, the next request to that path)

Usage: service.py --port 0 --state-dir DIR [--host 127.0.0.1]
                  [--certificate-names DNS:other.example]
(--certificate-names replaces the names the certificate is made out for,
to try a client against a certificate for another host.)
Prints "READY https://<host>:<port>" once it accepts connections.
"""

import argparse
import base64
import html
import ipaddress
import json
import os
import re
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

MAX_HEAD_BYTES = 64 * 1024
TOKEN_PATH = "/api/v1/getpersonaltoken"


class User:
    def __init__(self, email, password, totp, keys):
        self.email = email
        self.password = password
        self.totp = totp  # None: no second factor
        self.client_key, self.client_secret, self.token_key, self.token_secret = keys

    def authorization(self):
        return ('OAuth oauth_signature_method="PLAINTEXT",'
                f'oauth_consumer_key="{self.client_key}",'
                f'oauth_token="{self.token_key}",'
                f'oauth_signature="{self.client_secret}&{self.token_secret}"')

    def token_reply(self):
        return {"status": "ok", "message": f"Welcome, {self.email.split('@')[0].capitalize()}.",
                "apitoken": self.client_key, "apisecret": self.client_secret,
                "accesstoken": self.token_key, "accesssecret": self.token_secret}


USERS = [
    User("ada@inkseal.test", "analytical engine", None, ("ck-ada", "cs-ada", "tk-ada", "ts-ada")),
    User("grace@inkseal.test", "cobol", "424242", ("ck-grace", "cs-grace", "tk-grace", "ts-grace")),
]


class BadRequest(Exception):
    pass


class Request:
    def __init__(self, raw_head, body):
        self.raw_head = raw_head
        self.body = body
        text = raw_head.decode("latin-1")
        lines = text.split("\r\n")
        self.request_line = lines[0]
        parts = self.request_line.split(" ")
        if len(parts) != 3:
            raise BadRequest("bad request line")
        self.method, self.target, self.version = parts
        self.path = urllib.parse.urlsplit(self.target).path
        self.headers = []
        for line in lines[1:]:
            if not line:
                continue
            name, sep, value = line.partition(":")
            if not sep:
                raise BadRequest("bad header line")
            self.headers.append([name, value.strip(" \t")])

    def header(self, name):
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return None

    def as_log_entry(self):
        return {"method": self.method, "path": self.path, "request_line": self.request_line,
                "headers": self.headers, "raw_head": self.raw_head.decode("latin-1"),
                "body_base64": base64.b64encode(self.body).decode("ascii")}


class State:
    """Everything the service remembers; shared by the connection threads."""

    def __init__(self, state_dir, base_url):
        self.lock = threading.Lock()
        self.state_dir = state_dir
        self.base_url = base_url
        self.log = []
        self.canned_replies = []

    def take_canned_reply(self, path):
        with self.lock:
            for i, reply in enumerate(self.canned_replies):
                if reply.get("path", TOKEN_PATH) == path:
                    return self.canned_replies.pop(i)
        return None

    def store_document(self, body):
        with self.lock:
            number = 1
            while os.path.exists(self.document_file(number)):
                number += 1
            with open(self.document_file(number), "wb") as f:
                f.write(body)
            return number

    def document_file(self, number):
        return os.path.join(self.state_dir, f"{number}.pdf")


def pdf_title(data):
    """The document's title from its information dictionary, if it has a plain one."""
    m = re.search(rb"/Title\s*\(((?:[^()\\]|\\.){1,200})\)", data)
    if not m:
        return None
    return re.sub(rb"\\(.)", rb"\1", m.group(1)).decode("latin-1")


class Handler(socketserver.StreamRequestHandler):
    state = None  # set by main
    ssl_context = None

    def setup(self):
        self.request.settimeout(30)
        self.request = self.ssl_context.wrap_socket(self.request, server_side=True)
        super().setup()

    def handle(self):
        try:
            while True:
                request = self.read_request()
                if request is None:
                    return
                keep_alive = self.dispatch(request)
                self.wfile.flush()
                if not keep_alive:
                    return
        except (BadRequest, ssl.SSLError, OSError, ValueError):
            return

    # --- reading -----------------------------------------------------------

    def read_request(self):
        head = bytearray()
        while not head.endswith(b"\r\n\r\n"):
            line = self.rfile.readline(MAX_HEAD_BYTES)
            if not line:
                if head:
                    raise BadRequest("connection closed inside the head")
                return None
            if not head and line in (b"\r\n", b"\n"):
                continue  # tolerated blank lines between requests
            head += line
            if len(head) > MAX_HEAD_BYTES:
                raise BadRequest("head too large")
        request = Request(bytes(head), b"")
        if (request.header("Expect") or "").lower() == "100-continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.wfile.flush()
        request.body = self.read_body(request)
        return request

    def read_body(self, request):
        if "chunked" in (request.header("Transfer-Encoding") or "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline(1024).split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.read_exactly(size)
                self.rfile.readline(1024)
        length = request.header("Content-Length")
        if length is None:
            return b""
        if not length.isdigit():
            raise BadRequest("bad Content-Length")
        return self.read_exactly(int(length))

    def read_exactly(self, count):
        data = self.rfile.read(count)
        if len(data) != count:
            raise BadRequest("body cut short")
        return data

    # --- answering ---------------------------------------------------------

    def send(self, status, reason, body=b"", content_type=None, headers=()):
        lines = [f"HTTP/1.1 {status} {reason}"]
        if content_type:
            lines.append(f"Content-Type: {content_type}")
        lines += [f"{n}: {v}" for n, v in headers]
        lines.append(f"Content-Length: {len(body)}")
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)

    def send_json(self, status, value):
        reason = {200: "OK", 401: "Unauthorized"}.get(status, "Status")
        self.send(status, reason, json.dumps(value, separators=(",", ":")).encode("utf-8"), "application/json; charset=utf-8")

    def send_page(self, status, reason, title, body_html):
        page = (f"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>{html.escape(title)}"
                f"</title></head><body><h1>{html.escape(title)}</h1>{body_html}</body></html>\n")
        self.send(status, reason, page.encode("utf-8"), "text/html; charset=utf-8")

    def is_loopback(self):
        try:
            return ipaddress.ip_address(self.client_address[0]).is_loopback
        except ValueError:
            return False

    def dispatch(self, request):
        keep_alive = (request.header("Connection") or "").lower() != "close"
        if request.path.startswith("/_test/"):
            self.test_control(request)
            return keep_alive
        with self.state.lock:
            self.state.log.append(request.as_log_entry())
        canned = self.state.take_canned_reply(request.path)
        if canned is not None:
            self.send_canned(canned)
            return keep_alive

        path, method = request.path, request.method
        if path == "/upload" and method == "PUT":
            self.upload(request)
        elif path == TOKEN_PATH and method == "POST":
            self.personal_token(request)
        elif path == "/signin" and method == "GET":
            self.send_page(200, "OK", "Sign in to Inkseal",
                           "<p>Your upload was not accepted: please sign in again.</p>")
        elif method == "GET" and re.fullmatch(r"/documents/\d+(\.pdf)?", path):
            self.document(path)
        else:
            self.send_page(404, "Not Found", "Not found", "<p>No such page.</p>")
        return keep_alive

    def upload(self, request):
        authorization = request.header("Authorization")
        if not any(authorization == user.authorization() for user in USERS):
            page = b"<!DOCTYPE html><html><body><p>Please sign in.</p></body></html>\n"
            self.send(401, "Unauthorized", page, "text/html; charset=utf-8",
                      headers=[("X-Open-Browser", f"{self.state.base_url}/signin")])
            return
        number = self.state.store_document(request.body)
        # The page's address goes in a header, so a 401 page body cannot be mistaken for it.
        self.send(201, "Created", b"", headers=[
            ("X-Open-Browser", f"{self.state.base_url}/documents/{number}")])

    def document(self, path):
        number = int(re.search(r"\d+", path).group(0))
        file = self.state.document_file(number)
        if not os.path.isfile(file):
            self.send_page(404, "Not Found", "Not found", "<p>No such document.</p>")
            return
        with open(file, "rb") as f:
            data = f.read()
        if path.endswith(".pdf"):
            self.send(200, "OK", data, "application/pdf")
            return
        name = pdf_title(data) or f"Document {number}"
        self.send_page(200, "OK", name,
                       f"<p>Document: <b>{html.escape(name)}</b></p>"
                       f"<p>Size: {len(data)} bytes</p>"
                       f"<p><a href=\"/documents/{number}.pdf\">Download the PDF</a></p>")

    def personal_token(self, request):
        form = urllib.parse.parse_qs(request.body.decode("latin-1"), keep_blank_values=True,
                                     encoding="utf-8", errors="replace")
        field = lambda name: form.get(name, [""])[0]
        for user in USERS:
            if field("email") == user.email and field("password") == user.password:
                if user.totp is not None and field("totp") != user.totp:
                    self.send_json(200, {"status": "error", "message": "Please enter your TOTP code."})
                else:
                    self.send_json(200, user.token_reply())
                return
        self.send_json(401, {"status": "error", "message": "Wrong email or password."})

    def send_canned(self, canned):
        """A reply a test asked for: "raw_base64" is written as it stands; otherwise
        status, headers and body, with a Content-Length unless the test gave its
        own length or transfer coding; "split" sends the head and each half of
        the body in separate writes, a moment apart; "delay" (seconds) stalls
        before anything is sent, as a slow service or proxy would."""
        time.sleep(float(canned.get("delay", 0)))
        if "raw_base64" in canned:
            self.wfile.write(base64.b64decode(canned["raw_base64"]))
            self.wfile.flush()
            raise BadRequest("connection closed after a raw reply")
        status = int(canned.get("status", 200))
        headers = [tuple(h) for h in canned.get("headers", [])]
        body = base64.b64decode(canned.get("body_base64", ""))
        framed = any(n.lower() in ("content-length", "transfer-encoding") for n, _ in headers)
        if not framed:
            headers.append(("Content-Length", str(len(body))))
        head = "".join(f"{n}: {v}\r\n" for n, v in headers)
        head = f"HTTP/1.1 {status} Canned\r\n{head}\r\n".encode("latin-1")
        if not canned.get("split"):
            self.wfile.write(head + body)
            return
        for piece in (head, body[:len(body) // 2], body[len(body) // 2:]):
            self.wfile.write(piece)
            self.wfile.flush()
            time.sleep(0.05)

    def test_control(self, request):
        if not self.is_loopback():
            self.send_page(403, "Forbidden", "Forbidden", "")
            return
        if request.path == "/_test/requests" and request.method == "GET":
            with self.state.lock:
                body = json.dumps(self.state.log).encode("utf-8")
            self.send(200, "OK", body, "application/json")
        elif request.path == "/_test/reset" and request.method == "POST":
            with self.state.lock:
                self.state.log.clear()
                self.state.canned_replies.clear()
            self.send(204, "No Content")
        elif request.path == "/_test/reply" and request.method == "POST":
            reply = json.loads(request.body.decode("utf-8"))
            with self.state.lock:
                self.state.canned_replies.append(reply)
            self.send(204, "No Content")
        else:
            self.send_page(404, "Not Found", "Not found", "")


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_certificate(state_dir, host, names=None):
    """The authority (ca.crt) and the service's certificate it issued."""
    authority = os.path.join(state_dir, "ca.crt")
    authority_key = os.path.join(state_dir, "ca-key.pem")
    cert = os.path.join(state_dir, "service-cert.pem")
    key = os.path.join(state_dir, "service-key.pem")
    request = os.path.join(state_dir, "service.csr")
    extensions = os.path.join(state_dir, "service.ext")
    if names is None:
        names = "IP:127.0.0.1,DNS:localhost"
    if host not in ("127.0.0.1", "localhost") and names == "IP:127.0.0.1,DNS:localhost":
        kind = "IP" if re.fullmatch(r"[\d.]+|[0-9a-fA-F:]+", host) else "DNS"
        names += f",{kind}:{host}"
    with open(extensions, "w") as f:
        f.write(f"subjectAltName={names}\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")

    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "7",
            "-subj", "/CN=Inkseal stand-in authority", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", authority_key, "-out", authority)
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Inkseal stand-in service",
            "-keyout", key, "-out", request)
    openssl("x509", "-req", "-in", request, "-CA", authority, "-CAkey", authority_key, "-sha256", "-days", "7",
            "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-extfile", extensions, "-out", cert)
    return cert, key


def main():
    parser = argparse.ArgumentParser(description="Stand-in signature service (HTTPS, loopback)")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--certificate-names")
    args = parser.parse_args()

    os.makedirs(args.state_dir, exist_ok=True)
    cert, key = make_certificate(args.state_dir, args.host, args.certificate_names)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)

    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    Server.address_family = family
    server = Server((args.host, args.port), Handler)
    port = server.server_address[1]
    url_host = f"[{args.host}]" if family == socket.AF_INET6 else args.host
    base_url = f"https://{url_host}:{port}"
    Handler.state = State(args.state_dir, base_url)
    Handler.ssl_context = context

    def stop(_signum, _frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print(f"READY {base_url}", flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
