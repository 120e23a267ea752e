"""Stand-ins around an agent's socket for the printer's security tests, each
started as the user it plays and ending on its own after LIFETIME seconds:

  answer PATH          an agent that takes each job whole and answers "OK"
  refuse PATH REASON.. an agent that takes each job whole and refuses it with
                       the next REASON in turn ("ERROR REASON")
  trickle PATH SECONDS an agent that reads one frame of the document every
                       SECONDS and answers "OK" at the end: slow, yet never
                       silent
  stall PATH           an agent that accepts connections and never answers
  freeze PATH          an agent that stops (SIGSTOP) each process that
                       connects, which it may, the backend acting as its user
  record PATH LOG      a service of root's that appends every byte it gets to
                       LOG (made connectable by anyone, as the system bus is)
  swap FOLDER NAME...  swaps FOLDER/agent.socket with each of the other names
                       and back, in turn, until FOLDER/stop appears
"""

import ctypes
import itertools
import os
import signal
import socket
import struct
import sys
import threading
import time

LIFETIME = 120
AT_FDCWD = -100
RENAME_EXCHANGE = 2
HEADER_FRAMES = 3  # user, job, title


def listen(path):
    server = socket.socket(socket.AF_UNIX)
    server.bind(path)
    server.listen(16)
    return server


def receive_exactly(connection, size):
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def serve_answers(path, replies=(b"OK",), pause=0.0):
    server = listen(path)
    for turn in itertools.count():
        connection, _ = server.accept()
        connection.settimeout(30)
        try:
            with connection:
                for frame in itertools.count():
                    (length,) = struct.unpack(">I", receive_exactly(connection, 4))
                    if length == 0:
                        break
                    receive_exactly(connection, length)
                    if frame >= HEADER_FRAMES:
                        time.sleep(pause)
                connection.sendall(replies[turn % len(replies)] + b"\n")
        except (EOFError, OSError):
            pass


def serve_stalls(path, freeze=False):
    server = listen(path)
    held = []
    while True:
        held.append(server.accept()[0])
        if freeze:
            pid, _, _ = struct.unpack("3i", held[-1].getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))
            os.kill(pid, signal.SIGSTOP)


def serve_records(path, log):
    server = listen(path)
    os.chmod(path, 0o666)
    while True:
        connection, _ = server.accept()
        connection.settimeout(5)
        with connection, open(log, "ab") as out:
            try:
                while chunk := connection.recv(65536):
                    out.write(chunk)
                    out.flush()
            except OSError:
                pass


def swap(folder, names):
    libc = ctypes.CDLL(None, use_errno=True)
    target = os.path.join(folder, "agent.socket").encode()
    others = [os.path.join(folder, name).encode() for name in names]
    swaps = 0
    while not os.path.exists(os.path.join(folder, "stop")):
        for _ in range(1000):
            for other in others:  # away and back: a link half of the time
                for _ in range(2):
                    if libc.renameat2(AT_FDCWD, target, AT_FDCWD, other, RENAME_EXCHANGE) != 0:
                        sys.exit(f"renameat2: {os.strerror(ctypes.get_errno())}")
        swaps += 2000 * len(others)
    print(swaps, flush=True)


def main(mode, *arguments):
    threading.Timer(LIFETIME, os._exit, (0,)).start()
    if mode == "swap":
        swap(arguments[0], list(arguments[1:]))
    else:
        {"answer": serve_answers, "stall": serve_stalls, "record": serve_records,
         "refuse": lambda path, *reasons: serve_answers(path, [b"ERROR " + r.encode() for r in reasons]),
         "trickle": lambda path, seconds: serve_answers(path, pause=float(seconds)),
         "freeze": lambda path: serve_stalls(path, freeze=True)}[mode](*arguments)
    os._exit(0)


if __name__ == "__main__":
    main(*sys.argv[1:])
