/* The export on arbitrary file contents, with a fixed export key: the pool
 * on one thread, the code a run executes, reads the file through the
 * library's file layer (a temporary file rewritten for each input), decodes
 * every block of a "RECURRING" section, joins the table and puts it into a
 * message (of the form the first byte chooses), which is thrown away. */
#include <fstream>
#include <iterator>

#include "app/tokenexp.h"
#include "app/tokenexp_export.h"
#include "app/tokenexp_pool.h"
#include "app/tokenexp_table.h"
#include "fuzz_common.h"
#include "fs/m_fs_file.h"

namespace {

/* The key the seed corpus was made with (mkexport -k). */
const char kKey[] = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

/* Keep a run's memory bounded, as the program's size limit does. */
constexpr size_t kMaxTable = size_t{16} << 20;

/* The recipient: a test key, read once. */
const M_pgp_pubkey_t *recipient()
{
	static M_pgp_pubkey_t *key = [] {
		std::ifstream     in(std::string(M_TEST_DATA_DIR) + "/keys/rsa2048.asc", std::ios::binary);
		const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		return M_pgp_pubkey_create(reinterpret_cast<const unsigned char *>(text.data()), text.size(), nullptr, 0);
	}();
	return key;
}

M_bool discard(const unsigned char * /*bytes*/, size_t /*len*/, void * /*thunk*/)
{
	return M_TRUE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string path = fuzz_scratch_dir() + "/export";
	std::FILE        *f    = std::fopen(path.c_str(), "wb");
	FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);

	M_fs_file_t *file = nullptr;
	/* A small read buffer makes lines cross buffer refills. */
	FUZZ_CHECK(M_fs_file_open(&file, path.c_str(), 64, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr) ==
	           M_FS_ERROR_SUCCESS);

	tokenexp_opts_t opts{};
	opts.user      = size > 0 && (data[0] & 1) ? "alice" : nullptr;
	opts.exp_start = size > 0 && (data[0] & 2) ? "202401" : nullptr;
	opts.exp_end   = size > 0 && (data[0] & 4) ? "202612" : nullptr;
	if (opts.user != nullptr || opts.exp_start != nullptr || opts.exp_end != nullptr)
		opts.filter = filter_cb;

	const tokenexp_export_key key(kKey);
	const unsigned            form = size > 0 && (data[0] & 8) ? M_PGP_ENCRYPT_NONE : M_PGP_ENCRYPT_MDC;
	M_pgp_msg_t              *msg  = M_pgp_msg_create(recipient(), M_PGP_SYMALG_AES256, form, discard, nullptr);
	FUZZ_CHECK(msg != nullptr);
	tokenexp_run_totals_t totals{};
	char                  err[256] = "";

	const tokenexp_walk_result_t r =
	    tokenexp_pool_run(file, key, &opts, 1, kMaxTable, msg, &totals, nullptr, err, sizeof(err));
	FUZZ_CHECK(r >= TOKENEXP_WALK_DONE && r <= TOKENEXP_WALK_TOO_LARGE && r != TOKENEXP_WALK_STOPPED);
	FUZZ_CHECK(std::memchr(err, '\0', sizeof(err)) != nullptr);
	if (r == TOKENEXP_WALK_PARSE || r == TOKENEXP_WALK_DECRYPT || r == TOKENEXP_WALK_UNCOMPRESS)
		FUZZ_CHECK(err[0] != '\0');
	FUZZ_CHECK(totals.table_len <= kMaxTable);
	if (r == TOKENEXP_WALK_DONE)
		FUZZ_CHECK(M_pgp_msg_finish(msg));

	M_pgp_msg_destroy(msg);
	M_fs_file_close(file);
	return 0;
}
