"""Redis and hub processes for the hub's tests and demo: each on a free
loopback port, in a scratch folder, stopped at the end. Waits are bounded
polls on a positive signal (a port that answers, a count that is reached)."""
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

HUB = os.environ.get("HUB_BINARY", "lumarel-hub")
# The secret the hub and lumarel-hub-admin share for the keyed hashes in Redis.
DIGEST_KEY = "test digest key"
ADMIN = os.environ.get("HUB_ADMIN", "lumarel-hub-admin")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(check, seconds=10.0, step=0.02):
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), 0.5).close()
        return True
    except OSError:
        return False


def digest(password):
    return hashlib.md5(password.encode("utf-8")).hexdigest()


class Redis:
    def __init__(self, folder, port=None, extra=()):
        self.folder, self.port, self.process, self.extra = folder, port or free_port(), None, list(extra)

    def start(self):
        # Every write reaches the disk before Redis answers: a crash loses nothing accepted.
        self.process = subprocess.Popen(
            ["redis-server", "--bind", "127.0.0.1", "--port", str(self.port), "--dir", self.folder,
             "--appendonly", "yes", "--appendfsync", "always", "--save", "", "--daemonize", "no"] + self.extra,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: answers(self.port)):
            raise RuntimeError("redis-server did not start")
        return self

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class Hub:
    def __init__(self, redis, folder, **settings):
        self.redis, self.port, self.metrics_port = redis, free_port(), free_port()
        self.log_path = os.path.join(folder, "hub-%d.log" % self.port)
        self.settings = dict(settings)
        self.process = None

    def start(self):
        args = [HUB, "--port", str(self.port), "--redis-port", str(self.redis.port),
                "--metrics-listen", "127.0.0.1:%d" % self.metrics_port]
        settings = dict(digest_key=DIGEST_KEY)
        settings.update(self.settings)
        for name, value in settings.items():
            if value is None:
                continue
            args += ["--" + name.replace("_", "-"), str(value)]
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        if not wait_until(lambda: answers(self.port) or self.process.poll() is not None):
            raise RuntimeError("the hub did not start")
        if self.process.poll() is not None:
            raise RuntimeError("the hub ended: " + self.log_text())
        return self

    def metrics(self):
        """{name with labels: value} from GET /metrics."""
        import urllib.request
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % self.metrics_port, timeout=10) as r:
            text = r.read().decode()
        values = {}
        for line in text.splitlines():
            if line and not line.startswith("#"):
                name, value = line.rsplit(" ", 1)
                values[name] = float(value)
        return values

    def metric(self, name):
        return self.metrics().get(name)

    def log_text(self):
        with open(self.log_path) as f:
            return f.read()

    def rss_kb(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def terminate(self, seconds=20):
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(seconds)
        self.log.close()
        return code

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)
            self.log.close()


def admin(redis, *words, stdin="", settings=None):
    flags = ["--redis-port", str(redis.port), "--digest-key", DIGEST_KEY] if settings is None else settings
    return subprocess.run([ADMIN] + flags + list(words), input=stdin.encode(), capture_output=True, timeout=30)


class Scratch:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="hubtest")

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)
