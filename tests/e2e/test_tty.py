"""End-to-end: the key typed at a real terminal. The program's standard input
is a pseudo-terminal; the key must not be echoed while typed, and echo must
be back on afterwards, also after an interrupt at the prompt, and off again
when the program is resumed after a stop at the prompt."""

import array
import fcntl
import os
import pty
import select
import signal
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403


def echo_on(fd):
    return bool(termios.tcgetattr(fd)[3] & termios.ECHO)


def pending(fd):
    """What fd gives until it has been quiet for 0.2 s."""
    data = b""
    while select.select([fd], [], [], 0.2)[0]:
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data


def process_state(pid):
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


class Terminal(E2ECase):
    ROWS = 5
    SEED = 70

    def setUp(self):
        super().setUp()
        self.master, self.slave = pty.openpty()
        self.addCleanup(os.close, self.master)
        self.addCleanup(os.close, self.slave)
        self.assertTrue(echo_on(self.slave))

    def start(self, **kw):
        proc = self.start_at_prompt([self.exp, self.key(), "-o", "t.gpg"], stdin=self.slave, **kw)
        # The prompt is written after echo has been turned off.
        self.assertFalse(echo_on(self.slave))
        return proc

    def type_key(self, proc, text=KEY256 + "\n"):
        """The key typed: it is not echoed, echo comes back, the table is
        written, and nothing typed is left for the shell to read."""
        os.write(self.master, text.encode())
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, err)
        self.assertRegex(err.decode(), r"^\nWrote encrypted file t\.gpg \(took \d+\.\d{3} sec\)\n$")
        self.assertNotIn(KEY256.encode(), pending(self.master))
        self.assertTrue(echo_on(self.slave))
        waiting = array.array("i", [0])
        fcntl.ioctl(self.slave, termios.FIONREAD, waiting)
        self.assertEqual(waiting[0], 0)
        self.assertEqual(self.decrypt(self.path("t.gpg")), expected_table(self.sections))

    def test_key_is_not_echoed_and_echo_comes_back(self):
        self.type_key(self.start())
        # Pasted twice after a space, and a line more: the key is the 64
        # characters after the space, and the rest never reaches the shell.
        self.type_key(self.start(), " %s%s\necho leaked\n" % (KEY256, KEY256))

    def test_end_of_input_or_a_signal_at_the_prompt_restores_echo(self):
        proc = self.start()
        os.write(self.master, b"\x04")  # end of input on an empty terminal line
        out, err = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, out, err), (1, b"", b"\nCouldn't read quorvel key entered by user.\n"))
        self.assertTrue(echo_on(self.slave))
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
        self.read_prompt(proc)
        self.assertFalse(echo_on(self.slave))
        self.type_key(proc)


if __name__ == "__main__":
    unittest.main(verbosity=2)
