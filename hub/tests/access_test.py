"""Who may send where, credentials kept as keyed hashes, failed-login limits
and the ways to reach Redis: end to end against a hub and a Redis of the test's own."""
import os
import subprocess
import time

import hubkit
import wire
from hub_test import DIGEST, PASSWORD, USER, HubCase
from hubkit import wait_until

BOB = hubkit.digest("other")


def redis_cli(redis, *words):
    return subprocess.run(["redis-cli", "-p", str(redis.port), "--no-raw"] + list(words),
                          capture_output=True).stdout.decode()


class Grants(HubCase):
    hub_settings = dict(hold_seconds=2, header_seconds=2, write_seconds=2)

    def allow(self, *words, verb="allow"):
        done = hubkit.admin(self.redis, verb, *words)
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_patterns_grant_exact_names_prefixes_and_everything(self):
        h = self.hub()
        self.allow(USER, "send", "signals.*")
        self.allow(USER, "send", "news")
        self.allow("bob", "send", "*")
        cases = [
            (USER, DIGEST, "signals.eurusd", b"OKAY"),
            (USER, DIGEST, "signals.", b"OKAY"),
            (USER, DIGEST, "news", b"OKAY"),
            (USER, DIGEST, "news2", b"ERR:2003"),
            (USER, DIGEST, "signals", b"ERR:2003"),
            (USER, DIGEST, "Signals.eurusd", b"ERR:2003"),
            (USER, DIGEST, "signals%2Eeurusd", b"OKAY"),
            (USER, DIGEST, "signals%2Aanything", b"ERR:2003"),
            ("bob", BOB, "anything", b"OKAY"),
            ("carol", hubkit.digest("third"), "signals.eurusd", b"ERR:2003"),
        ]
        for user, digest, channel, expected in cases:
            with self.subTest(user=user, channel=channel):
                self.assertEqual(wire.send(h.port, channel, user, digest, "m"), expected)

    def test_defaults_apply_only_to_a_kind_without_grants(self):
        h = self.hub(default_send="open.*, lobby", default_receive="lobby")
        c = "lobby"
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "hello"), b"OKAY", "default-send")
        self.assertEqual(wire.send(h.port, "open.x", USER, DIGEST, "hello"), b"OKAY", "default-send, a prefix")
        self.assertEqual(wire.send(h.port, "closed", USER, DIGEST, "hello"), b"ERR:2003")
        self.assertEqual(wire.receive(h.port, c, "bob", BOB, 0), b"NEWDATA\r1\talice\thello", "default-receive")
        self.assertEqual(wire.receive(h.port, "open.x", "bob", BOB, 0), b"ERR:2003")
        self.allow("bob", "receive", "open.*")
        self.assertEqual(wire.receive(h.port, "open.x", "bob", BOB, 0), b"NEWDATA\r1\talice\thello")
        self.assertEqual(wire.receive(h.port, c, "bob", BOB, 0), b"ERR:2003",
                         "a grant of a kind replaces the defaults of that kind")
        self.allow("bob", "receive", "open.*", verb="revoke")
        self.assertEqual(wire.receive(h.port, c, "bob", BOB, 0), b"NEWDATA\r1\talice\thello", "revoked: defaults again")

    def test_nobody_sends_until_granted(self):
        h = self.hub()
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"ERR:2003", "default-send is empty")
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r", "default-receive is *")
        self.allow(USER, "send", c)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY")

    def test_a_refused_receiver_is_not_held(self):
        h = self.hub(default_receive="")
        started = time.monotonic()
        self.assertEqual(wire.receive(h.port, self.channel(), USER, DIGEST, 0), b"ERR:2003")
        self.assertLess(time.monotonic() - started, 1.5)
        self.assertEqual(self.held(h), 0)

    def test_the_admin_commands(self):
        self.allow(USER, "send", "b.*")
        self.allow(USER, "send", "a")
        self.allow(USER, "receive", "x")
        self.assertEqual(hubkit.admin(self.redis, "grants", USER).stdout.decode(), "send\ta\nsend\tb.*\nreceive\tx\n")
        self.assertEqual(hubkit.admin(self.redis, "--default-send", "q.*", "grants", "bob").stdout.decode(),
                         "send\tdefault-send: q.*\nreceive\tdefault-receive: *\n")
        cases = [
            ("revoke of a pattern not granted", ("revoke", USER, "send", "zzz"), 1),
            ("unknown user", ("allow", "nobody", "send", "a"), 1),
            ("unknown kind", ("allow", USER, "post", "a"), 2),
            ("empty pattern", ("allow", USER, "send", ""), 2),
            ("control character", ("allow", USER, "send", "a\x01"), 2),
            ("grants of an unknown user", ("grants", "nobody"), 1),
        ]
        for name, words, code in cases:
            with self.subTest(name):
                self.assertEqual(hubkit.admin(self.redis, *words).returncode, code)
        self.assertEqual(hubkit.admin(self.redis, "remove", USER).returncode, 0)
        self.assertEqual(hubkit.admin(self.redis, "add", USER, stdin=PASSWORD + "\n").returncode, 0)
        self.assertEqual(hubkit.admin(self.redis, "grants", USER).stdout.decode(),
                         "send\tdefault-send: (none)\nreceive\tdefault-receive: *\n", "a removed user's grants went")


class Credentials(HubCase):
    def test_redis_keeps_a_keyed_hash_never_the_digest(self):
        h = self.hub()
        stored = redis_cli(self.redis, "HGETALL", "lumarel-hub:user:" + USER)
        self.assertNotIn(DIGEST, stored)
        self.assertNotIn(PASSWORD, stored)
        # What a copy of Redis holds does not log in.
        key_hash = redis_cli(self.redis, "HGET", "lumarel-hub:user:" + USER, "hash").strip().strip('"')
        self.assertEqual(len(key_hash), 64)
        self.assertEqual(wire.send(h.port, self.channel(), USER, key_hash[:32], "m"), b"ERR:2001")
        self.assertEqual(wire.send(h.port, self.channel(), USER, DIGEST, "m"), b"OKAY")
        # Nor does the hub take the digest under another key: the key is the hub's secret.
        other = self.hub(digest_key="another key")
        self.assertEqual(wire.send(other.port, self.channel(), USER, DIGEST, "m"), b"ERR:2001")
        written = b""
        for root, _, names in os.walk(os.path.join(self.scratch.path, "appendonlydir")):
            for name in names:
                with open(os.path.join(root, name), "rb") as f:
                    written += f.read()
        self.assertIn(b"lumarel-hub:user:" + USER.encode(), written, "the append-only files were read")
        self.assertNotIn(DIGEST.encode(), written)
        self.assertNotIn(PASSWORD.encode(), written)

    def test_add_refuses_to_overwrite_unless_told_to_replace(self):
        h = self.hub()
        c = self.channel()
        self.assertEqual(hubkit.admin(self.redis, "add", USER, stdin="new password\n").returncode, 1)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY", "the old password still holds")
        self.assertEqual(hubkit.admin(self.redis, "disable", USER).returncode, 0)
        for words in (("add", USER, "--replace"), ("add", "--replace", USER)):
            with self.subTest(words):
                self.assertEqual(hubkit.admin(self.redis, *words, stdin="new password\n").returncode, 0)
        self.assertEqual(wire.send(h.port, c, USER, hubkit.digest("new password"), "m"), b"ERR:2002",
                         "a new password leaves the account disabled")
        self.assertEqual(hubkit.admin(self.redis, "enable", USER).returncode, 0)
        self.assertEqual(wire.send(h.port, c, USER, hubkit.digest("new password"), "m"), b"OKAY")
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"ERR:2001")
        self.assertEqual(hubkit.admin(self.redis, "add-digest", USER, stdin=DIGEST + "\n").returncode, 1)
        self.assertEqual(hubkit.admin(self.redis, "add-digest", USER, "--replace", stdin=DIGEST + "\n").returncode, 0)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY")

    def test_rehash_takes_over_digests_an_older_hub_stored(self):
        h = self.hub()
        redis_cli(self.redis, "HSET", "lumarel-hub:user:dan", "digest", hubkit.digest("pw"), "disabled", "0")
        self.assertEqual(wire.send(h.port, "x", "dan", hubkit.digest("pw"), "m"), b"ERR:2001")
        self.assertIn("rehashed 1 users", hubkit.admin(self.redis, "rehash").stdout.decode())
        self.assertEqual(wire.send(h.port, "x", "dan", hubkit.digest("pw"), "m"), b"OKAY")
        self.assertNotIn(hubkit.digest("pw"), redis_cli(self.redis, "HGETALL", "lumarel-hub:user:dan"))

    def test_a_missing_digest_key_is_warned_of(self):
        h = hubkit.Hub(self.redis, self.scratch.path, digest_key="").start()
        self.hubs.append(h)
        self.assertTrue(wait_until(lambda: "no digest-key" in h.log_text()))


class FailedLogins(HubCase):
    def test_ten_failures_in_a_minute_limit_the_name_and_the_address(self):
        h = self.hub()
        c = self.channel()
        # Two processes: the count is kept in Redis, for all of them.
        other = self.hub()
        wrong = hubkit.digest("guess")
        # Wait for a fresh minute, so that all ten failures fall in one.
        wait_until(lambda: time.time() % 60 < 40, 25)
        answers = [wire.send((h, other)[i % 2].port, c, USER, wrong, "m") for i in range(10)]
        self.assertEqual(answers, [b"ERR:2001"] * 10)
        minute = int(time.time() // 60)
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"ERR:1000", "the right password, limited name")
        self.assertEqual(wire.receive(other.port, c, USER, DIGEST, 0), b"ERR:1000", "a receiver is told to wait")
        self.assertEqual(wire.send(h.port, c, "bob", BOB, "m"), b"ERR:1000", "the same address, another name")
        log = h.log_text() + other.log_text()
        self.assertEqual(log.count("failed logins:"), 1, log)
        self.assertIn("user alice from 127.0.0.1", log)
        self.assertNotIn(wrong, log)
        self.assertNotIn(DIGEST, log)
        # Limited requests cost no script: Redis sees no more calls.
        calls = lambda: int([line for line in redis_cli(self.redis, "INFO", "commandstats").splitlines()
                             if line.startswith("cmdstat_evalsha:")][0].split("calls=")[1].split(",")[0])
        before = calls()
        for _ in range(20):
            self.assertEqual(wire.send(h.port, c, USER, wrong, "m"), b"ERR:1000")
        self.assertEqual(calls(), before)
        # The next minute, all is well again.
        self.assertTrue(wait_until(lambda: int(time.time() // 60) > minute, 70))
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY")

    def test_failures_of_other_addresses_behind_a_proxy_are_counted_apart(self):
        h = self.hub(client_address_header="X-Forwarded-For")
        c = self.channel()
        wait_until(lambda: time.time() % 60 < 40, 25)
        hdrs = wire.headers("mallory", hubkit.digest("guess"))
        for i in range(10):
            hdrs["X-Forwarded-For"] = "10.0.0.1, 192.0.2.7"
            self.assertEqual(wire.request(h.port, "POST", "/zlk/channels/send.aspx?c=" + c, hdrs, b"m")[1], b"ERR:2001")
        ok = wire.headers(USER, DIGEST)
        ok["X-Forwarded-For"] = "192.0.2.8"
        self.assertEqual(wire.request(h.port, "POST", "/zlk/channels/send.aspx?c=" + c, ok, b"m")[1], b"OKAY",
                         "a client behind the same proxy is not limited")
        ok["X-Forwarded-For"] = "192.0.2.7"
        self.assertEqual(wire.request(h.port, "POST", "/zlk/channels/send.aspx?c=" + c, ok, b"m")[1], b"ERR:1000")
        self.assertIn("user mallory from 192.0.2.7", h.log_text())


class RedisAccess(HubCase):
    def setUp(self):
        self.scratch = hubkit.Scratch()
        self.socket_path = os.path.join(self.scratch.path, "redis.sock")
        self.redis = hubkit.Redis(self.scratch.path, extra=[
            "--unixsocket", self.socket_path, "--unixsocketperm", "700",
            "--user", "default", "off",
            "--user", "hub", "on", ">hubsecret", "~lumarel-hub:*", "&lumarel-hub:*", "+@all"]).start()
        self.hubs = []
        self.channel_count = 0

    def settings_file(self, **settings):
        path = os.path.join(self.scratch.path, "hub-%d.conf" % len(os.listdir(self.scratch.path)))
        with open(path, "w") as f:
            f.write("# the hub's settings, read by lumarel-hub-admin too\n")
            for name, value in settings.items():
                f.write("%s = %s\n" % (name.replace("_", "-"), value))
        return path

    def test_an_acl_user_with_a_password_over_a_unix_socket(self):
        conf = self.settings_file(redis_socket=self.socket_path, redis_user="hub", redis_password="hubsecret",
                                  digest_key="key # with a hash", default_send="*")
        done = hubkit.admin(self.redis, "add", USER, stdin=PASSWORD + "\n", settings=["--config", conf])
        self.assertEqual(done.returncode, 0, done.stderr)
        h = hubkit.Hub(self.redis, self.scratch.path, config=conf, digest_key=None).start()
        self.hubs.append(h)
        c = self.channel()
        self.assertEqual(wire.send(h.port, c, USER, DIGEST, "m"), b"OKAY", h.log_text())
        self.assertEqual(wire.receive(h.port, c, USER, DIGEST, 0), b"NEWDATA\r1\talice\tm")
        self.assertIn(self.socket_path, h.log_text())
        # A wrong password: the hub says why, the admin fails.
        bad = self.settings_file(redis_socket=self.socket_path, redis_user="hub", redis_password="wrong")
        done = hubkit.admin(self.redis, "users", settings=["--config", bad])
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"AUTH refused", done.stderr)
        wrong = hubkit.Hub(self.redis, self.scratch.path, config=bad, digest_key=None).start()
        self.hubs.append(wrong)
        self.assertEqual(wire.send(wrong.port, c, USER, DIGEST, "m"), b"ERR:1503")
        self.assertTrue(wait_until(lambda: "AUTH refused" in wrong.log_text()), wrong.log_text())
