"""A message hub for tests, speaking the hub's wire protocol. The test web
server (testing/http/server.py) hands it every request under /zlk/channels/
that no script answers, so scripted faults per channel or per request (an
"ERR:" number, an answer that is neither, an empty body, a slow answer, a
dropped connection) come from the server's own scripts.

Protocol, as the library speaks it:
  POST /zlk/channels/send.aspx?c=CHANNEL        body: the message bytes
       -> "OKAY", the message stored under the channel's next id (1, 2, ...)
  GET  /zlk/channels/receive.aspx?c=CHANNEL&r=R
       -> "NEWDATA" (R = 0) or "DATA", then for each message from id R on:
          CR, id TAB user TAB text. The line of id R itself is repeated (the
          receiver skips it) so that an answer with nothing new still carries
          the mark. With nothing after R the request is held until a message
          arrives, for up to the hold time.
  Headers Zelk-Version: 100, Zelk-Username and Zelk-Password (MD5 of the
  user's password as 32 lower-case hexadecimal digits) are checked:
  "ERR:2010" for another version, "ERR:2001" for an unknown user or a
  wrong digest.

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
import threading
import time
import urllib.parse

VERSION = "100"


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
        if parsed.path == "/zlk/channels/send.aspx" and method == "POST":
            with self.changed:
                self._store(channel, user, body)
                self.changed.notify_all()
            return b"OKAY"
        if parsed.path == "/zlk/channels/receive.aspx" and method == "GET":
            try:
                r = int(query.get("r", "0"))
            except ValueError:
                return b"ERR:1300"
            return self._receive(channel, r)
        return b"ERR:1404"

    def _refusal(self, headers):
        if headers.get("Zelk-Version") != VERSION:
            return b"ERR:2010"
        digest = self.users.get(headers.get("Zelk-Username", ""))
        if digest is None or headers.get("Zelk-Password") != digest:
            return b"ERR:2001"
        return None

    def _store(self, channel, user, text):
        messages = self.channels.setdefault(channel, [])
        messages.append((len(messages) + 1, user, text))

    def _receive(self, channel, r):
        deadline = time.monotonic() + self.hold_ms.get(channel, 5000) / 1000.0
        with self.changed:
            while True:
                if channel in self.stopped:
                    return None
                messages = self.channels.get(channel, [])
                if len(messages) > r or time.monotonic() >= deadline:
                    break
                self.changed.wait(min(0.2, max(0.0, deadline - time.monotonic())))
            lines = [m for m in messages if m[0] >= r and m[0] > 0]
        keyword = b"NEWDATA" if r == 0 else b"DATA"
        body = keyword + b"\r" + b"\r".join(
            b"%d\t%s\t%s" % (i, user.encode("latin-1", "replace"), text) for i, user, text in lines)
        return body
