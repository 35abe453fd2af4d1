/* Owning pointers over library and OpenSSL objects: each releases its object
 * with the object's own free function when it goes out of scope, so no
 * clean-up is written by hand on any path. And the one writable view of a
 * buffer's content, for the block stages that work in place. */
#ifndef TOKENEXP_GUARD_H
#define TOKENEXP_GUARD_H

#include "containers/m_list_str.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "formats/m_csv.h"

#include <openssl/evp.h>

#include <memory>

namespace tokenexp {

template <typename T, void (*Release)(T *)>
struct releaser {
	void operator()(T *object) const
	{
		Release(object);
	}
};

template <typename T, void (*Release)(T *)>
using guard = std::unique_ptr<T, releaser<T, Release>>;

/* A block from the M_malloc family, released with M_free (which wipes it). */
struct mem_releaser {
	void operator()(void *block) const
	{
		M_free(block);
	}
};

template <typename T>
using mem_guard = std::unique_ptr<T, mem_releaser>;

using buf_guard      = guard<M_buf_t, M_buf_cancel>;
using csv_guard      = guard<M_csv_t, M_csv_destroy>;
using list_str_guard = guard<M_list_str_t, M_list_str_destroy>;
using cipher_guard   = guard<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

/* The content of buf, to be rewritten in place. The buffer lends its
 * content read-only (M_buf_peek); a stage that decodes or decrypts a block
 * where it lies writes only within the content and then shortens it with
 * M_buf_truncate, neither of which moves the storage, so the view stays
 * valid for the stage. NULL while buf holds no storage. */
inline unsigned char *content_in_place(M_buf_t *buf)
{
	return reinterpret_cast<unsigned char *>(const_cast<char *>(M_buf_peek(buf)));
}

} // namespace tokenexp

#endif
