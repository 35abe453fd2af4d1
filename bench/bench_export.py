#!/usr/bin/env python3
"""Whole-export benchmark: the program against gpg on the same table.

Builds an export of ROWS realistic rows (about 180 bytes each: 16 to 19-digit
tokens, six-digit expiry dates, four Unix-time columns, text cells of which
about half hold commas) in blocks of 10,000 rows under an AES-256 key, runs
quorvel_tokenexp on it with an RSA-2048 key and the key on standard input,
and, in the same rounds, times

    gpg --batch --trust-model always -r KEY --compress-algo zlib -e

on the program's own plaintext table (decrypted once from its output).
The program writes its default, integrity-protected message (gpg -e writes
one too); each round also runs it with -m legacy (the old form without it),
so that the cost of the protection, one SHA-1 pass over the compressed
table, shows. The three commands alternate over ROUNDS rounds. Reported:
each round's times, R = the median of the per-round ratios T(program) /
T(gpg), the cost of the protection as the median of the per-round ratios
T(default) / T(-m legacy) less one, R over processor time (user + system,
from wait4: steadier than elapsed time while other work shares the
machine), and the program's peak resident memory as a multiple of the
table's size.

--mix text writes a second kind of table instead: long free-text cells
(addresses, descriptions, notes of 60 to 400 characters, many of them quoted),
one date column and a token, about 620 bytes a row (300,000 rows make a
table of some 186 MB).

--threads 1,2,8,16 adds a sweep over thread counts (TOKENEXP_THREADS): for
each count the program runs --sweep-runs times in each form of --forms
(default: mdc, then legacy), and its elapsed and processor time and peak resident memory are reported, the
memory also as a multiple of the table. --no-gpg leaves the rounds against
gpg out (for a table too large to time gpg on often). --cpus runs every
command under taskset -c CPUS (0: one processor). The machine's load
(1-minute average) is printed before and after, and the build type.

--exe times the Windows build under Wine against the Linux build: for each
zone of --zones (TZ, which Wine maps to a Windows zone as the process
starts) and each thread count of --exe-threads (default 1,2,8), the
Linux program and quorvel_tokenexp.exe (--exe-build, default
build-windows, with its own Wine prefix build-windows/wine as
scripts/windows.sh makes it) run alternately, --sweep-runs times each, on
the same export. Reported per row: the median of each, the ratio
T(.exe) / T(Linux), and for the .exe the time on each count over its time
on 2 threads; the two outputs of each zone decrypt to the same table (checked
once per zone). One persistent wineserver serves the runs, so that no run
pays for starting one.

usage: bench/bench_export.py [--rows N] [--rounds N] [--mix tokens|text] [--build DIR] [--keep DIR]
                             [--threads LIST] [--sweep-runs N] [--forms mdc,legacy] [--no-gpg] [--cpus CPUS]
                             [--exe] [--exe-build DIR] [--exe-threads LIST] [--zones LIST]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
KEY_HEX = "5f4dcc3b5aa765d61d8327deb882cf992b95990a9151374abd8ff8c5a7a0fe08"
WORDS = ["Gold", "monthly", "Basic", "annual", "Pro", "Starter", "Family", "plan", "seats", "box",
         "delivery", "weekly", "coffee", "club", "premium", "service", "renewal", "support"]


def make_csv(path, rows, seed=1):
    rng = random.Random(seed)
    with open(path, "w") as f:
        f.write("user,token,expdate,bdate,edate,last_run,next_run,cardholder,description,note,amount\n")
        for _ in range(rows):
            token = "".join(rng.choice("0123456789") for _ in range(rng.randint(16, 19)))
            exp = "%04d%02d" % (rng.randint(2025, 2030), rng.randint(1, 12))
            b = rng.randint(1500000000, 1760000000)
            times = [b, b + rng.randint(1, 900) * 86400, b + rng.randint(0, 300) * 86400,
                     b + rng.randint(300, 600) * 86400]
            name = "`%s, %s`" % (rng.choice(WORDS).upper(), rng.choice(WORDS).title())
            desc = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 6)))
            if rng.random() < 0.5:
                desc = "`" + desc.replace(" ", ", ", 1) + "`"
            note = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 4)))
            f.write("merchant_user_%02d,%s,%s,%d,%d,%d,%d,%s,%s,%s,%d.%02d\n" % (
                rng.randint(0, 40), token, exp, times[0], times[1], times[2], times[3], name, desc, note,
                rng.randint(1, 999), rng.randint(0, 99)))


def make_text_csv(path, rows, seed=2):
    rng = random.Random(seed)

    def text(lo, hi):
        n = rng.randint(lo, hi)
        out = []
        while sum(len(w) + 1 for w in out) < n:
            out.append(rng.choice(WORDS))
        t = " ".join(out)[:n]
        # About a third of the cells hold commas or a quote character and so are
        # quoted in the export and in the table.
        r = rng.random()
        if r < 0.2:
            t = "`" + t.replace(" ", ", ", 2) + "`"
        elif r < 0.3:
            t = "`" + t.replace(" ", ' "', 1) + '"`'
        return t

    with open(path, "w") as f:
        f.write("user,token,expdate,cardholder,address,description,note,comment,last_run\n")
        for _ in range(rows):
            token = "".join(rng.choice("0123456789") for _ in range(rng.randint(16, 19)))
            exp = "%04d%02d" % (rng.randint(2025, 2030), rng.randint(1, 12))
            f.write("merchant_user_%02d,%s,%s,%s,%s,%s,%s,%s,%d\n" % (
                rng.randint(0, 40), token, exp, text(8, 30), text(30, 80), text(100, 260), text(60, 120),
                text(20, 400), rng.randint(1500000000, 1760000000)))


TASKSET = []


def timed(cmd, stdin=None, env=None, cwd=None, cpu=None):
    """Run cmd; return (seconds, peak resident set in bytes). With a list
    as cpu, append the command's processor time (user + system) to it."""
    cmd = TASKSET + cmd
    fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
    # stderr goes to a file, not a pipe: a wineserver that wine starts keeps
    # its copy of the descriptor, and reading a pipe would wait for it to end.
    errf = tempfile.TemporaryFile()
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdin=fin, stdout=subprocess.DEVNULL, stderr=errf, env=env, cwd=cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    errf.seek(0)
    err = errf.read()
    errf.close()
    if fin is not subprocess.DEVNULL:
        fin.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err.decode(errors="replace")))
    if cpu is not None:
        cpu.append(usage.ru_utime + usage.ru_stime)
    return elapsed, usage.ru_maxrss * 1024


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=1000000)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--mix", choices=["tokens", "text"], default="tokens")
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--keep", default=None, help="work directory to keep (default: a temporary one)")
    ap.add_argument("--threads", default="", help="thread counts to sweep, e.g. 1,2,8,16")
    ap.add_argument("--sweep-runs", type=int, default=2)
    ap.add_argument("--forms", default="mdc,legacy", help="message forms of the sweep")
    ap.add_argument("--no-gpg", action="store_true")
    ap.add_argument("--cpus", default=None, help="run every command under taskset -c CPUS")
    ap.add_argument("--exe", action="store_true", help="time the Windows build under Wine against this one")
    ap.add_argument("--exe-build", default=os.path.join(ROOT, "build-windows"))
    ap.add_argument("--exe-threads", default="1,2,8")
    ap.add_argument("--zones", default="UTC,America/New_York")
    a = ap.parse_args()
    if a.cpus is not None:
        TASKSET.extend(["taskset", "-c", a.cpus])
    build_type = "?"
    try:
        with open(os.path.join(a.build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    build_type = line.split("=", 1)[1].strip()
    except OSError:
        pass
    print("build %s (%s), load %.2f, processors %s" % (a.build, build_type, os.getloadavg()[0],
                                                        a.cpus if a.cpus is not None else "all"), flush=True)

    prog = os.path.join(a.build, "quorvel_tokenexp")
    mkexport = os.path.join(a.build, "mkexport")
    work = a.keep or tempfile.mkdtemp(prefix="qte-bench-")
    os.makedirs(work, exist_ok=True)
    gnupg = tempfile.mkdtemp(prefix="qte-bench-gpg-")
    os.chmod(gnupg, 0o700)
    env = dict(os.environ, GNUPGHOME=gnupg)
    keys = os.path.join(ROOT, "tests", "data", "keys")
    try:
        csv = os.path.join(work, "rows.csv")
        exp = os.path.join(work, "bench.exp")
        if not os.path.exists(exp):
            print("writing %d rows ..." % a.rows, flush=True)
            (make_text_csv if a.mix == "text" else make_csv)(csv, a.rows)
            subprocess.run([mkexport, "-k", KEY_HEX, "-o", exp, "-r", "10000", "RECURRING=" + csv], check=True)
        keyfile = os.path.join(work, "key.txt")
        with open(keyfile, "w") as f:
            f.write(KEY_HEX + "\n")

        subprocess.run(["gpg", "--batch", "--quiet", "--import", os.path.join(keys, "rsa2048.sec.asc")], env=env,
                       check=True, capture_output=True)
        with open(os.path.join(keys, "rsa2048.keyid")) as f:
            keyid = f.read().strip()

        out = os.path.join(work, "bench.exp.gpg")
        timed([prog, exp, os.path.join(keys, "rsa2048.asc"), "-o", out], stdin=keyfile, env=env)
        table = os.path.join(work, "table.csv")
        with open(table, "wb") as f:
            subprocess.run(["gpg", "--batch", "--quiet", "--ignore-mdc-error", "--decrypt", out], env=env,
                           stdout=f, stderr=subprocess.DEVNULL, check=True)
        size = os.path.getsize(table)
        print("export %.1f MB, table %.1f MB" % (os.path.getsize(exp) / 1e6, size / 1e6), flush=True)

        gpg_cmd = ["gpg", "--batch", "--yes", "--trust-model", "always", "-r", keyid, "--compress-algo", "zlib",
                   "-o", os.path.join(work, "gpg.out"), "-e", table]
        if not a.no_gpg:
            rounds_against_gpg(a, prog, exp, keys, out, keyfile, env, gpg_cmd, size)
        if a.threads:
            sweep(a, prog, exp, keys, out, keyfile, env, size)
        if a.exe:
            against_wine(a, prog, exp, keys, keyfile, env)
        print("load after: %.2f" % os.getloadavg()[0])
    finally:
        shutil.rmtree(gnupg, ignore_errors=True)
        if a.keep is None:
            shutil.rmtree(work, ignore_errors=True)


def sweep(a, prog, exp, keys, out, keyfile, env, size):
    """Elapsed time and peak memory on each thread count, in both forms."""
    # Processor time too (user + system): steadier than elapsed time while
    # other work shares the machine.
    print("threads  form    runs  median s  median cpu s  peak MB  peak/table")
    for threads in [int(t) for t in a.threads.split(",")]:
        for form in a.forms.split(","):
            times, peaks, cpus = [], [], []
            for _ in range(a.sweep_runs):
                t, rss = timed([prog, exp, os.path.join(keys, "rsa2048.asc"), "-o", out, "-m", form], stdin=keyfile,
                               env=dict(env, TOKENEXP_THREADS=str(threads)), cpu=cpus)
                times.append(t)
                peaks.append(rss)
            print("%7d  %-6s  %4d  %8.2f  %12.2f  %7.0f  %10.3f" % (
                threads, form, a.sweep_runs, statistics.median(times), statistics.median(cpus), max(peaks) / 1e6,
                max(peaks) / size), flush=True)


def wine_env(env, prefix):
    """env for running Windows programs headless and quietly in prefix."""
    wenv = dict(env, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        wenv.pop(name, None)
    return wenv


def against_wine(a, prog, exp, keys, keyfile, env):
    """The .exe under Wine and the Linux build, alternately, per zone and
    thread count."""
    exe = os.path.join(a.exe_build, "quorvel_tokenexp.exe")
    wenv = wine_env(env, os.path.join(a.exe_build, "wine"))
    wine = shutil.which("wine") or "/usr/lib/wine/wine64"
    server = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
    # A server already running for the prefix (scripts/windows.sh's) is used
    # and left running.
    # The server lives on after these return, holding the descriptors it was
    # given: none of them may be a pipe this script reads to its end.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = subprocess.run([server, "-p"], env=wenv, **quiet).returncode == 0
    subprocess.run([wine, "wineboot", "-u"], env=wenv, check=True, **quiet)
    pub = os.path.join(keys, "rsa2048.asc")
    outs = {"linux": os.path.join(os.path.dirname(exp), "linux.gpg"), "exe": os.path.join(os.path.dirname(exp),
                                                                                          "exe.gpg")}
    print("zone              threads  runs  linux s  .exe s  .exe/linux  .exe/.exe@2")
    try:
        for zone in a.zones.split(","):
            at2 = None
            for threads in [int(t) for t in a.exe_threads.split(",")]:
                times = {"linux": [], "exe": []}
                for _ in range(a.sweep_runs):
                    t, _ = timed([prog, exp, pub, "-o", outs["linux"]], stdin=keyfile,
                                 env=dict(env, TZ=zone, TOKENEXP_THREADS=str(threads)))
                    times["linux"].append(t)
                    t, _ = timed([wine, exe, winpath(exp), winpath(pub), "-o", winpath(outs["exe"])], stdin=keyfile,
                                 env=dict(wenv, TZ=zone, TOKENEXP_THREADS=str(threads)))
                    times["exe"].append(t)
                lin, win = statistics.median(times["linux"]), statistics.median(times["exe"])
                at2 = win if threads == 2 else at2
                print("%-16s  %7d  %4d  %7.2f  %6.2f  %10.2f  %11s" % (
                    zone, threads, a.sweep_runs, lin, win, win / lin, "%.2f" % (win / at2) if at2 else "-"),
                    flush=True)
            same = decrypt(outs["exe"], env) == decrypt(outs["linux"], env)
            print("%s: the .exe's table %s the Linux build's" % (zone, "equals" if same else "DIFFERS FROM"), flush=True)
    finally:
        if started:
            subprocess.run([server, "-k"], env=wenv)


def winpath(path):
    """An absolute path as a Windows program under Wine is given it (drive Z:
    is the root)."""
    return "Z:" + path.replace("/", "\\")


def decrypt(path, env):
    """The plaintext of an output, as bytes."""
    return subprocess.run(["gpg", "--batch", "--quiet", "--decrypt", path], env=env, capture_output=True,
                          check=True).stdout


def rounds_against_gpg(a, prog, exp, keys, out, keyfile, env, gpg_cmd, size):
    """The program against gpg -e, round by round."""
    ratios, progs, gpgs, peaks, legacies, mdc_costs = [], [], [], [], [], []
    # Processor time as well: on a shared machine it varies less than
    # wall time, and the SHA-1 pass is pure computation.
    cpu_p, cpu_l, cpu_g = [], [], []
    for i in range(a.rounds):
        tp, rss = timed([prog, exp, os.path.join(keys, "rsa2048.asc"), "-o", out], stdin=keyfile, env=env,
                        cpu=cpu_p)
        tl, rss_l = timed([prog, exp, os.path.join(keys, "rsa2048.asc"), "-o", out, "-m", "legacy"],
                          stdin=keyfile, env=env, cpu=cpu_l)
        tg, _ = timed(gpg_cmd, env=env, cpu=cpu_g)
        ratios.append(tp / tg)
        progs.append(tp)
        gpgs.append(tg)
        legacies.append(tl)
        mdc_costs.append(tp / tl)
        peaks.extend((rss, rss_l))
        print("round %d: program %.2f s (cpu %.2f s, peak %.0f MB), -m legacy %.2f s (cpu %.2f s), gpg %.2f s "
              "(cpu %.2f s), ratio %.3f" % (i + 1, tp, cpu_p[-1], rss / 1e6, tl, cpu_l[-1], tg, cpu_g[-1],
                                            tp / tg),
              flush=True)
    print("R (median of ratios) = %.3f" % statistics.median(ratios))
    print("R over processor time (median of ratios) = %.3f, -m legacy %.3f" % (
        statistics.median([p / g for p, g in zip(cpu_p, cpu_g)]),
        statistics.median([m / g for m, g in zip(cpu_l, cpu_g)])))
    print("program median %.2f s, -m legacy median %.2f s, gpg median %.2f s" % (
        statistics.median(progs), statistics.median(legacies), statistics.median(gpgs)))
    print("integrity protection cost (median of per-round ratios - 1) = %+.1f%% wall, %+.1f%% cpu" % (
        (statistics.median(mdc_costs) - 1) * 100,
        (statistics.median([p / m for m, p in zip(cpu_l, cpu_p)]) - 1) * 100))
    print("peak memory = %.2f x table (%.0f MB)" % (max(peaks) / size, max(peaks) / 1e6))


if __name__ == "__main__":
    main()
