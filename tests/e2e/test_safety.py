"""End-to-end: what a failing machine or a hostile set-up must not do to the
card data. A failed write keeps the previous output and leaves no temporary
file; links planted at the output path are replaced, not written through;
the output is never an input; core files are limited to 0; standard
descriptors that were closed are not reused; oversized inputs are refused
instead of filling memory."""

import fcntl
import glob
import os
import resource
import select
import signal
import stat
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

OLD = b"the previous output, which must survive\n"
UNLIMITED = (resource.RLIM_INFINITY, resource.RLIM_INFINITY)


class Base(E2ECase):
    ROWS = 300
    SEED = 90
    PER_BLOCK = 100

    def run_watched(self, args, rss_limit=1 << 30):
        """A run stopped, failing the test, once its resident memory passes rss_limit."""
        with open(self.write("key.txt", (KEY256 + "\n").encode()), "rb") as key:
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

    def assert_no_leftovers(self, directory=None):
        """No temporary file of the writer (".name.XXXXXX") is left."""
        names = os.listdir(directory or self.dir)
        self.assertEqual([n for n in names if n.startswith(".") and len(n) > 7 and n[-7] == "."], [])

    def assert_holds(self, path, data=OLD):
        self.assertEqual(self.read(path), data)


class FailedWrites(Base):
    """A write that fails part-way keeps the old output byte for byte."""

    def check_failed_write(self, directory, reason, exp=None, env=None, preexec=None):
        out = self.write(os.path.join(directory, "out.gpg"), OLD)
        os.chmod(out, 0o640)
        r = self.run_tool([exp or self.exp, self.key(), "-o", out], preexec_fn=preexec, env=env)
        name = shown(out).encode()
        self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"Couldn't write encrypted results to %s\n" % name,
                                                              PROMPT + b"\n%s: %s\n" % (name, reason)))
        self.assert_holds(out)
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)
        self.assert_no_leftovers(directory)

    @linux_only("a file size limit (RLIMIT_FSIZE)")
    def test_file_size_limit(self):
        # Only the new content (well over 4 KiB) meets the limit; with SIGXFSZ
        # ignored or at its default (which ends a process), the write fails.
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        ignore = lambda: signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        for steps in ((limit, ignore), (limit,)):
            with self.subTest(steps=len(steps)):
                self.check_failed_write(self.dir, b"File too large", preexec=lambda: [step() for step in steps])

    @unittest.skipUnless(WINDOWS, "Ctrl+C, a console event of Windows (Wine makes one of SIGINT)")
    def test_ctrl_c_keeps_the_old_output(self):
        # At the prompt, and once the key is read, in the middle of a large
        # export: the temporary file is gone, the old output stays.
        self.write("out.gpg", OLD)
        big = self.make_export("big.exp", [("RECURRING", HEADER, make_rows(150000, 93))], rows_per_block=500)
        for keyed in (False, True):
            with self.subTest(keyed=keyed):
                p = self.start_at_prompt([big, self.key(), "-o", "out.gpg"])
                if keyed:
                    p.stdin.write((KEY256 + "\n").encode())
                    p.stdin.flush()
                    self.assertEqual(os.read(p.stderr.fileno(), 1), b"\n")  # the key was read
                p.send_signal(signal.SIGINT)
                self.assertNotIn(b"Wrote", p.communicate(timeout=60)[1])
                self.assert_holds(self.path("out.gpg"))
                self.assert_no_leftovers()

    def test_full_file_system(self):
        mnt = self.path("small")
        os.mkdir(mnt)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt], capture_output=True)
        if r.returncode != 0:
            self.skipTest("cannot mount a small tmpfs here: %s" % r.stderr.decode().strip())
        try:
            # Room for the message's start only: the disk fills while blocks
            # are still decoded, before the damaged last block, so the full
            # disk is the failure reported, on one thread or many.
            self.write(os.path.join(mnt, "out.gpg"), OLD)
            filler = os.path.join(mnt, "filler")
            try:
                with open(filler, "wb") as f:
                    while True:
                        f.write(b"\0" * 1024)
                        f.flush()
            except OSError:
                pass
            os.truncate(filler, os.path.getsize(filler) - 16384)
            data = self.read(self.make_export("big.exp", [("RECURRING", HEADER, make_rows(80000, 35))]))
            at = data.index(b"\n", data.rindex(b"---DATABLOCK_SIZE=")) + 1
            bad = self.write("bad.exp", data[:at] + b"!" * 8 + data[at + 8:])
            for threads in ("1", "8"):
                self.check_failed_write(mnt, NO_SPACE, bad, {"TOKENEXP_THREADS": threads})
        finally:
            subprocess.run(["umount", mnt], capture_output=True)

    @linux_only("a FIFO whose reader goes away")
    def test_broken_pipe_is_a_failed_write(self):
        # The pipe holds one page; the reader leaves once the message has
        # begun to come, while the program still has most of it to write.
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
        with open(self.write("key.txt", (KEY256 + "\n").encode()), "rb") as key:
            p = subprocess.Popen([BIN, self.exp, self.key(), "-o", "pipe"], stdin=key, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, cwd=self.dir)
        self.assertTrue(select.select([reader], [], [], 60)[0])
        os.close(reader)
        out, err = p.communicate(timeout=60)
        self.assertEqual((p.returncode, out, err), (1, b"Couldn't write encrypted results to pipe\n",
                                                    PROMPT + b"\npipe: Broken pipe\n"))


class Replacing(Base):
    """A successful run replaces the name, never what a link points at."""

    def test_replacement_keeps_mode_and_other_names(self):
        out, victim, other, nowhere = (self.path(n) for n in ("out.gpg", "victim", "other-name", "nowhere"))

        def old_file(path, mode):
            self.write(path, OLD)
            os.chmod(path, mode)

        cases = [
            # (set-up, mode of the new output, a file that must keep OLD, a
            # path that must not come into being)
            ("existing file keeps its mode", lambda: old_file(out, 0o604), 0o604, None, None),
            ("new file: 0666 less the umask", lambda: None, 0o640, None, None),
            ("planted symlink is replaced", lambda: (old_file(victim, 0o600), os.symlink(victim, out)), 0o640,
             victim, None),
            ("dangling symlink is replaced", lambda: os.symlink(nowhere, out), 0o640, None, nowhere),
            ("hard link: the other name keeps the old data", lambda: (old_file(other, 0o620), os.link(other, out)),
             0o620, other, None),
        ]
        for name, setup, mode, kept, absent in cases:
            with self.subTest(name):
                for p in (out, victim, other):
                    if os.path.lexists(p):
                        os.remove(p)
                setup()
                r = self.run_tool([self.exp, self.key(), "-o", "out.gpg"], preexec_fn=lambda: os.umask(0o027))
                self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
                st = os.lstat(out)
                self.assertTrue(stat.S_ISREG(st.st_mode))
                if not WINDOWS:  # Wine's modes are its own rendering of access lists
                    self.assertEqual(stat.S_IMODE(st.st_mode), mode)
                self.assertEqual(self.decrypt(out), expected_table(self.sections))
                if kept:
                    self.assert_holds(kept)
                if absent:
                    self.assertFalse(os.path.lexists(absent))
                self.assert_no_leftovers()

    @linux_only("Unix owners and groups")
    def test_owner_and_group_are_kept(self):
        if os.getuid() != 0:
            self.skipTest("needs root to give the output another owner")
        out = self.write("out.gpg", OLD)
        os.chown(out, 65534, 65534)
        os.chmod(out, 0o640)
        self.assert_table(self.run_tool([self.exp, self.key(), "-o", "out.gpg"]), "out.gpg")
        st = os.stat(out)
        self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (65534, 65534, 0o640))

    @linux_only("links resolved before \"..\" (Windows takes \"..\" out of the path first)")
    def test_output_directory_is_resolved_by_the_system(self):
        # sl/.. is the parent of sl's target, not the folder sl is in.
        os.makedirs(self.path("real/sub"))
        os.symlink("real/sub", self.path("sl"))
        self.write("x.gpg", OLD)
        self.assert_success(self.run_tool([self.exp, self.key(), "-o", "sl/../x.gpg"]), "sl/../x.gpg")
        self.assertEqual(self.decrypt(self.path("real/x.gpg")), expected_table(self.sections))
        self.assert_holds(self.path("x.gpg"))
        for name, reason in (("nodir/../y.gpg", b"No such file or directory"), ("z.gpg/", b"Is a directory")):
            with self.subTest(name):
                self.assert_fails(self.run_tool([self.exp, self.key(), "-o", name]), name.encode() + b": " + reason
                                  + b"\n", stdout=b"Couldn't write encrypted results to %s\n" % name.encode(),
                                  absent=os.path.basename(name.rstrip("/")))

    def run_unshared(self, script, args):
        """The program as the last word of script, run in a mount namespace of
        its own (and a process namespace with its own /proc)."""
        r = subprocess.run(["unshare", "-mpf", "--mount-proc", "sh", "-c", "true"], capture_output=True)
        if os.getuid() != 0 or r.returncode != 0:
            self.skipTest("no private namespaces here: %s" % r.stderr.decode().strip())
        cmd = ["unshare", "-mpf", "--mount-proc", "sh", "-ec", script, "sh", BIN] + list(args)
        return subprocess.run(cmd, input=(KEY256 + "\n").encode(), capture_output=True, cwd=self.dir,
                              env=dict(os.environ, TZ="UTC"), timeout=600)

    @linux_only("/dev and /proc in a private mount namespace")
    def test_own_descriptors_are_written_not_replaced(self):
        # A private /dev: the machine's own entries are never touched.
        private_dev = ("mount -t tmpfs tmpfs /dev; ln -s /proc/self/fd /dev/fd; ln -s /proc/self/fd/1 /dev/stdout; "
                       '"$@" > out.gpg; test -L /dev/stdout; test -z "$(ls -A /dev | grep -v ^fd$ | grep -v ^stdout$)"')
        for name in ("/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"):
            with self.subTest(name):
                r = self.run_unshared(private_dev, [self.exp, self.key(), "-o", name])
                self.assert_success(r, name)
                self.assertEqual(self.decrypt(self.path("out.gpg")), expected_table(self.sections))
                self.assert_no_leftovers()

    @linux_only("a file size limit, in a private mount namespace")
    def test_file_size_limit_on_an_own_descriptor_is_reported(self):
        # The write fails and is said so: SIGXFSZ does not end the process, not
        # even as the report goes to the same file. Not exec'd: the first
        # process of a namespace is spared signals it does not handle.
        r = self.run_unshared('mount -t tmpfs tmpfs /dev; ulimit -f 8; "$@" > out.gpg',
                              [self.exp, self.key(), "-o", "/proc/self/fd/1"])
        self.assertEqual((r.returncode, r.stdout), (1, b""), r.stderr)
        self.assertEqual(r.stderr, PROMPT + b"\n/proc/self/fd/1: File too large\n")

    @linux_only("bind mounts")
    def test_mount_point_output_is_written_in_place(self):
        # A single bind-mounted file, as a container volume gives one.
        self.write("volume.gpg", OLD)
        self.write("out.gpg", OLD)
        r = self.run_unshared('mount --bind volume.gpg out.gpg; exec "$@"', [self.exp, self.key(), "-o", "out.gpg"])
        self.assert_success(r, "out.gpg")
        self.assertEqual(self.decrypt(self.path("volume.gpg")), expected_table(self.sections))
        self.assert_holds(self.path("out.gpg"))
        self.assert_no_leftovers()

    def test_non_regular_outputs_are_written_directly(self):
        # A private null device in the scratch folder. (A FIFO:
        # test_m_fs_replace_posix, and the broken pipe above.)
        dev = self.path("null-device")
        try:
            os.mknod(dev, 0o600 | stat.S_IFCHR, os.makedev(1, 3))
        except OSError as e:
            self.skipTest("cannot make a device node here: %s" % e)
        r = self.run_tool([self.exp, self.key(), "-o", dev])
        self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
        self.assertTrue(stat.S_ISCHR(os.lstat(dev).st_mode))
        self.assert_no_leftovers()

    @unittest.skipUnless(WINDOWS, "Windows' device names")
    def test_devices_and_redirected_output_are_written_directly(self):
        # NUL in any case and behind "..": nothing is created or moved. The
        # file standard output is redirected to is written through it, after
        # what it holds, as it cannot be moved over while open.
        for name in ("NUL", "nul", "sub\\..\\NUL"):
            self.assert_success(self.run_tool([self.exp, self.key(), "-o", name]), name)
        self.assertEqual(sorted(os.listdir(self.dir)), ["section0.csv", "x.exp"])
        with open(self.write("out.gpg", OLD), "ab") as out:
            r = subprocess.run([BIN, self.exp, self.key(), "-o", "out.gpg"], input=(KEY256 + "\n").encode(),
                               stdout=out, stderr=subprocess.PIPE, cwd=self.dir, timeout=600)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.decrypt(self.write("new.gpg", self.read("out.gpg")[len(OLD):])),
                         expected_table(self.sections))
        self.assert_no_leftovers()

    def test_unwritable_outputs_fail_untouched(self):
        os.mkdir(self.path("d"))
        r = self.run_tool([self.exp, self.key(), "-o", "d"])
        self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"Couldn't write encrypted results to d\n",
                                                              b"d: " + IS_DIR + b"\n"))
        self.assertEqual(os.listdir(self.path("d")), [])
        self.assert_no_leftovers()
        if not WINDOWS and (os.getuid() != 0 or os.environ.get("QTE_WRAPPER")):
            self.skipTest("needs root, and the program itself, to run it as another user")
        # A read-only output, for a user other than root; on Windows, for any
        # user, a file marked read-only (Wine's mark of no write bits).
        nobody, as_nobody = 65534, None
        os.chmod(self.dir, 0o777)
        self.write("k.asc", self.read(self.key()))
        out = self.write("ro.gpg", OLD)
        os.chmod(out, 0o444)
        if not WINDOWS:
            for p in (self.exp, self.path("k.asc"), out):
                os.chown(p, nobody, nobody)
            as_nobody = lambda: (os.setgid(nobody), os.setuid(nobody))
        # And a read-only named pipe, which is written directly, not replaced:
        # refused as early, before the prompt (a Unix FIFO: not on Windows).
        os.mkfifo(self.path("ro.fifo"), 0o444)
        for name in ("ro.gpg",) if WINDOWS else ("ro.gpg", "ro.fifo"):
            r = self.run_tool([self.exp, "k.asc", "-o", name], preexec_fn=as_nobody)
            self.assertEqual((r.returncode, r.stdout, r.stderr),
                             (1, b"Couldn't write encrypted results to %s\n" % name.encode(),
                              b"%s: %s\n" % (name.encode(), DENIED)))
        self.assert_holds(out)
        self.assert_no_leftovers()


class SmallInputs(Base):
    ROWS = 3

    def test_output_that_messages_go_to_is_refused_before_the_prompt(self):
        # The prompt and every line of the run would land inside the message.
        with open(self.write("log.txt", OLD), "ab") as log:
            r = subprocess.run([BIN, self.exp, self.key(), "-o", "log.txt"], input=(KEY256 + "\n").encode(),
                               stdout=subprocess.PIPE, stderr=log, cwd=self.dir, timeout=600)
        self.assertEqual((r.returncode, r.stdout), (1, b"Couldn't write encrypted results to log.txt\n"))
        self.assert_holds(self.path("log.txt"), OLD + b"log.txt: The output is the file messages go to\n")
        self.assert_no_leftovers()

    def test_output_that_is_an_input_is_refused_before_the_prompt(self):
        keydata = self.read(self.key())
        self.write("k.asc", keydata)
        os.link(self.exp, self.path("x-link.exp"))
        os.symlink("k.asc", self.path("k-link"))
        self.write("x.exp.gpg", keydata)
        before = self.read("x.exp")
        # The output name as given, and the default one (the key file); on
        # Windows also in other letter case, through a missing folder (".."
        # taken out first), in the \\?\ form, and as a stream of an input.
        names = [self.exp, "x.exp", "k.asc", "./k.asc", "x-link.exp", "k-link"]
        if WINDOWS:
            names += ["X.EXP", "nodir\\..\\k.asc", "\\\\?\\" + shown(self.path("k.asc")), "x.exp::$DATA",
                      "k.asc:hidden"]
        for opts, name in [(["-o", n], n) for n in names] + [([], "x.exp.gpg")]:
            with self.subTest(opts=opts):
                key = "x.exp.gpg" if not opts else "k.asc"
                self.assert_fails(self.run_tool([self.exp, key] + opts), b"Output file %s is also an input file; "
                                  b"choose another with -o\n" % shown(name).encode())
                self.assertEqual(self.read("x.exp"), before)
                self.assertEqual(self.read("k.asc"), keydata)
        # Nor a stream of any other file (Windows: a colon after the drive).
        for name in ["out.gpg:hidden", shown(self.path("out.gpg")) + "::$DATA"] if WINDOWS else []:
            self.assert_fails(self.run_tool([self.exp, "k.asc", "-o", name]), b"Output file %s names a stream of a "
                              b"file (\":\" after the drive); choose another with -o\n" % name.encode())
            self.assertFalse(glob.glob(self.path("out.gpg*")))
        # Nor the file the export key is read from on standard input.
        with open(self.write("key.txt", (KEY256 + "\n").encode()), "rb") as key:
            self.assert_fails(self.run_tool([self.exp, "k.asc", "-o", "key.txt"], key=None, stdin=key),
                              b"Output file key.txt is also an input file; choose another with -o\n")
        self.assertEqual(self.read("key.txt"), (KEY256 + "\n").encode())

    @linux_only("core files and their limit")
    def test_core_limit_is_zero_at_the_prompt(self):
        # Started with no limit on core files: whatever signal ends the
        # process from here on, the kernel writes no core file under 0.
        p = self.start_at_prompt([self.exp, self.key(), "-o", "c.gpg"],
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, UNLIMITED))
        with open("/proc/%d/limits" % p.pid) as f:
            line = [ln for ln in f if ln.startswith("Max core file size")][0]
        self.assertEqual(line.split()[4:6], ["0", "0"], line)

    @linux_only("descriptors closed before the start (Wine itself needs them)")
    @unittest.skipIf(os.environ.get("QTE_WRAPPER"), "a wrapper such as valgrind takes the closed descriptors")
    def test_closed_standard_descriptors_are_not_reused(self):
        # (descriptors closed, status, standard error or None when closed);
        # the key comes through a file when standard input stays open.
        cases = [((0,), 1, PROMPT + b"\nCouldn't read quorvel key entered by user.\n"), ((2,), 0, None),
                 ((1, 2), 0, None)]
        keyfile = self.write("key.txt", (KEY256 + "\n").encode())
        for closed, status, stderr in cases:
            with self.subTest(closed=closed):
                out = "d%s.gpg" % "".join(map(str, closed))
                fds = " ".join("%d>&-" % fd for fd in closed if fd != 0) + (" <&-" if 0 in closed else " <key.txt")
                r = subprocess.run(["sh", "-c", 'exec "$@" ' + fds, "sh", BIN, self.exp, self.key(), "-o", out],
                                   capture_output=True, cwd=self.dir, env=dict(os.environ, TZ="UTC"), timeout=600)
                self.assertEqual(r.returncode, status, r.stderr)
                if stderr is not None:
                    self.assertEqual(r.stderr, stderr)
                if status == 0:
                    self.assertEqual(self.decrypt(self.path(out)), expected_table(self.sections))
                self.assertTrue(os.path.exists(keyfile))

    def test_oversized_inputs(self):
        big = 64 * 1024 * 1024
        for name, size in (("exact.asc", big), ("over.asc", big + 1)):
            os.truncate(self.write(name, b""), size)
        line = b"--QUORVEL--ENCRYPTED--DATA--EXPORT---(OTHER)"
        too_long = PROMPT + b"\nError parsing export file: header line too long (more than 65536 bytes)\n"
        TOO_BIG = b"Larger than 64 MiB, too large for a public key file\n"
        self.write("at-limit.exp", line + b"\n" + b"x" * 65536 + b"\n")
        self.write("over-limit.exp", line + b"\n" + b"x" * 65537 + b"\n")
        self.write("first-over.exp", b"y" * 65537)
        cases = [
            ([self.exp, "exact.asc"], b"Couldn't parse public key data from file: "),
            ([self.exp, "over.asc"], b"Couldn't read PGP public key file: over.asc\nover.asc: " + TOO_BIG),
            (["at-limit.exp", self.key()], SECTION_ERR),
            (["over-limit.exp", self.key()], too_long),
            (["first-over.exp", self.key()], too_long),
        ]
        # Endless devices, made privately in the scratch folder.
        try:
            os.mknod(self.path("zero"), 0o600 | stat.S_IFCHR, os.makedev(1, 5))
            cases += [([self.exp, "zero"], b"Couldn't read PGP public key file: zero\nzero: " + TOO_BIG),
                      (["zero", self.key()], too_long)]
        except OSError:
            pass
        for args, stderr in cases:
            with self.subTest(args=args):
                rc, sout, serr = self.run_watched(args + ["-o", "b.gpg"])
                self.assertEqual((rc, sout), (1, b""))
                self.assertTrue(serr.startswith(stderr), serr)
                self.assertFalse(os.path.exists(self.path("b.gpg")))


    @linux_only("a folder moved by another process (Wine's hold on a folder binds Windows programs only; "
                "test_m_fs_replace_win checks it)")
    def test_output_folder_swapped_at_the_prompt(self):
        # At the prompt the folder is swapped for one holding a file under the
        # temporary file's name. (What each holds after: test_m_fs_replace_posix.)
        os.mkdir(self.path("d"))
        self.write("d/out.gpg", OLD)
        p = self.start_at_prompt([self.exp, self.key(), "-o", "d/out.gpg"])
        os.rename(self.path("d"), self.path("d2"))
        tmp = [n for n in os.listdir(self.path("d2")) if n != "out.gpg"]
        os.mkdir(self.path("d"))
        self.write("d/" + tmp[0], b"planted")
        out, err = p.communicate((KEY256 + "\n").encode(), timeout=600)
        self.assertEqual((p.returncode, out, err), (1, b"Couldn't write encrypted results to d/out.gpg\n",
                                                    b"\nd/out.gpg: The output's folder was moved or replaced during "
                                                    b"the run; nothing was written\n"))
        self.assert_holds(self.path("d2/out.gpg"))

    @unittest.skipUnless(WINDOWS, "Windows' console names (the program runs without a console here)")
    def test_console_without_a_console_is_refused_before_the_prompt(self):
        for name in ("CON", "con.gpg", "CONOUT$"):
            r = self.run_tool([self.exp, self.key(), "-o", name])
            self.assertEqual((r.returncode, r.stdout), (1, b"Couldn't write encrypted results to %s\n" % name.encode()))
            self.assertFalse(r.stderr.startswith(PROMPT), r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
