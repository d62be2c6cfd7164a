"""The hub when Redis stalls, queues fill, clients vanish and the hub stops:
end to end against a hub and a Redis of the test's own."""
import os
import signal
import subprocess
import threading
import time

import hubkit
import wire
from hub_test import DIGEST, USER, HubCase
from hubkit import wait_until

BOB = hubkit.digest("other")


def in_threads(calls):
    """Runs each call in a thread of its own; the results, in order, once all are back."""
    results = [None] * len(calls)

    def run(i, call):
        try:
            results[i] = call()
        except Exception as e:  # noqa: BLE001 - reported by the test
            results[i] = e
    threads = [threading.Thread(target=run, args=(i, c), daemon=True) for i, c in enumerate(calls)]
    for t in threads:
        t.start()
    return threads, results


def stored(redis, channel):
    out = subprocess.run(["redis-cli", "-p", str(redis.port), "GET", "lumarel-hub:last:" + channel],
                         capture_output=True).stdout.decode().strip()
    return int(out or 0)


class RedisStalls(HubCase):
    def tearDown(self):
        if self.redis.process and self.redis.process.poll() is None:
            self.redis.process.send_signal(signal.SIGCONT)
        super().tearDown()

    def test_a_stalled_redis_is_noticed_and_held_receivers_woken_after_it(self):
        h = self.hub(hold_seconds=60)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m1"), b"OKAY")
        t, result = self.receive_in_thread(h.port, c, 1)
        self.assertTrue(wait_until(lambda: self.held(h) == 1))
        stopped = time.monotonic()
        self.redis.process.send_signal(signal.SIGSTOP)
        # A host that vanished without a reset: nothing reaches the hub but silence.
        self.assertTrue(wait_until(lambda: wire.request(h.port, "GET", "/health", {})[0] == 503, 10),
                        "/health still says ok: " + self.health(h))
        self.assertLess(time.monotonic() - stopped, 10)
        wait_until(lambda: time.monotonic() - stopped >= 15, 20, step=0.2)
        self.redis.process.send_signal(signal.SIGCONT)
        self.assertTrue(wait_until(lambda: self.health(h).startswith("ok"), 15), h.log_text())
        self.assertTrue(t.is_alive(), "the receiver was held through the stall")
        sent = time.monotonic()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m2"), b"OKAY")
        t.join(10)
        self.assertEqual(result.get("answer"), b"DATA\r1\t\t\r2\talice\tm2")
        self.assertLess(time.monotonic() - sent, 2, "the held receiver was answered at once")
        self.assertIn("no answer to PING", h.log_text())

    def test_a_full_queue_answers_1503_at_once_and_stores_nothing_of_those(self):
        h = self.hub(redis_connections=1, max_queued=2)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "first"), b"OKAY")
        self.redis.process.send_signal(signal.SIGSTOP)
        threads, answers = in_threads([lambda i=i: wire.send(h.port, c, USER, DIGEST, "m%d" % i) for i in range(6)])
        # One under way, two queued: the others are refused while Redis is still stopped.
        self.assertTrue(wait_until(lambda: answers.count(b"ERR:1503") >= 3, 10), answers)
        self.redis.process.send_signal(signal.SIGCONT)
        for t in threads:
            t.join(20)
        self.assertEqual(answers.count(b"ERR:1503") + answers.count(b"OKAY"), 6, answers)
        self.assertEqual(stored(self.redis, c), 1 + answers.count(b"OKAY"), "stored exactly what was answered OKAY")

    def test_a_message_stored_during_a_first_look_wakes_the_receiver(self):
        h = self.hub(hold_seconds=30, redis_connections=2)
        c = self.channel()
        self.assertTrue(wait_until(lambda: self.health(h).startswith("ok")))
        # Both reach Redis while it is stopped, and run the moment it goes on.
        self.redis.process.send_signal(signal.SIGSTOP)
        t, result = self.receive_in_thread(h.port, c, 0)
        # Its connection and the one asking for health: the receive has reached the hub.
        self.assertTrue(wait_until(lambda: "connections=2" in self.health(h)))
        threads, answers = in_threads([lambda: wire.send(h.port, c, "bob", BOB, "during")])
        self.redis.process.send_signal(signal.SIGCONT)
        threads[0].join(10)
        self.assertEqual(answers, [b"OKAY"])
        t.join(10)
        self.assertEqual(result.get("answer"), b"NEWDATA\r1\tbob\tduring")


class Connections(HubCase):
    def test_the_connection_limit(self):
        h = self.hub(max_connections=4)
        held = [wire.raw_connection(h.port) for _ in range(3)]
        self.assertTrue(wait_until(lambda: "connections=4" in self.health(h)))
        held.append(wire.raw_connection(h.port))
        over = wire.raw_connection(h.port)
        over.settimeout(5)
        try:
            self.assertEqual(over.recv(10), b"", "a connection over the limit is closed at once")
        except ConnectionResetError:
            pass
        self.assertTrue(wait_until(lambda: "connection limit reached" in h.log_text()))
        held.pop().close()
        self.assertTrue(wait_until(lambda: self.health_or_none(h) is not None, 10), "room again after one closed")
        for s in held:
            s.close()
        self.assertEqual(h.log_text().count("connection limit reached"), 1, "logged once per episode")

    def health_or_none(self, h):
        try:
            return self.health(h)
        except (OSError, wire.http.client.HTTPException):
            return None

    def test_a_held_client_that_closes_is_let_go(self):
        h = self.hub(hold_seconds=60)
        c = self.channel()
        s = wire.raw_connection(h.port)
        s.sendall(("GET /zlk/channels/receive.aspx?c=%s&r=0 HTTP/1.1\r\nHost: x\r\nZelk-Version: 100\r\n"
                   "Zelk-Username: %s\r\nZelk-Password: %s\r\n\r\n" % (c, USER, DIGEST)).encode())
        self.assertTrue(wait_until(lambda: self.held(h) == 1))
        s.close()
        self.assertTrue(wait_until(lambda: self.held(h) == 0 and "connections=1" in self.health(h)))
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "after"), b"OKAY", "a message to nobody")


class TwoProcesses(HubCase):
    def test_the_rate_limit_holds_over_every_process(self):
        a, b = self.hub(requests_per_second=20), self.hub(requests_per_second=20)
        c = self.channel()
        for _ in range(3):
            wait_until(lambda: time.time() % 1 < 0.2, 2, step=0.005)
            first = int(time.time())
            answers = [(i % 2, wire.send((a, b)[i % 2].port, c, USER, DIGEST, "m%d" % i)) for i in range(30)]
            if int(time.time()) == first:
                break
        else:
            self.skipTest("30 sends did not fit in one second on this machine")
        self.assertEqual(sum(1 for _, x in answers if x == b"OKAY"), 20, answers)
        self.assertEqual({x for _, x in answers}, {b"OKAY", b"ERR:1000"})
        self.assertEqual({i for i, x in answers if x == b"ERR:1000"}, {0, 1}, "both processes refuse")


class Shutdown(HubCase):
    def tearDown(self):
        if self.redis.process and self.redis.process.poll() is None:
            self.redis.process.send_signal(signal.SIGCONT)
        super().tearDown()

    def test_a_queued_send_is_answered_or_never_stored(self):
        h = self.hub(redis_connections=1, shutdown_seconds=2)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "first"), b"OKAY")
        self.redis.process.send_signal(signal.SIGSTOP)
        # One send under way in the only Redis connection, then four queued behind it.
        first, first_answer = in_threads([lambda: wire.send(h.port, c, USER, DIGEST, "under way")])
        self.assertTrue(wait_until(lambda: h.metric("lumarel_hub_redis_in_flight") == 1, 10))
        threads, answers = in_threads([lambda i=i: wire.send(h.port, c, USER, DIGEST, "m%d" % i) for i in range(4)])
        self.assertTrue(wait_until(lambda: h.metric("lumarel_hub_redis_queue_depth") == 4, 10))
        h.process.send_signal(signal.SIGTERM)
        self.assertTrue(wait_until(lambda: answers.count(b"ERR:1503") == 4, 10), answers)
        self.assertTrue(first[0].is_alive(), "the send under way waits for Redis")
        self.redis.process.send_signal(signal.SIGCONT)
        self.assertEqual(h.process.wait(20), 0)
        for t in threads + first:
            t.join(10)
        self.assertEqual(first_answer, [b"OKAY"])
        self.assertEqual(stored(self.redis, c), 2, "the one under way was stored and answered; the queued ones never")


class Ids(HubCase):
    def test_a_lost_counter_does_not_give_kept_ids_again(self):
        h = self.hub()
        c = self.channel()
        for i in range(1, 4):
            self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m%d" % i), b"OKAY")
        subprocess.run(["redis-cli", "-p", str(self.redis.port), "DEL", "lumarel-hub:last:" + c], capture_output=True)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m4"), b"OKAY")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 3), b"DATA\r3\t\t\r4\talice\tm4")
        self.assertEqual(stored(self.redis, c), 4)


class RedisSettings(HubCase):
    def test_settings_that_lose_messages_are_warned_of_at_start(self):
        self.redis.kill()
        self.redis = hubkit.Redis(self.scratch.path, extra=["--appendonly", "no", "--maxmemory-policy", "allkeys-lru"])
        self.redis.start()
        h = self.hub()
        self.assertTrue(wait_until(lambda: h.log_text().count("warning: Redis") == 2), h.log_text())
        self.assertIn("appendonly is no", h.log_text())
        self.assertIn("maxmemory-policy is allkeys-lru", h.log_text())
        good = self.hub()
        self.assertTrue(wait_until(lambda: self.health(good).startswith("ok")))
        self.redis.kill()
        self.redis = hubkit.Redis(self.scratch.path)
        self.redis.start()
        quiet = self.hub()
        self.assertTrue(wait_until(lambda: self.health(quiet).startswith("ok")))
        self.assertTrue(wait_until(lambda: "redis settings: appendonly yes, maxmemory-policy noeviction" in
                                   quiet.log_text()), quiet.log_text())
        self.assertNotIn("warning", quiet.log_text())


class PacedReceiver(wire.Receiver):
    """Polls as the library does, pacing included: when ten of its requests
    started within ten seconds (whole seconds since 1970), it sleeps six."""

    def __init__(self, *args):
        super().__init__(*args)
        self.starts, self.paced, self.arrivals = [], 0, {}

    def poll_once(self, timeout=30):
        if len(self.starts) >= 10 and int(time.time()) - self.starts[-10] < 10:
            self.paced += 1
            time.sleep(6)
        self.starts.append(int(time.time()))
        self.ports.append(self.ports.pop(0))  # a load balancer's round robin
        before = len(self.got)
        ok = super().poll_once(timeout)
        now = time.monotonic()
        for number, _ in self.got[before:]:
            self.arrivals[number] = now
        return ok


class Coalescing(HubCase):
    def test_a_receiver_of_a_busy_channel_never_reaches_its_pacing_sleep(self):
        a, b = self.hub(hold_seconds=30), self.hub(hold_seconds=30)
        c = self.channel()
        rx = PacedReceiver([a.port, b.port], c, "bob", BOB)
        self.assertTrue(rx.poll_once())  # r = 0: held, then answered empty or with the first message
        stop = threading.Event()

        def poll():
            while not stop.is_set():
                rx.poll_once(timeout=35)
        t = threading.Thread(target=poll, daemon=True)
        t.start()
        sent_at, count, started = {}, 60, time.monotonic()
        for i in range(1, count + 1):
            wait_until(lambda: time.monotonic() >= started + i / 3.0, 2, step=0.005)
            sent_at[i] = time.monotonic()
            self.assertEqual(wire.send((a, b)[i % 2].port, c, USER, DIGEST, "m%d" % i), b"OKAY")
        self.assertTrue(wait_until(lambda: len(rx.got) >= count, 10), rx.got[-3:])
        stop.set()
        self.assertEqual(rx.got, [(i, "m%d" % i) for i in range(1, count + 1)], "every message once, in order")
        self.assertEqual(rx.paced, 0, "the receiver slept its six seconds")
        delays = sorted(rx.arrivals[i] - sent_at[i] for i in range(1, count + 1))
        self.assertLess(delays[int(0.99 * (len(delays) - 1))], 1.5, delays)
        gaps = [b - a for a, b in zip(rx.starts, rx.starts[1:])]
        self.assertGreaterEqual(sum(gaps[-10:]), 10, "ten requests within ten seconds: %r" % gaps)


class Metrics(HubCase):
    def test_the_counts_on_their_own_address(self):
        h = self.hub(hold_seconds=30)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY")
        self.assertEqual(wire.send(h.port, c, USER, hubkit.digest("wrong"), "m"), b"ERR:2001")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r1\talice\tm")
        t, result = self.receive_in_thread(h.port, c, 1)
        self.assertTrue(wait_until(lambda: h.metric("lumarel_hub_held_receivers") == 1))
        # A Redis connection counts its commands done just after handing their replies over.
        self.assertTrue(wait_until(lambda: h.metric("lumarel_hub_redis_in_flight") == 0))
        m = h.metrics()
        expected = {
            'lumarel_hub_requests_total{kind="send",result="ok"}': 1,
            'lumarel_hub_requests_total{kind="send",result="2001"}': 1,
            'lumarel_hub_requests_total{kind="receive",result="ok"}': 1,
            "lumarel_hub_messages_stored_total": 1,
            "lumarel_hub_failed_logins_total": 1,
            "lumarel_hub_held_receivers": 1,
            "lumarel_hub_connections": 1,
            "lumarel_hub_redis_queue_depth": 0,
            "lumarel_hub_redis_in_flight": 0,
            "lumarel_hub_redis_subscribed": 1,
            "lumarel_hub_subscription_reconnects_total": 0,
        }
        for name, value in expected.items():
            with self.subTest(name):
                self.assertEqual(m.get(name), value)
        self.assertGreaterEqual(m['lumarel_hub_redis_command_seconds_bucket{le="+Inf"}'], 4)
        self.assertEqual(m['lumarel_hub_redis_command_seconds_bucket{le="+Inf"}'],
                         m["lumarel_hub_redis_command_seconds_count"])
        # A Redis restart is a reconnection of the subscription.
        self.redis.kill()
        self.redis.start()
        self.assertTrue(wait_until(lambda: h.metric("lumarel_hub_subscription_reconnects_total") == 1, 15))
        # Not on the public port, and only /metrics on its own.
        self.assertEqual(wire.request(h.port, "GET", "/metrics", {})[0], 404)
        self.assertEqual(wire.request(h.metrics_port, "GET", "/other", {})[0], 404)


class SendPath(HubCase):
    def test_receivers_whose_mark_precedes_a_message_cost_redis_nothing(self):
        a, b = self.hub(hold_seconds=30), self.hub(hold_seconds=30)
        c = self.channel()
        self.assertEqual(wire.send(a.port, c, USER, DIGEST, "m1"), b"OKAY")
        # Held by both processes: the one that stores the message and another.
        held = [self.receive_in_thread((a, b)[i % 2].port, c, 1) for i in range(20)]
        self.assertTrue(wait_until(lambda: self.held(a) == 10 and self.held(b) == 10), (self.held(a), self.held(b)))

        def calls():
            stats = subprocess.run(["redis-cli", "-p", str(self.redis.port), "INFO", "commandstats"],
                                   capture_output=True).stdout.decode()
            return sum(int(line.split("calls=")[1].split(",")[0]) for line in stats.splitlines()
                       if line.startswith(("cmdstat_evalsha:", "cmdstat_eval:")))
        before = calls()
        self.assertEqual(wire.send(b.port, c, "bob", BOB, "m2"), b"OKAY")
        for t, result in held:
            t.join(10)
            self.assertEqual(result.get("answer"), b"DATA\r1\t\t\r2\tbob\tm2")
        self.assertEqual(calls() - before, 1, "the send's own script and nothing for 20 woken receivers")
