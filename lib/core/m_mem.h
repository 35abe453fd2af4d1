/* Memory management: the library's one allocator and its byte operations.
 *
 * Every heap block of the library and of the program comes from M_malloc,
 * M_malloc_zero, M_realloc, M_realloc_zero, M_memdup, M_memdup_max or
 * M_strdup (m_str.h), and goes back through M_free.
 *
 * Block layout: each block is the caller's size plus a 16-byte header. The
 * first 8 bytes of the header hold the caller's size as an unsigned 64-bit
 * number; the other 8 are 0 for a block from the C runtime. Callers get the
 * address 16 bytes in, so the runtime's 16-byte alignment is kept. Blocks of
 * 16 MiB and more are anonymous memory mappings of their own instead (the
 * other 8 header bytes then hold the mapping's length), so that M_realloc can
 * grow them by moving their pages rather than their bytes.
 *
 * Wipe on free: M_free fills the whole block, header included, with 0xFF
 * before handing it back to the runtime, so freed memory keeps none of its
 * former contents and a freed header reads as "all ones". Of a mapped block
 * every resident page is filled before it is unmapped; a page that is not
 * resident was never written, or was swapped out and so already lies beyond
 * the reach of any wipe in memory.
 *
 * Out of memory: when the runtime cannot satisfy a request, the registered
 * out-of-memory callbacks run from the newest to the oldest; a callback that
 * returns M_TRUE asks for the allocation to be tried again. The permanent last
 * entry, M_malloc_error, prints "********OUT OF MEMORY*********\n" to standard
 * error and aborts. Running out of memory is therefore never reported to a
 * caller: NULL comes back only for sizes the allocator refuses.
 *
 * Concurrency: the allocator relies on the runtime's thread-safe malloc and
 * free; the callback table has no lock, so registering, deregistering or
 * clearing callbacks must not overlap with allocation on other threads.
 */
#ifndef M_MEM_H
#define M_MEM_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* ---------------------------------------------------------------------------
 * Allocation
 * ------------------------------------------------------------------------- */

/* Allocate an uninitialised block of size bytes.
 *
 * Returns the block (free with M_free), or NULL without any message when size
 * is 0 or 2^64-16 or more (a size that cannot carry the 16-byte header).
 * Any other size either succeeds or ends the process through the
 * out-of-memory callbacks.
 * NULL: yields NULL. */
M_API void *M_malloc(size_t size) M_WARN_UNUSED_RESULT;

/* As M_malloc, and the size bytes are set to 0. */
M_API void *M_malloc_zero(size_t size) M_WARN_UNUSED_RESULT;

/* Resize a block by moving it; the runtime's realloc is never used.
 *
 * ptr:  block from this allocator, or NULL to act as M_malloc(size).
 * size: requested size. 0 frees ptr (with M_free's checks) and yields NULL.
 *
 * The new block's recorded size is the larger of size and the old size: a
 * request to shrink keeps the old size and still moves the data. The old
 * size's worth of bytes is copied, then the old block is freed exactly as
 * M_free does (checked and wiped with 0xFF). A mapped block (16 MiB or more)
 * is not copied: the kernel moves its pages to the larger mapping (mremap),
 * which leaves no copy of any byte behind; a request to shrink it keeps the
 * block where it is.
 *
 * The old block's header is checked as M_free checks it before anything is
 * copied: the pointer -1, or a recorded size of 0 or all ones, ends the
 * process with M_free's messages.
 *
 * Returns the new block (free with M_free). Only a refused size yields NULL,
 * and then the old block is left untouched. ptr is invalid after a non-NULL
 * result, and after a size of 0. */
M_API void *M_realloc(void *ptr, size_t size) M_WARN_UNUSED_RESULT;

/* As M_realloc, and the bytes of the new block from the old size up to size
 * are set to 0. A NULL ptr acts as M_malloc_zero(size). */
M_API void *M_realloc_zero(void *ptr, size_t size) M_WARN_UNUSED_RESULT;

/* Allocate a block of len bytes holding a copy of src.
 *
 * Returns the copy (free with M_free), or NULL when src is NULL or len is 0.
 * NULL: yields NULL. */
M_API void *M_memdup(const void *src, size_t len) M_WARN_UNUSED_RESULT;

/* Allocate a block of the larger of len and min_alloc bytes whose first len
 * bytes copy src.
 *
 * src: bytes to copy. NULL with a non-zero len yields NULL; NULL with len 0
 *      yields an uninitialised block of min_alloc bytes.
 * Returns the block (free with M_free), or NULL as described or when both
 * sizes are 0. */
M_API void *M_memdup_max(const void *src, size_t len, size_t min_alloc) M_WARN_UNUSED_RESULT;

/* Check, wipe and release a block.
 *
 * ptr: block from this allocator; NULL is ignored.
 *
 * The pointer -1 ends the process with "M_free(): invalid pointer address\n";
 * a header whose size is 0 or all ones (a block freed before, or a corrupted
 * header) ends it with "M_free(): double-free or corrupt memory\n". Both
 * messages go to standard error before abort(). Otherwise the whole block,
 * header included, is filled with 0xFF and returned to the runtime. */
M_API void M_free(void *ptr);

/* Wipe part of a block that stays allocated, and give its memory back.
 *
 * ptr: the first byte, inside a block from this allocator (the part must lie
 * wholly inside that block); NULL or len 0 does nothing.
 *
 * The len bytes are filled with 0xFF, as M_free fills a whole block, and then
 * every whole memory page among them is handed back to the system: the block
 * keeps its size and may be written again, but those pages take no memory
 * until it is. Their content afterwards is unspecified (0 or 0xFF). For room
 * whose content is used up, such as the source of a large move inside a
 * buffer, so that a copy left behind is neither kept nor counted. */
M_API void M_mem_wipe_release(void *ptr, size_t len);

/* Out-of-memory callback: returns M_TRUE when memory may have been released
 * and the allocation should be tried again, M_FALSE when it has nothing more
 * to offer. */
typedef M_bool (*M_malloc_error_cb)(void);

/* Append cb to the out-of-memory callback table (12 user slots).
 *
 * cb: the callback; NULL is refused.
 * Returns M_FALSE when cb is NULL or all 12 user slots are taken. Duplicates
 * are not detected.
 * NULL: yields M_FALSE. */
M_API M_bool M_malloc_register_errorcb(M_malloc_error_cb cb);

/* Remove the first user slot holding cb, moving later callbacks down.
 *
 * cb: the callback; NULL is refused.
 * Returns M_FALSE when cb is NULL, no user callback is registered, cb is the
 * default handler M_malloc_error, or cb is not found.
 * NULL: yields M_FALSE. */
M_API M_bool M_malloc_deregister_errorcb(M_malloc_error_cb cb);

/* Remove every user callback; the default handler stays. */
M_API void M_malloc_clear_errorcb(void);

/* The default out-of-memory handler: writes "********OUT OF MEMORY*********\n"
 * to standard error and aborts. Never returns. */
M_API M_NORETURN M_bool M_malloc_error(void);

/* ---------------------------------------------------------------------------
 * Byte operations (none of them allocates)
 * ------------------------------------------------------------------------- */

/* memset. NULL dst or len 0 does nothing and yields NULL; otherwise dst.
 * NULL: yields NULL. */
M_API void *M_mem_set(void *dst, int byte, size_t len);

/* Overlap-safe copy (memmove). NULL dst yields NULL; NULL src copies nothing
 * and yields dst; otherwise dst. */
M_API void *M_mem_copy(void *dst, const void *src, size_t len);

/* Identical to M_mem_copy. */
M_API void *M_mem_move(void *dst, const void *src, size_t len);

/* True when the len bytes at a and b are equal. The same pointer (both NULL
 * included) is equal; one NULL pointer is not; len 0 is equal. Every byte is
 * visited, so the running time does not depend on where a difference lies.
 * NULL: yields M_TRUE. */
M_API M_bool M_mem_eq(const void *a, const void *b, size_t len);

/* Order for sorting. 0 when the pointers are equal or both lengths are 0;
 * NULL a sorts first (-1), NULL b last (1); a shorter range sorts before a
 * longer one whatever its content; equal lengths compare bytewise as memcmp
 * does (negative, 0, positive). */
M_API int M_mem_cmpsort(const void *a, size_t alen, const void *b, size_t blen);

/* memchr. NULL buf yields NULL. The result points into buf. */
M_API void *M_mem_chr(const void *buf, int byte, size_t len);

/* First occurrence of needle in hay.
 *
 * Returns a pointer into hay, or NULL. NULL hay, hlen 0, or a needle longer
 * than hay yields NULL; a NULL needle or nlen 0 yields hay itself. */
M_API void *M_mem_mem(const void *hay, size_t hlen, const void *needle, size_t nlen);

/* Last occurrence of needle in hay; the same rules as M_mem_mem. */
M_API void *M_mem_rmem(const void *hay, size_t hlen, const void *needle, size_t nlen);

/* True when M_mem_mem finds needle; its byte offset from hay then goes to
 * *idx (idx may be NULL). */
M_API M_bool M_mem_mempos(const void *hay, size_t hlen, const void *needle, size_t nlen, size_t *idx);

/* True when M_mem_mem finds needle. */
M_API M_bool M_mem_contains(const void *hay, size_t hlen, const void *needle, size_t nlen);

/* Number of bytes of buf equal to byte. NULL buf or len 0 yields 0.
 * NULL: yields 0. */
M_API size_t M_mem_count(const void *buf, size_t len, uint8_t byte);

/* Exchange the bytes at idx1 and idx2. False when buf is NULL, len is 0 or an
 * index is not below len; true (nothing done) when the indexes are equal. */
M_API M_bool M_mem_swap_bytes(uint8_t *buf, size_t len, size_t idx1, size_t idx2);

/* Longitudinal redundancy check: XOR of all bytes. NULL or len 0 yields 0. */
M_API uint8_t M_mem_calc_lrc(const void *buf, size_t len);

/* CRC-8/SMBUS: polynomial 0x07, initial 0, not reflected, no final XOR.
 * Check value of "123456789": 0xF4. NULL buf or len 0 yields 0.
 * NULL: yields 0. */
M_API uint8_t M_mem_calc_crc8_ccitt(const void *buf, size_t len);

/* CRC-16/IBM-3740 (CCITT-FALSE): polynomial 0x1021, initial 0xFFFF, not
 * reflected, no final XOR. Check value: 0x29B1. NULL buf or len 0 yields 0.
 * NULL: yields 0. */
M_API uint16_t M_mem_calc_crc16_ccitt(const void *buf, size_t len);

/* CRC-32/ISO-HDLC (zlib's CRC-32): reflected polynomial 0xEDB88320, initial
 * and final XOR 0xFFFFFFFF. Check value: 0xCBF43926. NULL or len 0 yields 0. */
M_API uint32_t M_mem_calc_crc32(const void *buf, size_t len);

M_END_DECLS

#endif /* M_MEM_H */
