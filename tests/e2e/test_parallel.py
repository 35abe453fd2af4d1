"""End-to-end: the export on many threads (TOKENEXP_THREADS) against the
export on one: the serial run's message when two blocks fail, the earlier one
winning; runs refused any thread; and the export under memory limits. (The
table of blocks that depend on earlier blocks, on one thread and on eight:
test_tokenexp's pool tests.)"""

import os
import re
import resource
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

SIZE_RE = rb"---DATABLOCK_SIZE=(\d+):\d+[^\n]*\n"
MANY, ONE = {"TOKENEXP_THREADS": "8"}, {"TOKENEXP_THREADS": "1"}


def blocks(text):
    """(start of the size line, start of the data, end of the data) of every block."""
    return [(m.start(), m.end(), m.end() + int(m.group(1))) for m in re.finditer(SIZE_RE, text)]


class Parallel(E2ECase):
    ROWS = 6000
    SEED = 31
    PER_BLOCK = 50

    def test_failures_in_the_middle_are_the_serial_ones(self):
        t = self.read(self.exp)
        raw = self.read(self.make_export("raw.exp", [("RECURRING", HEADER, make_rows(50, 34))],
                                         extra=["--no-compress"]))
        _, raw_data, raw_end = blocks(raw)[0]
        raw_block = b"---DATABLOCK_SIZE=%d:999999\n" % (raw_end - raw_data) + raw[raw_data:raw_end]
        b = blocks(t)
        mid, late = len(b) // 2, len(b) // 2 + 20

        def bad_cipher(data, k):
            return data[:b[k][1]] + b"!" * 8 + data[b[k][1] + 8:]

        def bad_stream(data, k):
            return data[:b[k][0]] + raw_block + data[b[k][2]:]

        # Two failures each, the earlier one reported: a bad block of either
        # kind before a cut file or a block of the other kind. (Each kind
        # alone is a row of test_container's malformed files.)
        cases = [(bad_cipher(t[:b[late][1] + 100], mid), EVP_FINAL), (bad_cipher(bad_stream(t, late), mid), EVP_FINAL),
                 (bad_stream(bad_cipher(t, late), mid), CORRUPT)]
        for data, err in cases:
            path = self.write("bad.exp", data)
            for env in (MANY, ONE):
                self.assert_fails(self.run_tool([path, self.key(), "-o", "o.gpg"], env=env), err, absent="o.gpg")

    # Under ulimit -v or -d a run never ends in the allocator's out-of-memory
    # stop: a limit too tight for one thread is told before the prompt, a
    # thread count the limit cannot serve comes down, and a block that would
    # take more than the limit leaves (one inflating 1300 times over) fails as
    # that block, the old output untouched. Sanitizers and valgrind need far
    # more address space, so they leave this to the plain builds.
    @linux_only("memory limits (RLIMIT_AS, RLIMIT_DATA): Windows has none, and Wine cannot start under one")
    @unittest.skipIf(os.environ.get("QTE_WRAPPER") or
                     re.search(rb"lib[at]san", subprocess.run(["ldd", BIN], capture_output=True).stdout),
                     "sanitizer build or wrapped program")
    def test_memory_limits(self):
        def limited(kind, kb):
            return lambda: resource.setrlimit(kind, (kb * 1024, kb * 1024))

        bomb = self.make_export("bomb.exp", [("RECURRING", ["user", "token", "expdate"], [["u", "1", "202501"]] * 1500000)],
                                rows_per_block=2000000)
        old = self.write("o.gpg", b"old output")
        for threads in ("1", "64"):
            r = self.run_tool([self.exp, self.key(), "-o", "o.gpg"], preexec_fn=limited(resource.RLIMIT_AS, 30000),
                              env={"TOKENEXP_THREADS": threads})
            self.assert_fails(r, b"Error: not enough memory for one export block under the process's memory limit\n")
            r = self.run_tool([bomb, self.key(), "-o", "o.gpg"], preexec_fn=limited(resource.RLIMIT_AS, 100000),
                              env={"TOKENEXP_THREADS": threads})
            self.assert_fails(r, PROMPT.decode() + r"\nError uncompressing export file: out of memory: .+\n\Z")
            self.assertEqual(self.read(old), b"old output")
        for kind, kb, threads in ((resource.RLIMIT_AS, 600000, "64"), (resource.RLIMIT_DATA, 102400, "64")):
            self.assert_table(self.run_tool([self.exp, self.key(), "-o", "o.gpg"], preexec_fn=limited(kind, kb),
                                            env={"TOKENEXP_THREADS": threads}), "o.gpg")

    # The shim refuses every thread and counts the attempts (a sanitizer's
    # runtime takes thread creation over).
    @unittest.skipUnless(shutil.which("cc"), "no C compiler for the shim")
    @unittest.skipIf(re.search(rb"lib[at]san", subprocess.run(["ldd", BIN], capture_output=True).stdout),
                     "sanitizer build")
    def test_threads_refused(self):
        shim, marks = self.path("refuse.so"), self.path("refused")
        src = self.write("refuse.c", b"""#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>
int pthread_create(pthread_t *t, const pthread_attr_t *a, void *(*f)(void *), void *arg)
{
\t(void)t, (void)a, (void)f, (void)arg;
\tint fd = open(getenv("REFUSED_MARKS"), O_WRONLY | O_CREAT | O_APPEND, 0600);
\tif (fd >= 0 && write(fd, "x", 1) == 1)
\t\tclose(fd);
\treturn EAGAIN;
}
""")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, src], check=True)
        self.assert_table(self.run_tool([self.exp, self.key(), "-o", "o.gpg"],
                                        env=dict(MANY, LD_PRELOAD=shim, REFUSED_MARKS=marks)), "o.gpg")
        self.assertEqual(self.read(marks), b"x" * 8, "each of the eight workers was refused")


if __name__ == "__main__":
    unittest.main(verbosity=2)
