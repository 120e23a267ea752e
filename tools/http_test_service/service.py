#!/usr/bin/env python3
"""A scriptable HTTP/HTTPS server on loopback for the HTTP client's tests.

It listens on loopback: plain http twice, https with a certificate for
127.0.0.1, one that has expired, and one made out for another host name, and
a throttled plain http port (see throttle=).  The three certificates are
issued at start, with the openssl command, by a throwaway authority of the
run: <dir>/ca.crt, which the clients under test are told to trust.

Each request says how it wants to be answered in its own path, so the same
test drives the service identically from Linux and from Wine:

    /t/<tag>/<directive>/<directive>/...

Directives (values percent-decoded):
    status=<n>        status code (default 200)
    h=<line>          a header line, sent exactly as given (repeatable)
    hfirst=<line>     a header line sent only to the first request of this tag
    body=<bytes>      the body, any bytes (percent-encoded)
    size=<n>          a body of n bytes of the pattern "abc...z" repeated
    piece=<n>         write the body in pieces of n bytes, flushing each
    chunked=<n>       chunked transfer coding, n bytes per chunk
    close=1           no Content-Length: the body ends when the connection does
    drop=1            read the request, then close without answering
    dropfirst=1       drop only the first request of this tag
    stallfirst=<s>    wait s seconds before answering the first request of
                      this tag (and then drop it)
    stallbody=<s>     send the head and the first half of the body, then wait
                      s seconds and close
    location=<url>    status 302 (unless given) with this Location
    self=1            status 302 with the request's own path as Location
    endless=1         a body without end (no Content-Length), as fast as
                      the client takes it
    endlesshead=1     header lines without end
    trickle=<s>       announce a body of 1 MiB, then send one byte every s
                      seconds
    garbage=1         answer with bytes that are no HTTP at all
    throttle=<n>      read the request body at about n bytes a second, in
                      segments of 1460 bytes (on the "http_throttled"
                      port, whose receive buffer is small, a slow uplink)

It listens on plain http twice ("http" and "http_other", another port), so
a redirect can send a request to a second server.

Every request is recorded exactly as received (head and body bytes) in
<dir>/log/<tag>.<n>, n counting from 1 per tag.  Requests outside /t/ are
recorded under the tag "_other" and answered 404.

Usage: service.py --dir DIR
Prints one line "READY <json>" with the base URLs once every port accepts
connections, then serves until stdin closes or it is terminated.
"""

import argparse
import json
import os
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http import HTTPStatus

MAX_HEAD_BYTES = 256 * 1024
PATTERN = b"abcdefghijklmnopqrstuvwxyz"
READ_SIZE = 1 << 16
SEGMENT_BYTES = 1460
THROTTLED_RECEIVE_BUFFER = 8192

CA_CONFIG = """[ ca ]
default_ca = test_ca
[ test_ca ]
database = {dir}/index.txt
unique_subject = no
new_certs_dir = {dir}
serial = {dir}/serial
default_md = sha256
policy = any_name
copy_extensions = copy
[ any_name ]
commonName = supplied
"""


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder):
    """ca: the run's authority; good: valid for 127.0.0.1; expired: valid
    only in 2020; wrong_name: for another host.  All three issued by ca."""
    ca_dir = os.path.join(folder, "ca")
    os.makedirs(ca_dir, exist_ok=True)
    open(os.path.join(ca_dir, "index.txt"), "w").close()
    with open(os.path.join(ca_dir, "serial"), "w") as serial:
        serial.write("01\n")
    with open(os.path.join(ca_dir, "ca.cnf"), "w") as config:
        config.write(CA_CONFIG.format(dir=ca_dir))
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", f"{ca_dir}/ca.key",
            "-out", f"{folder}/ca.crt", "-subj", "/CN=Inkseal test authority",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(name, common_name, alt_names, *dates):
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{folder}/{name}.key",
                "-out", f"{ca_dir}/{name}.csr", "-subj", f"/CN={common_name}",
                "-addext", f"subjectAltName={alt_names}")
        openssl("ca", "-batch", "-config", f"{ca_dir}/ca.cnf", "-cert", f"{folder}/ca.crt",
                "-keyfile", f"{ca_dir}/ca.key", "-in", f"{ca_dir}/{name}.csr", "-out", f"{folder}/{name}.crt",
                *dates)

    issue("good", "127.0.0.1", "IP:127.0.0.1,DNS:localhost", "-days", "2")
    issue("wrong_name", "wrong-name.invalid", "DNS:wrong-name.invalid", "-days", "2")
    issue("expired", "127.0.0.1", "IP:127.0.0.1,DNS:localhost",
          "-startdate", "20200101000000Z", "-enddate", "20200201000000Z")


class Script:
    """How one request is to be answered, read from its path."""

    def __init__(self, path):
        self.tag = "_other"
        self.status = 404
        self.headers = []
        self.first_headers = []
        self.body = b""
        self.piece = 0
        self.chunked = 0
        self.close = False
        self.drop = False
        self.drop_first = False
        self.stall_first = 0.0
        self.stall_body = 0.0
        self.endless = False
        self.endless_head = False
        self.trickle = 0.0
        self.garbage = False
        self.throttle = 0
        parts = path.split("/")
        if len(parts) < 3 or parts[0] != "" or parts[1] != "t" or not parts[2]:
            return
        self.tag = urllib.parse.unquote(parts[2])
        self.status = None
        for directive in parts[3:]:
            key, _, raw = directive.partition("=")
            value = urllib.parse.unquote_to_bytes(raw)
            text = value.decode("latin-1")
            if key == "status":
                self.status = int(text)
            elif key == "h":
                self.headers.append(value)
            elif key == "hfirst":
                self.first_headers.append(value)
            elif key == "body":
                self.body = value
            elif key == "size":
                count = int(text)
                self.body = (PATTERN * (count // len(PATTERN) + 1))[:count]
            elif key == "piece":
                self.piece = int(text)
            elif key == "chunked":
                self.chunked = int(text)
            elif key == "close":
                self.close = True
            elif key == "drop":
                self.drop = True
            elif key == "dropfirst":
                self.drop_first = True
            elif key == "stallfirst":
                self.stall_first = float(text)
            elif key == "stallbody":
                self.stall_body = float(text)
            elif key == "self":
                self.headers.append(b"Location: " + path.encode("latin-1"))
                self.status = self.status or 302
            elif key == "endless":
                self.endless = True
            elif key == "endlesshead":
                self.endless_head = True
            elif key == "trickle":
                self.trickle = float(text)
            elif key == "throttle":
                self.throttle = int(text)
            elif key == "garbage":
                self.garbage = True
            elif key == "location":
                self.headers.append(b"Location: " + value)
                self.status = self.status or 302
        self.status = self.status or 200


class Service:
    def __init__(self, folder):
        self.log_dir = os.path.join(folder, "log")
        os.makedirs(self.log_dir, exist_ok=True)
        self.counts = {}
        self.lock = threading.Lock()

    def record(self, tag, raw):
        """Stores one request; returns how many this tag has had, this one included."""
        with self.lock:
            count = self.counts.get(tag, 0) + 1
            self.counts[tag] = count
        safe = "".join(c if c.isalnum() or c in "-_" else "_" for c in tag)
        with open(os.path.join(self.log_dir, f"{safe}.{count}"), "wb") as log:
            log.write(raw)
        return count


class Connection(socketserver.BaseRequestHandler):
    def setup(self):
        self.buffer = b""
        self.rate = 0  # bytes a second the body is read at; 0: as fast as it comes
        self.request.settimeout(120)
        if self.server.context is not None:
            # In this connection's own thread, so a slow handshake holds up no one.
            self.request = self.server.context.wrap_socket(self.request, server_side=True)

    def receive(self):
        if self.rate:
            time.sleep(SEGMENT_BYTES / self.rate)
        data = self.request.recv(SEGMENT_BYTES if self.rate else READ_SIZE)
        if not data:
            raise EOFError
        self.buffer += data

    def take(self, count):
        while len(self.buffer) < count:
            self.receive()
        taken, self.buffer = self.buffer[:count], self.buffer[count:]
        return taken

    def take_line(self):
        while b"\r\n" not in self.buffer:
            if len(self.buffer) > MAX_HEAD_BYTES:
                raise EOFError
            self.receive()
        line, _, self.buffer = self.buffer.partition(b"\r\n")
        return line + b"\r\n"

    def read_request(self):
        """The request's bytes as received, its path, and whether its end could be found."""
        while b"\r\n\r\n" not in self.buffer:
            if len(self.buffer) > MAX_HEAD_BYTES:
                raise EOFError
            self.receive()
        end = self.buffer.index(b"\r\n\r\n") + 4
        head = self.take(end)
        lines = head.decode("latin-1").split("\r\n")
        path = lines[0].split(" ")[1] if len(lines[0].split(" ")) > 1 else "/"
        if path.startswith("http://") or path.startswith("https://"):
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
        fields = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            fields.setdefault(name.strip().lower(), value.strip())
        raw = head
        self.rate = Script(path).throttle
        if "chunked" in fields.get("transfer-encoding", "").lower():
            while True:
                size_line = self.take_line()
                raw += size_line
                size = int(size_line.split(b";")[0].strip() or b"0", 16)
                raw += self.take(size + 2)
                if size == 0:
                    break
        elif "content-length" in fields:
            try:
                length = int(fields["content-length"])
            except ValueError:
                return raw, path, False  # no telling where the body ends
            raw += self.take(length)
        self.rate = 0
        return raw, path, True

    def handle(self):
        service = self.server.service
        try:
            while True:
                raw, path, framed = self.read_request()
                script = Script(path)
                count = service.record(script.tag, raw)
                if not framed:
                    self.request.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                    return
                if count == 1 and script.stall_first:
                    time.sleep(script.stall_first)
                    return
                if script.drop or (count == 1 and script.drop_first):
                    return
                self.answer(script, first=count == 1)
                if script.close:
                    return
        except (EOFError, ConnectionError, socket.timeout, ssl.SSLError, OSError):
            return

    def answer(self, script, first):
        if script.garbage:
            self.request.sendall(b"SSH-2.0-not-http\r\n\r\n")
            raise EOFError
        if script.endless or script.endless_head or script.trickle:
            self.answer_without_end(script)
            return
        try:
            reason = HTTPStatus(script.status).phrase
        except ValueError:
            reason = "Status"
        head = f"HTTP/1.1 {script.status} {reason}\r\n".encode("latin-1")
        for line in script.headers + (script.first_headers if first else []):
            head += line + b"\r\n"
        if script.chunked:
            head += b"Transfer-Encoding: chunked\r\n"
        elif script.close:
            head += b"Connection: close\r\n"
        else:
            head += f"Content-Length: {len(script.body)}\r\n".encode("latin-1")
        head += b"\r\n"
        self.request.sendall(head)
        body = script.body
        if script.chunked:
            for start in range(0, len(body), script.chunked):
                chunk = body[start:start + script.chunked]
                self.request.sendall(f"{len(chunk):x}\r\n".encode("latin-1") + chunk + b"\r\n")
            self.request.sendall(b"0\r\n\r\n")
        elif script.stall_body:
            self.request.sendall(body[:len(body) // 2])
            time.sleep(script.stall_body)
            raise EOFError
        elif script.piece:
            for start in range(0, len(body), script.piece):
                self.request.sendall(body[start:start + script.piece])
                time.sleep(0.01)
        else:
            self.request.sendall(body)


    def answer_without_end(self, script):
        """Until the client gives up (the send fails) or a minute has passed."""
        stop = time.monotonic() + 60
        if script.endless_head:
            self.request.sendall(b"HTTP/1.1 200 OK\r\n")
            line = b"X-Filler: " + PATTERN * 38 + b"\r\n"
            while time.monotonic() < stop:
                self.request.sendall(line * 64)
        elif script.endless:
            self.request.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
            block = PATTERN * (READ_SIZE // len(PATTERN))
            while time.monotonic() < stop:
                self.request.sendall(block)
        else:
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n")
            while time.monotonic() < stop:
                self.request.sendall(b"x")
                time.sleep(script.trickle)
        raise EOFError


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, service, context=None, receive_buffer=0):
        self.service = service
        self.context = context
        self.receive_buffer = receive_buffer
        super().__init__(("127.0.0.1", 0), Connection)

    def server_bind(self):
        # Before listening, so that the window the connection offers is small.
        if self.receive_buffer:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self.receive_buffer)
        super().server_bind()

    def handle_error(self, request, client_address):
        pass  # a client refusing the certificate is part of the tests


def tls_context(folder, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(f"{folder}/{name}.crt", f"{folder}/{name}.key")
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    os.makedirs(folder, exist_ok=True)
    make_certificates(folder)
    service = Service(folder)
    servers = {
        "http": Server(service),
        "http_other": Server(service),
        "https": Server(service, tls_context(folder, "good")),
        "https_expired": Server(service, tls_context(folder, "expired")),
        "https_wrong_name": Server(service, tls_context(folder, "wrong_name")),
        "http_throttled": Server(service, receive_buffer=THROTTLED_RECEIVE_BUFFER),
    }
    for server in servers.values():
        threading.Thread(target=server.serve_forever, daemon=True).start()
    urls = {name: f"{'https' if name.startswith('https') else 'http'}://127.0.0.1:{server.server_address[1]}"
            for name, server in servers.items()}
    urls["log_dir"] = service.log_dir
    urls["ca_file"] = os.path.join(folder, "ca.crt")
    print("READY " + json.dumps(urls), flush=True)
    # Serve until whoever started us closes our stdin or ends us.
    try:
        sys.stdin.read()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
