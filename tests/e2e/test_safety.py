"""End-to-end: what a failing machine or a hostile set-up must not do to the
card data. A failed write keeps the previous output and leaves no temporary
file; links planted at the output path are replaced, not written through;
the output is never an input; no core file is written; a cut-off export
file is an error; standard descriptors that were closed are not reused;
oversized inputs are refused instead of filling memory."""

import glob
import os
import re
import resource
import signal
import stat
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

PROMPT = b"Enter quorvel export key: \n"
OLD = b"the previous output, which must survive\n"


def in_child(*steps):
    """A preexec_fn running each step in the child before exec."""
    def run():
        for step in steps:
            step()
    return run


def fsize_limit(n):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (n, n))


def ignore(sig):
    return lambda: signal.signal(sig, signal.SIG_IGN)


class Base(E2ECase):
    rows = 300

    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(self.rows, 90))]
        self.exp = self.make_export("x.exp", self.sections, rows_per_block=100)

    def run_raw(self, args, key=KEY256 + "\n", cwd=None, **kw):
        env = dict(os.environ, TZ="UTC")
        stdin = kw.pop("stdin", subprocess.PIPE)
        p = subprocess.Popen([BIN] + list(args), stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             cwd=cwd or self.dir, env=env, **kw)
        out, err = p.communicate(key.encode() if stdin == subprocess.PIPE else None, timeout=600)
        return p.returncode, out, err

    def run_watched(self, args, rss_limit=1 << 30):
        """run_raw for inputs that could make the program grow without end:
        the run is stopped, and fails the test, once its resident memory
        passes rss_limit."""
        self.write("key.txt", (KEY256 + "\n").encode())
        with open(self.path("key.txt"), "rb") as key:
            p = subprocess.Popen([BIN] + list(args), stdin=key, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 cwd=self.dir, env=dict(os.environ, TZ="UTC"))
        deadline = time.time() + 600
        while True:
            try:
                out, err = p.communicate(timeout=0.2)
                return p.returncode, out, err
            except subprocess.TimeoutExpired:
                pass
            try:
                with open("/proc/%d/status" % p.pid) as f:
                    rss = [int(ln.split()[1]) * 1024 for ln in f if ln.startswith("VmRSS:")]
            except OSError:
                rss = []
            if (rss and rss[0] > rss_limit) or time.time() > deadline:
                p.kill()
                p.communicate()
                self.fail("%s: stopped at %s bytes of memory" % (args, rss))

    def leftovers(self, directory):
        """Temporary files of the writer left in directory."""
        return [n for n in os.listdir(directory) if n.startswith(".") and len(n) > 7 and n[-7] == "."]

    def assert_table_in(self, path):
        self.assertEqual(self.decrypt(path), expected_table(self.sections))


class FailedWrites(Base):
    """A write that fails part-way keeps the old output byte for byte."""

    def check_failed_write(self, directory, preexec, status):
        out = os.path.join(directory, "out.gpg")
        with open(out, "wb") as f:
            f.write(OLD)
        os.chmod(out, 0o640)
        rc, sout, serr = self.run_raw([self.exp, self.key(), "-o", out], preexec_fn=preexec)
        self.assertEqual(rc, status, serr)
        if status == 1:
            self.assertEqual(sout, b"Couldn't write encrypted results to %s\n" % out.encode())
            self.assertEqual(serr, PROMPT)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), OLD)
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)
        self.assertEqual(self.leftovers(directory), [])

    def test_file_size_limit(self):
        # The encrypted table is well over 4 KiB; the old output is smaller
        # than the limit, so only the new content can hit it.
        cases = [
            ("SIGXFSZ ignored: the write fails and is reported", ignore(signal.SIGXFSZ), 1),
            ("SIGXFSZ kills: the temporary file goes with the process", None, -signal.SIGXFSZ),
        ]
        for name, extra, status in cases:
            with self.subTest(name):
                steps = [fsize_limit(4096)] + ([extra] if extra else [])
                self.check_failed_write(self.dir, in_child(*steps), status)

    def test_full_file_system(self):
        mnt = self.path("small")
        os.mkdir(mnt)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt], capture_output=True)
        if r.returncode != 0:
            self.skipTest("cannot mount a small tmpfs here: %s" % r.stderr.decode().strip())
        try:
            # Fill what the old output leaves free, so that the new one
            # cannot fit.
            with open(os.path.join(mnt, "out.gpg"), "wb") as f:
                f.write(OLD)
            try:
                with open(os.path.join(mnt, "filler"), "wb") as f:
                    while True:
                        f.write(b"\0" * 1024)
                        f.flush()
            except OSError:
                pass
            self.check_failed_write(mnt, None, 1)
        finally:
            subprocess.run(["umount", mnt], capture_output=True)


class Replacing(Base):
    """A successful run replaces the name, never what a link points at."""

    def test_replacement_keeps_mode_and_other_names(self):
        out = self.path("out.gpg")
        victim = self.path("victim")  # stands for another user's file
        other = self.path("other-name")
        nowhere = self.path("nowhere")

        def existing():
            self.write("out.gpg", OLD)
            os.chmod(out, 0o604)

        def planted():
            self.write("victim", OLD)
            os.chmod(victim, 0o600)
            os.symlink(victim, out)

        def hard_linked():
            self.write("other-name", OLD)
            os.chmod(other, 0o620)
            os.link(other, out)

        cases = [
            # (set-up, mode of the new output, a file that must keep OLD, a
            # path that must not come into being)
            ("existing file keeps its mode", existing, 0o604, None, None),
            ("new file: 0666 less the umask", lambda: None, 0o640, None, None),
            ("planted symlink is replaced", planted, 0o640, victim, None),
            ("dangling symlink is replaced", lambda: os.symlink(nowhere, out), 0o640, None, nowhere),
            ("hard link: the other name keeps the old data", hard_linked, 0o620, other, None),
        ]
        for name, setup, mode, kept, absent in cases:
            with self.subTest(name):
                for p in (out, victim, other):
                    if os.path.lexists(p):
                        os.remove(p)
                setup()
                rc, sout, serr = self.run_raw([self.exp, self.key(), "-o", "out.gpg"],
                                              preexec_fn=lambda: os.umask(0o027))
                self.assertEqual((rc, sout), (0, b""), serr)
                st = os.lstat(out)
                self.assertTrue(stat.S_ISREG(st.st_mode))
                self.assertEqual(stat.S_IMODE(st.st_mode), mode)
                self.assert_table_in(out)
                if kept:
                    with open(kept, "rb") as f:
                        self.assertEqual(f.read(), OLD)
                if absent:
                    self.assertFalse(os.path.lexists(absent))
                self.assertEqual(self.leftovers(self.dir), [])

    def test_non_regular_outputs_are_written_directly(self):
        # A private character device (the null device's numbers) made in the
        # scratch folder; the machine's own nodes are never used.
        dev = self.path("null-device")
        try:
            os.mknod(dev, 0o600 | stat.S_IFCHR, os.makedev(1, 3))
        except OSError as e:
            self.skipTest("cannot make a device node here: %s" % e)
        rc, sout, serr = self.run_raw([self.exp, self.key(), "-o", dev])
        self.assertEqual((rc, sout), (0, b""), serr)
        self.assertTrue(stat.S_ISCHR(os.lstat(dev).st_mode))
        self.assertEqual(self.leftovers(self.dir), [])

        # A FIFO: what the reader receives is the whole message.
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        got = []
        def read_all():
            with open(fifo, "rb") as f:
                got.append(f.read())
        reader = threading.Thread(target=read_all, daemon=True)
        reader.start()
        rc, sout, serr = self.run_raw([self.exp, self.key(), "-o", fifo])
        reader.join(60)
        self.assertEqual((rc, sout), (0, b""), serr)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))
        self.write("from-pipe.gpg", got[0])
        self.assert_table_in(self.path("from-pipe.gpg"))

    def test_read_only_output_is_not_replaced(self):
        if os.getuid() != 0 or os.environ.get("QTE_WRAPPER"):
            self.skipTest("needs root, and the program itself, to run it as another user")
        nobody = 65534
        os.chmod(self.dir, 0o777)
        with open(self.key(), "rb") as f:
            self.write("k.asc", f.read())
        out = self.write("ro.gpg", OLD)
        os.chmod(out, 0o444)
        for p in (self.exp, self.path("k.asc"), out):
            os.chown(p, nobody, nobody)
        rc, sout, serr = self.run_raw([self.exp, "k.asc", "-o", "ro.gpg"],
                                      preexec_fn=in_child(lambda: os.setgid(nobody), lambda: os.setuid(nobody)))
        self.assertEqual((rc, sout, serr), (1, b"Couldn't write encrypted results to ro.gpg\n", PROMPT))
        with open(out, "rb") as f:
            self.assertEqual(f.read(), OLD)
        self.assertEqual(self.leftovers(self.dir), [])

    def test_directory_output_fails_untouched(self):
        os.mkdir(self.path("d"))
        rc, sout, serr = self.run_raw([self.exp, self.key(), "-o", "d"])
        self.assertEqual((rc, sout, serr), (1, b"Couldn't write encrypted results to d\n", PROMPT))
        self.assertEqual(os.listdir(self.path("d")), [])
        self.assertEqual(self.leftovers(self.dir), [])


class OutputIsInput(Base):
    rows = 3

    def test_refused_before_the_prompt(self):
        with open(self.key(), "rb") as f:
            keydata = f.read()
        self.write("k.asc", keydata)
        os.link(self.exp, self.path("x-link.exp"))
        os.symlink("k.asc", self.path("k-link"))
        self.write("x.exp.gpg", keydata)
        cases = [
            # (arguments, the output name in the message)
            ([self.exp, "k.asc", "-o", self.exp], self.exp),
            ([self.exp, "k.asc", "-o", "x.exp"], "x.exp"),
            ([self.exp, "k.asc", "-o", "k.asc"], "k.asc"),
            ([self.exp, "k.asc", "-o", "./k.asc"], "./k.asc"),
            ([self.exp, "k.asc", "-o", "x-link.exp"], "x-link.exp"),
            ([self.exp, "k.asc", "-o", "k-link"], "k-link"),
        ]
        with open(self.exp, "rb") as f:
            before = f.read()
        for args, name in cases:
            with self.subTest(args=args):
                rc, sout, serr = self.run_raw(args)
                self.assertEqual((rc, sout), (1, b""))
                self.assertEqual(serr, b"Output file %s is also an input file; choose another with -o\n" %
                                 name.encode())
                with open(self.exp, "rb") as f:
                    self.assertEqual(f.read(), before)
                with open(self.path("k.asc"), "rb") as f:
                    self.assertEqual(f.read(), keydata)
        # The default output name naming the key file.
        rc, sout, serr = self.run_raw([self.exp, "x.exp.gpg"])
        self.assertEqual((rc, serr), (1, b"Output file x.exp.gpg is also an input file; choose another with -o\n"))


class CoreDumps(Base):
    rows = 3

    def start_at_prompt(self):
        unlimited = lambda: resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY,
                                                                       resource.RLIM_INFINITY))
        p = subprocess.Popen([BIN, self.exp, self.key(), "-o", "c.gpg"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir, preexec_fn=unlimited)
        self.addCleanup(lambda: (p.kill(), p.communicate()))
        got = b""
        while not got.endswith(b"Enter quorvel export key: "):
            chunk = os.read(p.stderr.fileno(), 100)
            self.assertTrue(chunk, got)
            got += chunk
        return p

    def test_core_limit_is_zero_at_the_prompt(self):
        p = self.start_at_prompt()
        with open("/proc/%d/limits" % p.pid) as f:
            line = [ln for ln in f if ln.startswith("Max core file size")][0]
        self.assertEqual(line.split()[4:6], ["0", "0"], line)

    def cores(self):
        return glob.glob(os.path.join(self.dir, "core*"))

    def test_no_core_after_a_crash_signal(self):
        with open("/proc/sys/kernel/core_pattern") as f:
            pattern = f.read().strip()
        if pattern.startswith("|") or "/" in pattern:
            self.skipTest("core files do not land in the working directory here (core_pattern %r)" % pattern)
        # Control: on this machine, with this limit, a plain process dumps.
        ctl = subprocess.Popen(["sleep", "60"], cwd=self.dir, preexec_fn=lambda: resource.setrlimit(
            resource.RLIMIT_CORE, (resource.RLIM_INFINITY, resource.RLIM_INFINITY)))
        time.sleep(0.2)
        ctl.send_signal(signal.SIGABRT)
        ctl.wait()
        if not self.cores():
            self.skipTest("this machine writes no core files")
        for c in self.cores():
            os.remove(c)
        for sig in (signal.SIGABRT, signal.SIGSEGV, signal.SIGQUIT):
            with self.subTest(sig=sig):
                p = self.start_at_prompt()
                p.send_signal(sig)
                p.communicate(timeout=60)
                # Ended by the signal (a sanitizer build reports and exits).
                self.assertNotEqual(p.returncode, 0)
                self.assertEqual(self.cores(), [])


class CutFiles(Base):
    rows = 42

    def test_cut_inside_a_skipped_block(self):
        sections = [("RECURRING", HEADER, make_rows(24, 91)), ("OTHER", ["a"], [["x" * 50]] * 30),
                    ("RECURRING", HEADER, make_rows(18, 92))]
        exp = self.make_export("cut.exp", sections, rows_per_block=6)
        with open(exp, "rb") as f:
            text = f.read()
        other = text.index(b"(OTHER)")
        last = text.rfind(b"---DATABLOCK_SIZE=", other, text.index(b"(RECURRING)", other))
        size = re.match(rb"---DATABLOCK_SIZE=(\d+):\d+[^\n]*\n", text[last:])
        start = last + size.end()
        end = start + int(size.group(1))  # the last skipped block's data ends here
        trunc = PROMPT + b"Error parsing export file: file truncated!\n"
        cases = [
            ("cut inside a skipped block", text[:(start + end) // 2], trunc),
            ("one byte of a skipped block missing", text[:end - 1], trunc),
            ("skipped block ending exactly at the end of the file", text[:end], None),
        ]
        for name, data, stderr in cases:
            with self.subTest(name):
                path = self.write("t.exp", data)
                if os.path.exists(self.path("t.gpg")):
                    os.remove(self.path("t.gpg"))
                r = self.run_tool([path, self.key(), "-o", "t.gpg"])
                if stderr is None:
                    self.assert_success(r, "t.gpg")
                    self.assertEqual(self.decrypt(self.path("t.gpg")), expected_table(sections[:1]))
                else:
                    self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"", stderr))
                    self.assertFalse(os.path.exists(self.path("t.gpg")))


class Descriptors(Base):
    rows = 3

    @unittest.skipIf(os.environ.get("QTE_WRAPPER"), "a wrapper such as valgrind takes the closed descriptors")
    def test_closed_standard_descriptors_are_not_reused(self):
        cases = [
            # (descriptors closed, status, standard error or None when closed)
            ((0,), 1, b"Enter quorvel export key: \nCouldn't read quorvel key entered by user.\n"),
            ((2,), 0, None),
            ((1, 2), 0, None),
        ]
        for closed, status, stderr in cases:
            with self.subTest(closed=closed):
                out = self.path("d.gpg")
                if os.path.exists(out):
                    os.remove(out)
                # The key comes through a file when standard input stays open.
                keyfile = self.write("key.txt", (KEY256 + "\n").encode())
                args = [BIN, self.exp, self.key(), "-o", "d.gpg"]
                fds = " ".join("%d>&-" % fd for fd in closed if fd != 0) + (" <&-" if 0 in closed else " <key.txt")
                r = subprocess.run(["sh", "-c", 'exec "$@" ' + fds, "sh"] + args, capture_output=True,
                                   cwd=self.dir, env=dict(os.environ, TZ="UTC"), timeout=600)
                self.assertEqual(r.returncode, status, r.stderr)
                if stderr is not None:
                    self.assertEqual(r.stderr, stderr)
                if status == 0:
                    self.assertEqual(self.decrypt(out), expected_table(self.sections))
                self.assertTrue(os.path.exists(keyfile))


class BoundedReads(Base):
    rows = 3

    def test_oversized_inputs(self):
        big = 64 * 1024 * 1024
        for name, size in (("exact.asc", big), ("over.asc", big + 1)):
            with open(self.path(name), "wb") as f:
                f.truncate(size)
        line = b"--QUORVEL--ENCRYPTED--DATA--EXPORT---(OTHER)"
        too_long = PROMPT + b"Error parsing export file: header line too long (more than 65536 bytes)\n"
        section_err = PROMPT + b"Error parsing export file: couldn't read section header from export file\n"
        self.write("at-limit.exp", line + b"\n" + b"x" * 65536 + b"\n")
        self.write("over-limit.exp", line + b"\n" + b"x" * 65537 + b"\n")
        self.write("first-over.exp", b"y" * 65537)
        cases = [
            ([self.exp, "exact.asc"], b"Couldn't parse public key data from file: "),
            ([self.exp, "over.asc"], b"Couldn't read PGP public key file: over.asc\n"),
            (["at-limit.exp", self.key()], section_err),
            (["over-limit.exp", self.key()], too_long),
            (["first-over.exp", self.key()], too_long),
        ]
        # Endless devices, made privately in the scratch folder.
        try:
            os.mknod(self.path("zero"), 0o600 | stat.S_IFCHR, os.makedev(1, 5))
            cases += [([self.exp, "zero"], b"Couldn't read PGP public key file: zero\n"),
                      (["zero", self.key()], too_long)]
        except OSError:
            pass
        for args, stderr in cases:
            with self.subTest(args=args):
                rc, sout, serr = self.run_watched(args + ["-o", "b.gpg"])
                self.assertEqual((rc, sout), (1, b""))
                self.assertTrue(serr.startswith(stderr), serr)
                self.assertFalse(os.path.exists(self.path("b.gpg")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
