#!/usr/bin/env python3
"""A web server for tests, on 127.0.0.1 only: port 80 answers HTTP as a test
scripts it and records every request exactly; port 443 records the first bytes
of each connection (a TLS client hello begins 16 03), then answers it as port
80 does, over TLS with the self-signed certificate localhost-cert.pem; a
client that does not trust that certificate fails its handshake.

Control, on port 80:
  POST /__control/script?prefix=P&status=N&delay=MS&drop=0|1&headers=HEX
       the body is the answer's body; requests whose path starts with P get it
       (the longest matching prefix wins). drop=1 closes without answering.
  GET  /__control/requests?prefix=P
       the recorded requests under P, each as
       REQUEST <hex request line> / HEADER <hex name> <hex value> ... / BODY <hex> /
       AT <milliseconds of the server's clock when it had read the request> / END
  GET  /__control/tls      one line per connection to port 443: TLS <hex first bytes>
  POST /__control/unscript?prefix=P   forgets the script of P
  a script with times=N answers the next N matching requests only.
  pad=N       the body is filled up to N bytes with "x" (answers of megabytes)
  piece=N&pieceDelay=MS
              the body goes out N bytes at a time, MS milliseconds apart
  announce=N  the answer announces a Content-Length of N bytes, sends its body
              and closes the connection (a cut download when N is larger)
  /__control/hub/...   the test hub's own control (testing/hub/hub.py)
Paths under /zlk/channels/ that no script answers go to the test hub; other
unscripted paths answer 200 with the body "ok".
"""
import argparse
import http.server
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hub"))
import hub as test_hub  # noqa: E402

lock = threading.Lock()
scripts = {}      # prefix -> dict
recorded = []     # (path, request line, [(name, value)], body, arrival ms)
tls_seen = []     # first bytes of each 443 connection
message_hub = test_hub.Router()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body and status not in (204, 304):
            self.wfile.write(body)

    def _control(self, parsed, body):
        query = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
        one = lambda k, d="": query.get(k, [d])[0]
        if parsed.path == "/__control/script":
            headers = []
            raw = bytes.fromhex(one("headers")).decode("latin-1")
            for line in raw.split("\r\n"):
                if ":" in line:
                    name, value = line.split(":", 1)
                    headers.append((name.strip(), value.strip()))
            with lock:
                scripts[one("prefix")] = dict(status=int(one("status", "200")), body=body,
                                              delay=int(one("delay", "0")), drop=one("drop") == "1",
                                              headers=headers, times=int(one("times", "0")),
                                              piece=int(one("piece", "0")),
                                              piece_delay=int(one("pieceDelay", "0")),
                                              announce=int(one("announce", "0")))
                pad = int(one("pad", "0"))
                if pad > len(body):
                    scripts[one("prefix")]["body"] = body + b"x" * (pad - len(body))
            return self._answer(200, b"scripted")
        if parsed.path == "/__control/unscript":
            with lock:
                scripts.pop(one("prefix"), None)
            return self._answer(200, b"unscripted")
        if parsed.path.startswith("/__control/hub/"):
            done = message_hub.control(parsed.path[len("/__control/hub/"):], query, body)
            return self._answer(200 if done else 404, done or b"no such hub control")
        if parsed.path == "/__control/requests":
            prefix = one("prefix")
            out = []
            with lock:
                for path, line, headers, req_body, at in recorded:
                    if path.startswith(prefix):
                        out.append("REQUEST " + line.encode("latin-1").hex())
                        out += ["HEADER %s %s" % (n.encode("latin-1").hex(), v.encode("latin-1").hex())
                                for n, v in headers]
                        out.append("BODY " + req_body.hex())
                        out.append("AT %d" % at)
                        out.append("END")
            return self._answer(200, ("\n".join(out) + "\n").encode())
        if parsed.path == "/__control/tls":
            with lock:
                lines = ["TLS " + b.hex() for b in tls_seen]
            return self._answer(200, ("\n".join(lines) + "\n").encode())
        return self._answer(404, b"no such control")

    def _any(self):
        body = self._body()
        parsed = urllib.parse.urlsplit(self.path)
        if parsed.path.startswith("/__control/"):
            return self._control(parsed, body)
        with lock:
            recorded.append((self.path, self.requestline, list(self.headers.items()), body,
                             int(time.monotonic() * 1000)))
            match = max((p for p in scripts if self.path.startswith(p)), key=len, default=None)
            script = dict(scripts[match]) if match is not None else None
            if script is not None and script["times"] > 0:
                scripts[match]["times"] -= 1
                if scripts[match]["times"] == 0:
                    del scripts[match]
        if script is None:
            if parsed.path.startswith("/zlk/channels/"):
                return self._hub(body)
            return self._answer(200, b"ok")
        if script["delay"]:
            time.sleep(script["delay"] / 1000.0)
        if script["drop"]:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if script["piece"]:
            return self._trickle(script)
        if script["announce"]:
            return self._cut(script)
        self._answer(script["status"], script["body"], script["headers"])

    def _trickle(self, script):
        body = script["body"]
        self.send_response(script["status"])
        for name, value in script["headers"]:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            for at in range(0, len(body), script["piece"]):
                self.wfile.write(body[at:at + script["piece"]])
                self.wfile.flush()
                if script["piece_delay"]:
                    time.sleep(script["piece_delay"] / 1000.0)
        except OSError:
            self.close_connection = True  # the client stopped reading

    def _cut(self, script):
        self.send_response(script["status"])
        for name, value in script["headers"]:
            self.send_header(name, value)
        self.send_header("Content-Length", str(script["announce"]))
        self.end_headers()
        try:
            self.wfile.write(script["body"])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.close_connection = True

    def _hub(self, body):
        answer = message_hub.handle(self.command, self.path, self.headers, body)
        if answer is None:  # the hub is stopped: reset the connection
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            return
        self._answer(200, answer)

    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = _any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # a client or a test that let a connection go


def serve_tls(connection, context, server):
    connection.settimeout(5)
    try:
        # Peeked, not read: the handshake still needs the greeting.
        first = connection.recv(16, socket.MSG_PEEK)
    except OSError:
        first = b""
    with lock:
        tls_seen.append(first)
    try:
        secure = context.wrap_socket(connection, server_side=True)
        secure.settimeout(30)
        Handler(secure, ("127.0.0.1", 0), server)
        secure.close()
    except (OSError, ssl.SSLError):
        connection.close()


def tls_listener(server):
    here = os.path.dirname(os.path.abspath(__file__))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(here, "localhost-cert.pem"), os.path.join(here, "localhost-key.pem"))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 443))
    listener.listen(16)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve_tls, args=(connection, context, server), daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pidfile")
    args = parser.parse_args()
    server = Server(("127.0.0.1", 80), Handler)
    threading.Thread(target=tls_listener, args=(server,), daemon=True).start()
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write(str(os.getpid()))
    server.serve_forever()


if __name__ == "__main__":
    main()
