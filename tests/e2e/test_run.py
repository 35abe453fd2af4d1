"""End-to-end: whole runs from export file to decrypted table (sections,
columns, filters, time zones, key kinds, output naming). The malformed files
are in test_container."""

import os
import pwd
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403


class Tables(E2ECase):
    def test_sections_columns_and_continuation_blocks(self):
        # A second RECURRING section with its columns reordered, one missing
        # ("note"), one extra, one unnamed, names in other cases and one given
        # twice (the later one counts), and continuation blocks.
        order = [7, 2, 0, 6, 1, 3, 4, 5]
        header2 = [HEADER[i] for i in order] + ["extra", "", "User"]
        header2[order.index(1)] = "TOKEN"
        rows2 = [[r[i] for i in order] + ["x", "z", "alice"] for r in make_rows(17, 11)]
        other = (["a", "b"], [["1", "2"], ["3", "4"]])
        sections = [("TRANSDATA",) + other, ("RECURRING", HEADER, make_rows(25, 10)), ("OTHER",) + other,
                    ("RECURRING", header2, rows2), ("TRANSDATA",) + other]
        exp = self.make_export("multi.exp", sections, rows_per_block=4)
        self.assert_table(self.run_tool([exp, self.key()]), "multi.exp.gpg", sections)
        self.assert_table(self.run_tool([exp, self.key(), "-u", "alice", "-o", "a.gpg"]), "a.gpg", sections,
                          user="alice")

    def test_filter_no_row_passes(self):
        # The header row alone, after a warning. (-v's test filters by all three
        # at once; test_tokenexp the empty date and the dates' byte order.)
        sections = [("RECURRING", HEADER, make_rows(60, 20))]
        exp = self.make_export("f.exp", sections, rows_per_block=7)
        self.assert_table(self.run_tool([exp, self.key(), "-u", "nobody", "-o", "f.gpg"]), "f.gpg", sections,
                          report=NO_ROW_PASSED, user="nobody")

    def test_dates_follow_the_local_zone(self):
        rows = [["u", "0", "202401", "1546300800", "0", "abc", "-5", "n", ""],
                ["u", "12-34", "202401", "1546300800x", "1", "1700000000", "99999999999999999999", "n", ""]]
        sections = [("RECURRING", HEADER, rows)]
        exp = self.make_export("d.exp", sections)
        for tz in ("UTC", "America/New_York", "Asia/Tokyo"):
            self.assert_table(self.run_tool([exp, self.key(), "-o", "d.gpg"], env={"TZ": tz}), "d.gpg", sections, tz=tz)
        # Without TZ the machine's own zone counts: the one /etc/localtime holds.
        for name, tz in (("n.gpg", None), ("l.gpg", "/etc/localtime")):
            self.assert_success(self.run_tool([SAMPLE, self.key(), "-o", name], key=SAMPLE_KEY, env={"TZ": tz}), name)
        self.assertEqual(self.decrypt(self.path("n.gpg")), self.decrypt(self.path("l.gpg")))

    def test_output_naming_and_write_failure(self):
        os.mkdir(self.path("in"))
        os.mkdir(self.path("work"))
        exp = self.make_export("in/today.exp", [("RECURRING", HEADER, make_rows(3, 40))])
        for extra in ([], ["-o", ""]):
            self.assert_success(self.run_tool([exp, self.key()] + extra, cwd=self.path("work")), "today.exp.gpg")
            self.assertFalse(os.path.exists(self.path("in/today.exp.gpg")))
            os.remove(self.path("work/today.exp.gpg"))
        target = shown(self.path("no/such/dir/out.gpg")).encode()
        self.assert_fails(self.run_tool([exp, self.key(), "-o", target]), target + b": " + NO_DIR + b"\n",
                          stdout=b"Couldn't write encrypted results to %s\n" % target)

    @unittest.skipUnless(WINDOWS, "Windows paths")
    def test_windows_paths_outside_ascii(self):
        # A user folder such as C:\Users\Müller, and names outside any one
        # ANSI code page: the export and the output named by a Z:\ path,
        # through %NAME% and ~ (the profile folder), or relative to the
        # folder, in a folder whose path is longer than MAX_PATH (260) in
        # bytes but not in characters, and, in the \\?\ form, in one longer
        # in characters; each message repeats the name as given.
        folder = self.path("Müller")
        wide, deep = os.path.join("Müller", "Ж" * 120), os.path.join("Müller", *["Ж" * 100] * 3)
        os.makedirs(self.path(wide))
        os.makedirs(self.path(deep))
        sections = [("RECURRING", HEADER, make_rows(4, 41))]
        exp = self.make_export("Müller/Łódź.exp", sections)
        wide_exp = self.make_export(wide + "/Łódź.exp", sections)
        wide_out = os.path.join(os.path.dirname(wide_exp), "Wynik.gpg")
        deep_exp = self.path(deep + "/Łódź.exp")  # too long a name for mkexport's own plain path
        os.rename(self.make_export("deep.exp", sections), deep_exp)
        deep_out = os.path.join(os.path.dirname(deep_exp), "Wynik.gpg")
        home = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name)
        cases = [([shown(exp)], "Łódź.exp.gpg", folder),
                 ([shown(wide_exp), "-o", shown(wide_out)], wide_out, folder),
                 (["\\\\?\\" + shown(deep_exp), "-o", "\\\\?\\" + shown(deep_out)], deep_out, folder),
                 (["%QTE_DIR%\\Łódź.exp", "-o", "%QTE_DIR%\\Wynik Ж.gpg"], "Wynik Ж.gpg", folder),
                 (["Łódź.exp", "-o", "~\\qte-Müller.gpg"], "qte-Müller.gpg", home)]
        for args, name, where in cases:
            r = self.run_tool(args[:1] + [self.key()] + args[1:], cwd=folder, env={"QTE_DIR": shown(folder)})
            self.assert_success(r, args[-1] if "-o" in args else name)
            self.assertEqual(self.decrypt(os.path.join(where, name)), expected_table(sections))
        os.remove(os.path.join(home, "qte-Müller.gpg"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
