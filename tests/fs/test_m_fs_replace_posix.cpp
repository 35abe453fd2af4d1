/* Replacing a file whole on POSIX: signals and file size limits in a forked
 * child, modes, FIFOs, and the output's folder moved or swapped. */
#include "tests/fs/fs_test.h"

#include "fs/m_fs_replace.h"
#include "fs/m_fs_replace_int.h"

namespace {

using namespace fs_test;

/* The temporary file of a replace begun in dir: its name, the only one
 * that starts with ".". */
std::string temp_in(const std::string &dir)
{
	for (const auto &e : std::filesystem::directory_iterator(dir)) {
		if (e.path().filename().string()[0] == '.')
			return e.path().filename().string();
	}
	return "(none)";
}

/* A signal in the middle of a replace: the child writes "newer" over "old"
 * and raises it once the temporary file is complete (and still 0600). Each
 * ends the child, leaving the old file, but SIGHUP, ignored: the commit goes
 * ahead. (A file size limit: test_safety.py, on the program.) */
TEST(m_fs_replace, interrupted_leaves_old_file_and_no_temporary)
{
	for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGRTMIN + 3, SIGHUP}) {
		const bool        ignored = sig == SIGHUP;
		TempDir           dir;
		const std::string out = dir.sub("out");
		make_file(out, "old", 0640);
		const pid_t pid = ::fork();
		if (pid == 0) {
			/* The disposition is set either way: a run started in the
			 * background inherits SIGINT ignored. */
			if (::signal(sig, ignored ? SIG_IGN : SIG_DFL) == SIG_ERR)
				::_exit(2);
			M_fs_replace_t *rep = nullptr;
			if (M_fs_replace_begin(&rep, out.c_str()) != M_FS_ERROR_SUCCESS)
				::_exit(4);
			(void)M_fs_replace_write(rep, bytes("newer"), 5);
			const std::string tmp = dir.sub(temp_in(dir.path()));
			if (mode_of(tmp) != 0600 || slurp(tmp) != "newer")
				::_exit(3);
			::raise(sig);
			::_exit(M_fs_replace_commit(rep) == M_FS_ERROR_SUCCESS ? 0 : 1);
		}
		int status = 0;
		ASSERT_EQ(::waitpid(pid, &status, 0), pid);
		if (ignored)
			EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
		else
			EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
		EXPECT_EQ(slurp(out), ignored ? "newer" : "old") << sig;
		EXPECT_EQ(mode_of(out), 0640u) << sig;
		EXPECT_EQ(std::system(("test \"$(ls -A '" + dir.path() + "')\" = out").c_str()), 0) << sig;
	}
}

/* A FIFO is written directly: a replace begun on one makes nothing beside
 * it and does not wait for a reader. (The modes are the table's above; a
 * reader that goes away is test_safety.py's broken pipe.) */
TEST(m_fs_replace, fifo_is_not_waited_on)
{
	TempDir           dir;
	const std::string fifo = dir.sub("fifo");
	ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
	M_fs_replace_t *rep = nullptr;
	ASSERT_EQ(M_fs_replace_begin(&rep, fifo.c_str()), M_FS_ERROR_SUCCESS);
	M_fs_replace_cancel(rep);
	EXPECT_EQ(names_in(dir.path()), "fifo");
}

/* The output's folder moved away while the replace works, swapped for
 * another holding a file under the temporary file's name, or the temporary
 * name taken over in place: the commit fails, the old output stays, the
 * temporary file is gone from the moved folder, and nothing planted is put
 * in place. */
TEST(m_fs_replace, folder_moved_or_swapped)
{
	enum Change { Moved, Swapped, TempTaken };
	for (Change change : {Moved, Swapped, TempTaken}) {
		SCOPED_TRACE(change);
		TempDir           root;
		const std::string d = root.sub("d"), d2 = root.sub("d2");
		ASSERT_TRUE(std::filesystem::create_directory(d));
		make_file(d + "/out", "old");
		M_fs_replace_t *rep = nullptr;
		ASSERT_EQ(M_fs_replace_begin(&rep, (d + "/out").c_str()), M_FS_ERROR_SUCCESS);
		ASSERT_EQ(M_fs_replace_write(rep, bytes("new"), 3), M_FS_ERROR_SUCCESS);
		const std::string tmp = temp_in(d);
		if (change == TempTaken) {
			std::filesystem::rename(d + "/" + tmp, d + "/written");
			make_file(d + "/" + tmp, "planted");
		} else {
			std::filesystem::rename(d, d2);
		}
		if (change == Swapped) {
			ASSERT_TRUE(std::filesystem::create_directory(d));
			make_file(d + "/" + tmp, "planted");
		}
		EXPECT_EQ(M_fs_replace_commit(rep), M_FS_ERROR_DIR_CHANGED);
		const std::string kept = change == TempTaken ? d : d2;
		EXPECT_EQ(slurp(kept + "/out"), "old");
		EXPECT_EQ(names_in(kept), change == TempTaken ? tmp + " out written" : "out");
		EXPECT_EQ(change == Swapped ? names_in(d) : tmp, tmp);
	}
}

/* An entry of a sticky folder that belongs to neither the user nor the
 * folder's owner cannot be replaced without the right to override: refused
 * when the replace begins, in the system's words. Root runs the test as
 * nobody in a child. */
TEST(m_fs_replace, sticky_folder_entry_of_another_user)
{
	using m::detail::replace_sticky_refuses;
	EXPECT_TRUE(replace_sticky_refuses(true, 0, 0, 65534, false));
	EXPECT_FALSE(replace_sticky_refuses(false, 0, 0, 65534, false));
	EXPECT_FALSE(replace_sticky_refuses(true, 65534, 0, 65534, false));
	EXPECT_FALSE(replace_sticky_refuses(true, 0, 65534, 65534, false));
	EXPECT_FALSE(replace_sticky_refuses(true, 0, 0, 65534, true));
	if (::geteuid() != 0)
		GTEST_SKIP() << "needs root to act as another user";
	TempDir           dir;
	const std::string t = dir.sub("t");
	ASSERT_TRUE(std::filesystem::create_directory(t));
	ASSERT_EQ(::chmod(dir.path().c_str(), 0755) | ::chmod(t.c_str(), 01777), 0);
	make_file(t + "/root.gpg", "old", 0666);
	ASSERT_EQ(::symlink("root.gpg", (t + "/link.gpg").c_str()), 0);
	const pid_t pid = ::fork();
	if (pid == 0) {
		M_fs_replace_t *rep = nullptr;
		char            words[64];
		const bool      refused = ::setuid(65534) == 0 &&
		                     M_fs_replace_begin(&rep, (t + "/root.gpg").c_str()) == M_FS_ERROR_PERMISSION &&
		                     M_platform_strerror(words, sizeof(words)) && M_str_eq(words, std::strerror(EPERM)) &&
		                     M_fs_replace_begin(&rep, (t + "/link.gpg").c_str()) == M_FS_ERROR_PERMISSION &&
		                     M_fs_replace_bytes((t + "/own.gpg").c_str(), bytes("x"), 1) == M_FS_ERROR_SUCCESS;
		::_exit(refused ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(::waitpid(pid, &status, 0), pid);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
	EXPECT_EQ(slurp(t + "/root.gpg"), "old");
	EXPECT_EQ(names_in(t), "link.gpg own.gpg root.gpg");
}

} // namespace
