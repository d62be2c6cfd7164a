"""The library's side of the wire, in Python: the same requests, headers and
reading of answers (ids, the mark r, what is taken), for the hub's tests."""
import http.client
import socket

PASSWORD_HEADER = "Zelk-Password"


def headers(user, digest, version="100"):
    return {"Zelk-Version": version, "Zelk-Username": user, PASSWORD_HEADER: digest, "User-Agent": "zelk"}


def request(port, method, path, hdrs, body=None, timeout=30):
    """(status, body bytes); raises OSError or http.client errors on transport faults."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        c.request(method, path, body=body, headers=hdrs)
        r = c.getresponse()
        return r.status, r.read()
    finally:
        c.close()


def send(port, channel, user, digest, text, **kw):
    body = text if isinstance(text, bytes) else text.encode()
    return request(port, "POST", "/zlk/channels/send.aspx?c=" + channel, headers(user, digest, **kw), body)[1]


def receive(port, channel, user, digest, r, timeout=30, **kw):
    return request(port, "GET", "/zlk/channels/receive.aspx?c=%s&r=%d" % (channel, r), headers(user, digest, **kw),
                   timeout=timeout)[1]


def read_answer(answer, r):
    """(kind, messages [(id, text)], highest id) as the library reads a receive answer."""
    if answer.startswith(b"ERR:"):
        return "ERR", [], int(answer[4:] or b"0")
    if not (answer.startswith(b"DATA\r") or answer.startswith(b"NEWDATA\r")):
        return "OTHER", [], 0
    kind = answer.split(b"\r", 1)[0].decode()
    rest = answer.split(b"\r", 1)[1]
    messages, highest = [], 0
    if not rest:
        return kind, messages, 0
    for line in rest.split(b"\r"):
        parts = line.split(b"\t", 2)
        if len(parts) < 2:
            raise ValueError("a line without TAB: %r" % line)
        number = int(parts[0] or b"0")
        if number == 0:
            continue
        highest = max(highest, number)
        if number != r and len(parts) == 3:
            messages.append((number, parts[2].decode("latin-1")))
    return kind, messages, highest


class Receiver:
    """A receiver that polls like the library: r is the highest id of the
    last answer; on a transport fault it goes on through the next hub."""

    def __init__(self, ports, channel, user, digest):
        self.ports, self.channel, self.user, self.digest = list(ports), channel, user, digest
        self.r, self.got, self.faults = 0, [], 0

    def poll_once(self, timeout=30):
        port = self.ports[0]
        try:
            answer = receive(port, self.channel, self.user, self.digest, self.r, timeout=timeout)
        except (OSError, http.client.HTTPException):
            self.faults += 1
            self.ports.append(self.ports.pop(0))
            return False
        kind, messages, highest = read_answer(answer, self.r)
        if kind == "ERR":
            raise AssertionError("hub error %r" % answer)
        self.got += messages
        self.r = highest
        return True


def raw_connection(port):
    return socket.create_connection(("127.0.0.1", port), 5)
