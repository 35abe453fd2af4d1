"""End-to-end: the key typed at a real terminal. The program's standard input
is a pseudo-terminal; the key must not be echoed while typed, and echo must
be back on afterwards, also after an interrupt at the prompt, and off again
when the program is resumed after a stop at the prompt."""

import array
import fcntl
import os
import pty
import re
import select
import signal
import sys
import subprocess
import termios
import time
import tty
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


def console_text(data):
    """What a terminal shows of data: the same bytes, but that a Windows
    console (Wine's, drawing on the terminal) moves the cursor forward for a
    space, ends lines with CR LF and adds sequences of its own, dropped."""
    data = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), data).replace(b"\r\n", b"\n")
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", data)


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
        # On Windows standard output is the console too: it shows the echo.
        # The terminal's own flags are Wine's, not the console's mode.
        proc = self.start_at_prompt([self.exp, self.key(), "-o", "t.gpg"], stdin=self.slave,
                                    stdout=self.slave if WINDOWS else subprocess.PIPE, **kw)
        # Echo is off before the prompt. (Wine's console turns it off a moment
        # later; keys typed before would be the terminal's.)
        end = time.time() + (30 if WINDOWS else 0)
        while echo_on(self.slave) and time.time() < end:
            time.sleep(0.01)
        self.assertFalse(echo_on(self.slave))
        return proc

    def type_key(self, proc, text=KEY256 + ENTER):
        """The key typed: it is not echoed, echo comes back, the table is
        written, and nothing typed is left for the shell to read."""
        os.write(self.master, text.encode())
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, err)
        self.assertRegex(err.decode(), r"^\nWrote encrypted file t\.gpg \(took \d+\.\d{3} sec\)\n$")
        self.assertNotIn(KEY256[:8].encode(), console_text(pending(self.master)))
        self.assertTrue(echo_on(self.slave))
        waiting = array.array("i", [0])
        fcntl.ioctl(self.slave, termios.FIONREAD, waiting)
        self.assertEqual(waiting[0], 0)
        self.assertEqual(self.decrypt(self.path("t.gpg")), expected_table(self.sections))

    def test_key_is_not_echoed_and_echo_comes_back(self):
        self.type_key(self.start())
        # Pasted twice after a space, and a line more: the key is the 64
        # characters after the space, and the rest never reaches the shell.
        self.type_key(self.start(), " %s%s%secho leaked%s" % (KEY256, KEY256, ENTER, ENTER))

    def test_end_of_input_or_a_signal_at_the_prompt_restores_echo(self):
        if not WINDOWS:  # (Wine's console knows no end of input typed)
            proc = self.start()
            os.write(self.master, b"\x04")  # end of input on an empty terminal line
            out, err = proc.communicate(timeout=60)
            self.assertEqual((proc.returncode, out, err), (1, b"", b"\nCouldn't read quorvel key entered by user.\n"))
            self.assertTrue(echo_on(self.slave))
        # On Windows Ctrl+C (Wine makes it of SIGINT) ends the process with
        # the status the system gives it.
        for sig in (signal.SIGINT,) if WINDOWS else (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            proc = self.start()
            proc.send_signal(sig)
            self.assertEqual(proc.communicate(timeout=60)[1], b"")
            self.assertTrue(WINDOWS or proc.returncode == -sig, proc.returncode)
            self.assertTrue(echo_on(self.slave), sig)
        # Nor the output, nor the temporary file made for it before the prompt.
        self.assertEqual([n for n in os.listdir(self.dir) if "t.gpg" in n], [])

    @linux_only("job control (SIGTSTP, SIGCONT)")
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

    @linux_only("job control (a discarded SIGTSTP)")
    def test_stop_discarded_when_leading_the_session(self):
        # As a session's leader (ssh -t, tmux, script -c) the program's group is
        # orphaned and the kernel discards Ctrl-Z's stop: echo must be off again.
        def lead():
            os.setsid()
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
        proc = self.start(preexec_fn=lead)
        os.write(self.master, b"\x1a")
        time.sleep(0.5)
        self.assertEqual(process_state(proc.pid), "S")
        self.type_key(proc)


class Progress(E2ECase):
    """The progress line of a walk longer than a second: on standard error
    at a terminal, erased before the last line; never on a pipe. The run is
    stopped for 1.5 s once it has begun to read the export file (the walk's
    clock is wall time), so the line is due at the next block."""
    ROWS = 20000
    SEED = 72
    PER_BLOCK = 500

    def export_position(self, pid, exp):
        """Where pid's descriptor of exp stands (0 until one is open)."""
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == os.path.realpath(exp):
                    with open("/proc/%d/fdinfo/%s" % (pid, fd)) as f:
                        return int(re.search(r"pos:\s*(\d+)", f.read()).group(1))
            except OSError:
                pass  # a descriptor closed meanwhile (the key file's)
        return 0

    def stopped_run(self, exp, stderr):
        """The exit status, and what a pipe given as stderr got; stdout stays empty."""
        with open(self.write("key.txt", (KEY256 + "\n").encode()), "rb") as key:
            proc = subprocess.Popen([BIN, exp, self.key(), "-o", "Łódź.gpg"], stdin=key, stdout=subprocess.PIPE,
                                    stderr=stderr, cwd=self.dir, env=dict(os.environ, TZ="UTC"))
        self.addCleanup(lambda: (proc.kill(), proc.communicate()))
        while self.export_position(proc.pid, exp) == 0:
            pass
        proc.send_signal(signal.SIGSTOP)
        while process_state(proc.pid) != "T":
            time.sleep(0.001)
        self.assertLess(self.export_position(proc.pid, exp), os.path.getsize(exp), "the walk ended before the stop")
        time.sleep(1.5)
        proc.send_signal(signal.SIGCONT)
        out, err = proc.communicate(timeout=600)
        self.assertEqual(out, b"")
        return proc.returncode, err

    def test_progress_at_a_terminal_only(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        tty.setraw(slave)  # the bytes as written, no line feed translation
        cut = self.write("cut.exp", self.read(self.exp)[:-8])
        # The name as it is, also at a Windows console (shown in its code page).
        done = r"Wrote encrypted file Łódź\.gpg \(took \d+\.\d{3} sec\)\n\Z"
        cases = [(self.exp, 0, done), (cut, 1, r"Error parsing export file: couldn't read section header.*\n\Z")]
        for exp, status, last in cases:
            self.assertEqual(self.stopped_run(exp, slave), (status, None))
            err = console_text(pending(master)).decode()
            # (A console drops a carriage return at the start of a line.)
            m = re.fullmatch(r"Enter quorvel export key: \n((?:\r?\d+% of the export file read, \d+ rows kept *)+)"
                             r"\r( +)\r" + last, err)
            self.assertIsNotNone(m, err)
            # The spaces cover the longest line drawn.
            self.assertEqual(len(m.group(2)), max(map(len, m.group(1).split("\r"))))
        self.assertEqual(self.decrypt(self.path("Łódź.gpg")), expected_table(self.sections))
        status, err = self.stopped_run(self.exp, subprocess.PIPE)
        self.assertEqual(status, 0)
        self.assertRegex(err.decode(), r"\AEnter quorvel export key: \n" + done)

if __name__ == "__main__":
    unittest.main(verbosity=2)
