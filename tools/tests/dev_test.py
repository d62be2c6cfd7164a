"""How ./dev decides whether this machine can start the i686 programs.

Each case sources dev and asks i686_unsupported_reason about a loader made
here. The one that matters: a 32-bit ELF file the kernel refuses to start
("Exec format error"), as a kernel with IA-32 emulation off refuses the
Debian root's /lib/ld-linux.so.2.
"""
import os
import stat
import subprocess
import tempfile
import unittest

DEV = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "dev")
NO_IA32 = "this kernel starts no 32-bit programs (IA-32 emulation is off)"


def reason(loader):
    run = subprocess.run(["bash", "-c", 'source "$1" && i686_unsupported_reason "$2"', "dev", DEV, loader],
                         capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout.strip()


def executable(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(content)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


class I686Detection(unittest.TestCase):
    def test_loaders(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = [
                # An ELF header of class 32 that no binary format of the kernel
                # takes: execve fails with ENOEXEC, as for every 32-bit program
                # on a kernel without IA-32 emulation.
                ("a loader the kernel cannot start", executable(folder, "refused", b"\x7fELF\x01\x01\x01\x00"),
                 NO_IA32),
                ("a loader that starts", executable(folder, "starts", b"#!/bin/sh\necho 'ld.so 2.36'\n"), ""),
                # Not a reason to leave the suite out: it runs, and fails for what is wrong.
                ("a loader that fails otherwise",
                 executable(folder, "fails", b"#!/bin/sh\necho 'cannot open shared object' >&2\nexit 127\n"), ""),
                ("no loader at all", os.path.join(folder, "missing"), ""),
            ]
            for name, loader, expected in cases:
                with self.subTest(name):
                    status, said = reason(loader)
                    self.assertEqual(status, 0, name)
                    self.assertEqual(said, expected, name)


if __name__ == "__main__":
    unittest.main()
