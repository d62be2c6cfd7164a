"""lumarel-hub end to end: its own Redis and hub processes on loopback, the
library's wire format spoken by wire.py."""
import os
import signal
import socket
import threading
import time
import unittest

import hubkit
import wire
from hubkit import wait_until

USER, PASSWORD = "alice", "s3cret pass"
DIGEST = hubkit.digest(PASSWORD)


class HubCase(unittest.TestCase):
    # Everyone may send anywhere, unless a test says otherwise: grants have tests of their own.
    hub_settings = dict(hold_seconds=3, header_seconds=2, write_seconds=2, default_send="*")

    def setUp(self):
        self.scratch = hubkit.Scratch()
        self.redis = hubkit.Redis(self.scratch.path).start()
        self.hubs = []
        self.channel_count = 0
        for name, password in ((USER, PASSWORD), ("bob", "other"), ("carol", "third")):
            done = hubkit.admin(self.redis, "add", name, stdin=password + "\n")
            self.assertEqual(done.returncode, 0, done.stderr)

    def tearDown(self):
        for h in self.hubs:
            h.kill()
        self.redis.kill()
        self.scratch.remove()

    def hub(self, **settings):
        merged = dict(self.hub_settings)
        merged.update(settings)
        h = hubkit.Hub(self.redis, self.scratch.path, **merged).start()
        self.hubs.append(h)
        return h

    def channel(self):
        self.channel_count += 1
        return "%s-%d" % (self.id().split(".")[-1][:20], self.channel_count)

    def health(self, h):
        return wire.request(h.port, "GET", "/health", {})[1].decode()

    def held(self, h):
        for word in self.health(h).split():
            if word.startswith("held="):
                return int(word[5:])
        return -1

    def receive_in_thread(self, port, channel, r, user=USER, digest=DIGEST):
        result = {}

        def run():
            try:
                result["answer"] = wire.receive(port, channel, user, digest, r, timeout=120)
            except Exception as e:  # noqa: BLE001 - reported by the test
                result["error"] = e
        t = threading.Thread(target=run, daemon=True)
        t.start()
        return t, result


class Protocol(HubCase):
    def test_ids_grow_per_channel_and_the_mark_is_repeated(self):
        h = self.hub()
        first, second = self.channel(), self.channel()
        for text in ("one", "two", "three"):
            self.assertEqual(wire.send(h.port, first, USER, DIGEST, text), b"OKAY")
        self.assertEqual(wire.send(h.port, second, USER, DIGEST, "other"), b"OKAY")
        self.assertEqual(wire.receive(h.port, first, USER, DIGEST, 0),
                         b"NEWDATA\r1\talice\tone\r2\talice\ttwo\r3\talice\tthree")
        self.assertEqual(wire.receive(h.port, second, USER, DIGEST, 0), b"NEWDATA\r1\talice\tother",
                         "ids are counted per channel")
        self.assertEqual(wire.receive(h.port, first, USER, DIGEST, 2), b"DATA\r2\t\t\r3\talice\tthree")
        # Nothing new: held for the hold time, then the mark alone, so the receiver keeps its place.
        started = time.monotonic()
        self.assertEqual(wire.receive(h.port, first, USER, DIGEST, 3), b"DATA\r3\t\t")
        self.assertGreaterEqual(time.monotonic() - started, 2.5)
        # A mark above the channel's latest id (its data is gone): a new receiver.
        self.assertEqual(wire.receive(h.port, first, USER, DIGEST, 50),
                         b"NEWDATA\r1\talice\tone\r2\talice\ttwo\r3\talice\tthree")
        kind, messages, highest = wire.read_answer(wire.receive(h.port, first, USER, DIGEST, 2), 2)
        self.assertEqual((kind, messages, highest), ("DATA", [(3, "three")], 3))

    def test_a_new_receiver_on_an_empty_channel_waits_and_gets_nothing_twice(self):
        h = self.hub()
        c = self.channel()
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r", "held, then empty")
        t, result = self.receive_in_thread(h.port, c, 0)
        self.assertTrue(wait_until(lambda: self.held(h) == 1))
        self.assertEqual(wire.send(h.port, c, "bob", hubkit.digest("other"), "tab\there\r\nline\x00end"), b"OKAY")
        t.join(10)
        self.assertEqual(result.get("answer"), b"NEWDATA\r1\tbob\ttab here  line end",
                         "a held receiver is answered at once; text cannot break a line")

    def test_refusals(self):
        h = self.hub(max_message_bytes=100, max_channel_bytes=16)
        c = self.channel()[:16]
        self.assertEqual(hubkit.admin(self.redis, "add", "dora", stdin="pw\n").returncode, 0)
        self.assertEqual(hubkit.admin(self.redis, "disable", "dora").returncode, 0)
        self.assertEqual(hubkit.admin(self.redis, "add", "gone", stdin="pw\n").returncode, 0)
        self.assertEqual(hubkit.admin(self.redis, "remove", "gone").returncode, 0)
        pw = hubkit.digest("pw")
        cases = [
            ("wrong digest", dict(user=USER, digest=hubkit.digest("wrong")), b"ERR:2001"),
            ("unknown user", dict(user="nobody", digest=DIGEST), b"ERR:2001"),
            ("removed user", dict(user="gone", digest=pw), b"ERR:2001"),
            ("password instead of digest", dict(user=USER, digest=PASSWORD), b"ERR:2001"),
            ("disabled account", dict(user="dora", digest=pw), b"ERR:2002"),
            ("other protocol version", dict(version="101"), b"ERR:2010"),
            ("channel name too long", dict(channel="x" * 17), b"ERR:2414"),
            ("channel name with a control character", dict(channel="a%01b"), b"ERR:2414"),
            ("empty channel name", dict(channel=""), b"ERR:2414"),
            ("message too long", dict(text="m" * 101), b"ERR:1413"),
            ("empty message", dict(text=""), b"ERR:1411"),
        ]
        for name, case, expected in cases:
            with self.subTest(name):
                user, digest = case.get("user", USER), case.get("digest", DIGEST)
                version = case.get("version", "100")
                channel = case.get("channel", c)
                send = wire.request(h.port, "POST", "/zlk/channels/send.aspx?c=" + channel,
                                    wire.headers(user, digest, version), case.get("text", "m").encode())[1]
                self.assertEqual(send, expected)
                if "text" not in case:
                    got = wire.request(h.port, "GET", "/zlk/channels/receive.aspx?c=%s&r=0" % channel,
                                       wire.headers(user, digest, version))[1]
                    self.assertEqual(got, expected)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m" * 100), b"OKAY", "a message at the limit")
        for path, expected in (("/zlk/channels/receive.aspx?c=%s&r=x" % c, b"ERR:1400"),
                               ("/zlk/channels/receive.aspx?c=%s&r=99999999999999" % c, b"ERR:1400"),
                               ("/zlk/channels/other.aspx?c=%s" % c, b"ERR:1400")):
            with self.subTest(path):
                self.assertEqual(wire.request(h.port, "GET", path, wire.headers(USER, DIGEST))[1], expected)
        # Far above the limit: answered, or cut off, and the hub goes on.
        try:
            status, body = wire.request(h.port, "POST", "/zlk/channels/send.aspx?c=" + c, wire.headers(USER, DIGEST),
                                        b"m" * 5_000_000)
            self.assertEqual(body, b"ERR:1413")
        except OSError:
            pass
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r1\talice\t" + b"m" * 100)
        self.assertEqual(hubkit.admin(self.redis, "disable", "nobody").returncode, 1)
        # Headers beyond 8 kB: the connection is closed, and the hub goes on.
        with wire.raw_connection(h.port) as s:
            s.settimeout(10)
            s.sendall(b"GET /health HTTP/1.1\r\nX-Big: " + b"b" * 20000 + b"\r\n\r\n")
            try:
                self.assertEqual(s.recv(100), b"")
            except ConnectionResetError:
                pass
        self.assertEqual(hubkit.admin(self.redis, "add-digest", "erin", stdin="not a digest\n").returncode, 2)
        self.assertEqual(hubkit.admin(self.redis, "add", "erin", stdin="\n").returncode, 2, "an empty password")
        self.assertEqual(hubkit.admin(self.redis, "add-digest", "erin", stdin=pw + "\n").returncode, 0)
        self.assertEqual(wire.send(h.port, c, "erin", pw, "by digest"), b"OKAY")
        self.assertEqual(hubkit.admin(self.redis, "enable", "dora").returncode, 0)
        self.assertEqual(wire.send(h.port, c, "dora", pw, "back"), b"OKAY", "an enabled account sends again")

    def test_retention_by_count_and_age(self):
        h = self.hub(keep_count=3, keep_seconds=1)
        c = self.channel()
        for i in range(1, 6):
            self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m%d" % i), b"OKAY")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r3\talice\tm3\r4\talice\tm4\r5\talice\tm5")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 1), b"DATA\r1\t\t\r3\talice\tm3\r4\talice\tm4\r5\talice\tm5",
                         "a receiver behind the kept messages gets what is kept, its mark repeated")
        self.assertTrue(wait_until(lambda: wire.receive(h.port, c, USER, DIGEST, 4, timeout=10) == b"DATA\r4\t\t", 15),
                        "older than the kept age: gone")
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m6"), b"OKAY")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r6\talice\tm6", "ids go on")
        listed = hubkit.admin(self.redis, "channels").stdout.decode()
        self.assertIn("%s\t6\t1\n" % c, listed)

    def test_lines_per_answer_bound_an_answer(self):
        h = self.hub(lines_per_answer=2)
        c = self.channel()
        for i in range(1, 6):
            wire.send(h.port, c, USER, DIGEST, "m%d" % i)
        rx = wire.Receiver([h.port], c, USER, DIGEST)
        for _ in range(3):
            self.assertTrue(rx.poll_once())
        self.assertEqual(rx.got, [(i, "m%d" % i) for i in range(1, 6)])


class SeveralProcesses(HubCase):
    def test_a_message_through_one_process_wakes_a_receiver_held_by_another(self):
        a, b = self.hub(hold_seconds=30), self.hub(hold_seconds=30)
        c = self.channel()
        t, result = self.receive_in_thread(a.port, c, 0)
        self.assertTrue(wait_until(lambda: self.held(a) == 1))
        self.assertEqual(wire.send(b.port, c, USER, DIGEST, "across"), b"OKAY")
        t.join(10)
        self.assertEqual(result.get("answer"), b"NEWDATA\r1\talice\tacross")

    def test_killing_a_process_loses_nothing_and_duplicates_nothing(self):
        a, b = self.hub(hold_seconds=30), self.hub(hold_seconds=30)
        c = self.channel()
        receivers = [wire.Receiver([a.port, b.port], c, name, hubkit.digest(pw))
                     for name, pw in ((USER, PASSWORD), ("bob", "other"), ("carol", "third"))]
        stop = threading.Event()

        def poll(rx):
            while not stop.is_set() and len(rx.got) < 20:
                rx.poll_once(timeout=35)
        threads = [threading.Thread(target=poll, args=(rx,), daemon=True) for rx in receivers]
        for t in threads:
            t.start()
        self.assertTrue(wait_until(lambda: self.held(a) == 3), "all three held by the first process")
        sent = []
        for i in range(1, 11):
            self.assertEqual(wire.send(b.port, c, USER, DIGEST, "m%d" % i), b"OKAY")
            sent.append((i, "m%d" % i))
        self.assertTrue(wait_until(lambda: all(len(rx.got) >= 10 for rx in receivers), 20))
        self.assertTrue(wait_until(lambda: self.held(a) == 3, 10), "held again by the first process")
        a.kill()
        for i in range(11, 21):
            self.assertEqual(wire.send(b.port, c, "bob", hubkit.digest("other"), "m%d" % i), b"OKAY")
            sent.append((i, "m%d" % i))
        for t in threads:
            t.join(40)
        stop.set()
        for rx in receivers:
            with self.subTest(rx.user):
                self.assertEqual(rx.got, sent, "each message exactly once, in order")
                self.assertGreaterEqual(rx.faults, 1, "the killed process cut the held request")

    def test_redis_restarted_with_persistence_loses_nothing(self):
        h = self.hub(hold_seconds=30)
        c = self.channel()
        for i in range(1, 4):
            self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m%d" % i), b"OKAY")
        t, result = self.receive_in_thread(h.port, c, 3)
        self.assertTrue(wait_until(lambda: self.held(h) == 1))
        self.redis.kill()
        # While Redis is away nothing is accepted, and the hub says so.
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "lost"), b"ERR:1503")
        self.assertIn("503", str(wire.request(h.port, "GET", "/health", {})[0]))
        self.redis.start()
        self.assertTrue(wait_until(lambda: self.health(h).startswith("ok"), 15), h.log_text())
        self.assertTrue(wait_until(lambda: wire.send(h.port, c, USER, DIGEST, "m4") == b"OKAY", 15))
        t.join(20)
        self.assertEqual(result.get("answer"), b"DATA\r3\t\t\r4\talice\tm4",
                         "the held receiver got the message stored after the restart")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0),
                         b"NEWDATA\r1\talice\tm1\r2\talice\tm2\r3\talice\tm3\r4\talice\tm4")
        self.assertEqual(hubkit.admin(self.redis, "users").returncode, 0)
        self.assertIn("redis unreachable", h.log_text())
        self.assertIn("redis reachable again", h.log_text())


class Limits(HubCase):
    def test_a_flood_from_one_user_is_slowed_and_others_go_on(self):
        h = self.hub(requests_per_second=20)
        c = self.channel()
        answers = [wire.send(h.port, c, USER, DIGEST, "f%d" % i) for i in range(60)]
        self.assertIn(b"ERR:1000", answers)
        self.assertTrue(set(answers) <= {b"OKAY", b"ERR:1000"}, set(answers))
        self.assertEqual(wire.send(h.port, c, "bob", hubkit.digest("other"), "other user"), b"OKAY")
        self.assertTrue(wait_until(lambda: wire.send(h.port, c, USER, DIGEST, "later") == b"OKAY", 5))

    def test_held_requests_per_user_are_bounded(self):
        h = self.hub(max_held_per_user=3, hold_seconds=30)
        held = [self.receive_in_thread(h.port, self.channel(), 0) for _ in range(3)]
        self.assertTrue(wait_until(lambda: self.held(h) == 3))
        self.assertEqual(wire.receive(h.port, self.channel(), USER, DIGEST, 0), b"ERR:1000")
        theirs = self.channel()
        self.assertEqual(wire.send(h.port, theirs, "bob", hubkit.digest("other"), "mine"), b"OKAY")
        self.assertEqual(wire.receive(h.port, theirs, "bob", hubkit.digest("other"), 0), b"NEWDATA\r1\tbob\tmine",
                         "another user is not affected")
        self.assertEqual(h.terminate(), 0)
        for t, result in held:
            t.join(10)
            self.assertEqual(result.get("answer"), b"NEWDATA\r", result.get("error"))

    def test_silent_and_slow_clients_are_cut_off_and_memory_stays_flat(self):
        h = self.hub(lines_per_answer=1000, max_message_bytes=4000, requests_per_second=100000)
        c = self.channel()
        for i in range(200):
            self.assertEqual(wire.send(h.port, c, "carol", hubkit.digest("third"), "%d " % i + "x" * 3900), b"OKAY")

        def silent_round(count):
            sockets = [wire.raw_connection(h.port) for _ in range(count)]
            for s in sockets:
                s.settimeout(15)
                self.assertEqual(s.recv(1), b"", "a client that sends nothing is cut off")
                s.close()

        def slow_round(count):
            # Each takes the first byte of its answer and then nothing: the hub
            # must let it go once the write time has passed.
            sockets = []
            for _ in range(count):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                s.connect(("127.0.0.1", h.port))
                s.sendall(("GET /zlk/channels/receive.aspx?c=%s&r=0 HTTP/1.1\r\nHost: x\r\nZelk-Version: 100\r\n"
                           "Zelk-Username: %s\r\nZelk-Password: %s\r\n\r\n" % (c, USER, DIGEST)).encode())
                sockets.append(s)
            for s in sockets:
                s.settimeout(15)
                self.assertEqual(s.recv(1), b"H")
            self.assertTrue(wait_until(lambda: "connections=1" in self.health(h), 15),
                            "the slow readers were not cut off: " + self.health(h))
            for s in sockets:
                s.close()

        silent_round(50)
        slow_round(10)
        self.assertTrue(wait_until(lambda: "connections=1" in self.health(h), 10))
        before = h.rss_kb()
        for _ in range(3):
            silent_round(50)
            slow_round(10)
        self.assertTrue(wait_until(lambda: "connections=1" in self.health(h), 10))
        after = h.rss_kb()
        self.assertLess(after - before, 20 * 1024, "memory grew from %d kB to %d kB" % (before, after))


class Operations(HubCase):
    def test_graceful_shutdown_answers_held_requests_and_logs_no_message(self):
        h = self.hub(hold_seconds=60)
        c = self.channel()
        for i in range(30):
            wire.send(h.port, c, USER, DIGEST, "m%d" % i)
        held = [self.receive_in_thread(h.port, c, 30) for _ in range(5)]
        self.assertTrue(wait_until(lambda: self.held(h) == 5))
        started = time.monotonic()
        self.assertEqual(h.terminate(), 0, h.log_text())
        self.assertLess(time.monotonic() - started, 10)
        for t, result in held:
            t.join(10)
            self.assertEqual(result.get("answer"), b"DATA\r30\t\t")
        log = [line for line in h.log_text().splitlines() if "redis settings:" not in line]
        self.assertEqual(len(log), 3, log)
        self.assertIn("started on 127.0.0.1:%d" % h.port, log[0])
        self.assertIn("stopping on SIGTERM: answering 5 held requests", log[1])
        self.assertIn("stopped", log[2])
        self.assertNotIn(PASSWORD, "\n".join(log))

    def test_config_file_and_flags(self):
        path = os.path.join(self.scratch.path, "hub.conf")
        with open(path, "w") as f:
            f.write("# a comment\nmax-message-bytes = 5\nhold-seconds = 1\n")
        h = self.hub(config=path, hold_seconds=2)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "123456"), b"ERR:1413")
        started = time.monotonic()
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r")
        self.assertGreaterEqual(time.monotonic() - started, 1.5, "the flag wins over the file")
        with open(path, "w") as f:
            f.write("hold-seconds = 500\n")
        bad = hubkit.Hub(self.redis, self.scratch.path, config=path)
        with self.assertRaises(RuntimeError):
            bad.start()
        self.assertIn("bad value for hold-seconds", bad.log_text())


if __name__ == "__main__":
    unittest.main()
