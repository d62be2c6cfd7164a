#!/usr/bin/env python3
"""./dev bench, the hub's part: a Redis and two hub processes (the release
build) on free loopback ports, then hub_load against them."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import hubkit  # noqa: E402

build = sys.argv[1]
os.environ["HUB_BINARY"] = os.path.join(build, "lumarel-hub")
hubkit.ADMIN = os.path.join(build, "lumarel-hub-admin")
hubkit.HUB = os.environ["HUB_BINARY"]
scratch = hubkit.Scratch()
redis = hubkit.Redis(scratch.path)
try:
    # Persistence off: the figures are the hub's and Redis's, not the disk's.
    redis.process = subprocess.Popen(["redis-server", "--bind", "127.0.0.1", "--port", str(redis.port), "--dir",
                                      scratch.path, "--save", "", "--appendonly", "no"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not hubkit.wait_until(lambda: hubkit.answers(redis.port)):
        sys.exit("redis-server did not start")
    hubkit.admin(redis, "add", "bench", stdin="bench password\n")
    common = dict(requests_per_second=10000000, max_held_per_user=1000000, hold_seconds=100, max_connections=30000,
                  default_send="*", max_queued=100000)
    # The hub of the held receivers keeps its coalescing; the other answers at
    # once, so that its latency is the send path's alone.
    hub = hubkit.Hub(redis, scratch.path, **common).start()
    other = hubkit.Hub(redis, scratch.path, min_answer_seconds=0, **common).start()
    try:
        code = subprocess.run([os.path.join(build, "hub_load"), "--hub-port", str(hub.port), "--other-hub-port",
                               str(other.port), "--redis-port", str(redis.port), "--hub-pid", str(hub.process.pid),
                               "--user", "bench", "--digest", hubkit.digest("bench password"), "--digest-key",
                               hubkit.DIGEST_KEY]).returncode
    finally:
        hub.terminate(60)
        other.terminate(60)
    sys.exit(code)
finally:
    redis.kill()
    scratch.remove()
