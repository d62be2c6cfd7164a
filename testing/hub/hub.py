"""A message hub for tests, speaking the hub's wire protocol. The test web
server (testing/http/server.py) hands it every request under /zlk/channels/
that no script answers, so scripted faults per channel or per request (an
"ERR:" number, an answer that is neither, an empty body, a slow answer, a
dropped connection) come from the server's own scripts.

Protocol, as the library speaks it:
  POST /zlk/channels/send.aspx?c=CHANNEL        body: the message bytes
       -> "OKAY", the message stored under the channel's next id (1, 2, ...)
  GET  /zlk/channels/receive.aspx?c=CHANNEL&r=R
       -> "NEWDATA" (R = 0) or "DATA", then CR and the mark line "R TAB TAB"
          (R > 0: the receiver skips it, so that an answer with nothing new
          still carries the mark), then for each message after R:
          CR, id TAB user TAB text. R = 0 is a new receiver: it gets every
          message kept. An R above the channel's latest id (data that is
          gone) counts as 0. With nothing after R the request is held until
          a message arrives, for up to the hold time.
  Headers Zelk-Version: 100, Zelk-Username and Zelk-Password (MD5 of the
  user's password as 32 lower-case hexadecimal digits) are checked.
  The error numbers are the real hub's (hub/README.md): 2010 another
  version, 2001 an unknown user or a wrong digest, 2414 an empty or too
  long channel name, 1413 a message too long, 1411 an empty message, 1400
  an unknown path or an r that is not a number. TAB, CR, LF and zero bytes
  of a message become spaces.

Control (under /__control/hub/):
  user?name=U        body: the password (UTF-8): registers or replaces U
  hold?c=C&ms=N      how long a receive request of C waits for a message
                     (5000 ms unless set)
  post?c=C&user=U    body: a message stored as if U had sent it
  stop?c=C / start?c=C
                     while C is stopped, each of its requests has its
                     connection reset, held ones included; its messages stay
                     (per channel, so that tests running at once do not meet)
"""
import hashlib
import http.client
import os
import socket
import subprocess
import threading
import time
import urllib.parse

VERSION = "100"
MAX_MESSAGE_BYTES = 4096
MAX_CHANNEL_BYTES = 64


class Hub:
    def __init__(self):
        self.changed = threading.Condition()
        self.channels = {}  # name -> [(id, user, text bytes)]
        self.users = {}     # name -> digest
        self.hold_ms = {}   # channel -> ms
        self.stopped = set()  # channels

    # -- control ---------------------------------------------------------
    def control(self, command, query, body):
        one = lambda k, d="": query.get(k, [d])[0]
        with self.changed:
            if command == "user":
                self.users[one("name")] = hashlib.md5(body).hexdigest()
            elif command == "hold":
                self.hold_ms[one("c")] = int(one("ms", "5000"))
            elif command == "post":
                self._store(one("c"), one("user"), body)
            elif command == "stop":
                self.stopped.add(one("c"))
            elif command == "start":
                self.stopped.discard(one("c"))
            else:
                return None
            self.changed.notify_all()
        return b"hub " + command.encode()

    # -- requests: (body) to answer, None to reset the connection ----------
    def handle(self, method, path, headers, body):
        parsed = urllib.parse.urlsplit(path)
        query = {}
        for pair in parsed.query.split("&"):
            name, _, value = pair.partition("=")
            query.setdefault(name, urllib.parse.unquote(value, encoding="latin-1"))
        channel = query.get("c", "")
        with self.changed:
            if channel in self.stopped:
                return None
            refusal = self._refusal(headers)
        if refusal:
            return refusal
        user = headers.get("Zelk-Username", "")
        if not channel or len(channel.encode("latin-1", "replace")) > MAX_CHANNEL_BYTES:
            return b"ERR:2414"
        if parsed.path == "/zlk/channels/send.aspx" and method == "POST":
            if len(body) > MAX_MESSAGE_BYTES:
                return b"ERR:1413"
            if not body:
                return b"ERR:1411"
            with self.changed:
                self._store(channel, user, body)
                self.changed.notify_all()
            return b"OKAY"
        if parsed.path == "/zlk/channels/receive.aspx" and method == "GET":
            try:
                r = int(query.get("r", "0"))
            except ValueError:
                return b"ERR:1400"
            return self._receive(channel, r)
        return b"ERR:1400"

    def _refusal(self, headers):
        if headers.get("Zelk-Version") != VERSION:
            return b"ERR:2010"
        digest = self.users.get(headers.get("Zelk-Username", ""))
        if digest is None or headers.get("Zelk-Password") != digest:
            return b"ERR:2001"
        return None

    def _store(self, channel, user, text):
        messages = self.channels.setdefault(channel, [])
        for c in b"\t\r\n\0":
            text = text.replace(bytes([c]), b" ")
        messages.append((len(messages) + 1, user, text))

    def _receive(self, channel, r):
        with self.changed:
            if r < 0 or r > len(self.channels.get(channel, [])):
                r = 0
        deadline = time.monotonic() + self.hold_ms.get(channel, 5000) / 1000.0
        with self.changed:
            while True:
                if channel in self.stopped:
                    return None
                messages = self.channels.get(channel, [])
                if len(messages) > r or time.monotonic() >= deadline:
                    break
                self.changed.wait(min(0.2, max(0.0, deadline - time.monotonic())))
            lines = [b"%d\t\t" % r] if r > 0 else []
            lines += [b"%d\t%s\t%s" % (i, user.encode("latin-1", "replace"), text) for i, user, text in messages
                      if i > r]
        keyword = b"NEWDATA" if r == 0 else b"DATA"
        return keyword + b"\r" + b"\r".join(lines)


def channel_of(path):
    query = urllib.parse.urlsplit(path).query
    for pair in query.split("&"):
        name, _, value = pair.partition("=")
        if name == "c":
            return urllib.parse.unquote(value, encoding="latin-1")
    return ""


# Channels whose names begin with this go to the real hub (hub/), when the
# library's tests run against it (LUMAREL_REAL_HUB=1, see testing/http).
REAL_PREFIX = "realhub-"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


class RealHub:
    """Hands requests to a running lumarel-hub (hub/tests/real-hub starts one
    on 127.0.0.1:8478 with its Redis on :8479), so that the library's tests
    meet the real hub. Users are added with the hub's admin command; a
    stopped channel has its requests' connections reset here, held ones
    included, as the test hub does; the hold time is the hub's own."""

    def __init__(self, port=8478, redis_port=8479,
                 admin=os.path.join(ROOT, "build", "host", "hub", "lumarel-hub-admin")):
        self.port, self.redis_port, self.admin = port, redis_port, admin
        self.lock = threading.Lock()
        self.digests = {}
        self.stopped = set()

    def control(self, command, query, body):
        one = lambda k, d="": query.get(k, [d])[0]
        if command == "user":
            # A test may give a user a new password: the name may exist already.
            added = subprocess.run([self.admin, "--redis-port", str(self.redis_port), "add", one("name"), "--replace"],
                                   input=body + b"\n", capture_output=True)
            if added.returncode != 0:
                return None
            with self.lock:
                self.digests[one("name")] = hashlib.md5(body).hexdigest()
        elif command == "hold":
            pass
        elif command == "post":
            with self.lock:
                digest = self.digests.get(one("user"), "")
            headers = {"Zelk-Version": VERSION, "Zelk-Username": one("user"), "Zelk-Password": digest}
            path = "/zlk/channels/send.aspx?c=" + urllib.parse.quote(one("c"), safe="")
            if self._forward("POST", path, headers, body, one("c")) != b"OKAY":
                return None
        elif command in ("stop", "start"):
            with self.lock:
                (self.stopped.add if command == "stop" else self.stopped.discard)(one("c"))
        else:
            return None
        return b"hub " + command.encode()

    def handle(self, method, path, headers, body):
        names = ("Zelk-Version", "Zelk-Username", "Zelk-Password", "User-Agent")
        return self._forward(method, path, {n: headers[n] for n in names if headers.get(n) is not None}, body,
                             channel_of(path))

    def _is_stopped(self, channel):
        with self.lock:
            return channel in self.stopped

    def _forward(self, method, path, headers, body, channel):
        """The hub's answer, or None (the connection is to be reset)."""
        if self._is_stopped(channel):
            return None
        result = {}
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=130)

        def exchange():
            try:
                connection.request(method, path, body=body or None, headers=headers)
                result["answer"] = connection.getresponse().read()
            except (OSError, http.client.HTTPException):
                pass
        worker = threading.Thread(target=exchange, daemon=True)
        worker.start()
        while worker.is_alive():
            worker.join(0.1)
            if self._is_stopped(channel):
                if connection.sock is not None:
                    connection.sock.shutdown(socket.SHUT_RDWR)
                worker.join(5)
                return None
        connection.close()
        return result.get("answer")


class Router:
    """The test hub, and the real hub for channels named for it."""

    def __init__(self):
        self.test, self.real = Hub(), RealHub()

    def _pick(self, channel):
        return self.real if channel.lower().startswith(REAL_PREFIX) else self.test

    def control(self, command, query, body):
        if command == "user":
            done = self.test.control(command, query, body)
            # The real hub may not run: only the runs against it need it.
            try:
                self.real.control(command, query, body)
            except OSError:
                pass
            return done
        return self._pick(query.get("c", [""])[0]).control(command, query, body)

    def handle(self, method, path, headers, body):
        return self._pick(channel_of(path)).handle(method, path, headers, body)
