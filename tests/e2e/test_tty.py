"""End-to-end: the key typed at a real terminal. The program's standard input
is a pseudo-terminal; the key must not be echoed while typed, and echo must
be back on afterwards, also after an interrupt at the prompt, and off again
when the program is resumed after a stop at the prompt."""

import os
import pty
import select
import signal
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403


def echo_on(fd):
    return bool(termios.tcgetattr(fd)[3] & termios.ECHO)


def read_until(fd, marker, timeout=30.0):
    data = b""
    end = time.time() + timeout
    while marker not in data and time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
    return data


def drain(fd):
    data = b""
    while True:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if not ready:
            return data
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return data
        if not chunk:
            return data
        data += chunk


class Terminal(E2ECase):
    def setUp(self):
        super().setUp()
        self.exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(5, 70))])
        self.master, self.slave = pty.openpty()
        self.assertTrue(echo_on(self.slave))

    def tearDown(self):
        os.close(self.master)
        os.close(self.slave)
        super().tearDown()

    def start(self, **kw):
        env = dict(os.environ, TZ="UTC")
        proc = subprocess.Popen([BIN, self.exp, self.key(), "-o", "t.gpg"], stdin=self.slave,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir, env=env, **kw)
        err = read_until(proc.stderr.fileno(), b"Enter quorvel export key: ")
        self.assertEqual(err, b"Enter quorvel export key: ")
        # The prompt is written after echo has been turned off.
        self.assertFalse(echo_on(self.slave))
        return proc

    def test_key_is_not_echoed_and_echo_comes_back(self):
        proc = self.start()
        os.write(self.master, (KEY256 + "\n").encode())
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, err)
        self.assertRegex(err.decode(), r"^\nWrote encrypted file t\.gpg \(took \d+\.\d{3} sec\)\n$")
        self.assertNotIn(KEY256.encode(), drain(self.master))
        self.assertTrue(echo_on(self.slave))
        self.assertEqual(self.decrypt(self.path("t.gpg")),
                         expected_table([("RECURRING", HEADER, make_rows(5, 70))]))

    def test_end_of_input_at_the_prompt_restores_echo_before_the_message(self):
        proc = self.start()
        os.write(self.master, b"\x04")  # end of input on an empty terminal line
        out, err = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, out), (1, b""))
        self.assertEqual(err, b"\nCouldn't read quorvel key entered by user.\n")
        self.assertTrue(echo_on(self.slave))
        self.assertFalse(os.path.exists(self.path("t.gpg")))

    def test_interrupt_at_the_prompt_restores_echo(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            proc = self.start()
            proc.send_signal(sig)
            proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, -sig)
            self.assertTrue(echo_on(self.slave), sig)
            self.assertFalse(os.path.exists(self.path("t.gpg")))

    @unittest.skipIf(os.environ.get("QTE_WRAPPER"), "valgrind does not stop its process on SIGTSTP")
    def test_stop_and_resume_at_the_prompt(self):
        # A process group of its own, as a shell gives a job: the stop of an
        # orphaned group would be discarded.
        proc = self.start(process_group=0)
        proc.send_signal(signal.SIGTSTP)
        end = time.time() + 30
        while process_state(proc.pid) != "T" and time.time() < end:
            time.sleep(0.05)
        self.assertEqual(process_state(proc.pid), "T")
        self.assertTrue(echo_on(self.slave))  # the shell the user is back at echoes

        proc.send_signal(signal.SIGCONT)
        self.assertEqual(read_until(proc.stderr.fileno(), b"Enter quorvel export key: "),
                         b"Enter quorvel export key: ")
        self.assertFalse(echo_on(self.slave))
        os.write(self.master, (KEY256 + "\n").encode())
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, err)
        self.assertNotIn(KEY256.encode(), drain(self.master))
        self.assertTrue(echo_on(self.slave))
        self.assertEqual(self.decrypt(self.path("t.gpg")),
                         expected_table([("RECURRING", HEADER, make_rows(5, 70))]))


def process_state(pid):
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


if __name__ == "__main__":
    unittest.main(verbosity=2)
