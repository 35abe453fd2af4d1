/* The allocator's system calls on Windows: VirtualAlloc and VirtualFree for
 * the large blocks, WriteFile for the fatal messages.
 *
 * Windows cannot move pages to a new address, so a mapping grows by copy:
 * a new range, the bytes copied, and the old range wiped whole before it is
 * released, so no copy of them stays behind. Which pages are resident is not
 * known here, so a wipe covers every page. Addresses from VirtualAlloc are
 * aligned to 64 KiB only; the 2 MiB step is kept by reserving one step more
 * and committing the aligned stretch inside it.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "core/m_mem_sys_int.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kMapAlign = m::detail::kMemMapAlign;

/* The reservation an aligned mapping lies in (VirtualFree releases whole
 * reservations only): the mapping's base rounded down to the reservation's
 * start, which VirtualQuery reports. */
void *reservation_of(void *base) noexcept
{
	MEMORY_BASIC_INFORMATION mbi;
	if (VirtualQuery(base, &mbi, sizeof(mbi)) == 0)
		return nullptr;
	return mbi.AllocationBase;
}

} // namespace

namespace m::detail {

void mem_write_stderr(const char *msg) noexcept
{
	HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
	size_t len = std::strlen(msg);
	while (len > 0 && err != nullptr && err != INVALID_HANDLE_VALUE) {
		DWORD n = 0;
		if (!WriteFile(err, msg, static_cast<DWORD>(len), &n, nullptr) || n == 0)
			break;
		msg += n;
		len -= n;
	}
}

size_t mem_page_size() noexcept
{
	SYSTEM_INFO si;
	GetSystemInfo(&si);
	return si.dwPageSize;
}

unsigned char *mem_map_new(size_t len) noexcept
{
	if (len > SIZE_MAX - kMapAlign)
		return nullptr;
	/* Reserve one step more than needed, then commit the aligned stretch. */
	void *raw = VirtualAlloc(nullptr, len + kMapAlign, MEM_RESERVE, PAGE_NOACCESS);
	if (raw == nullptr)
		return nullptr;
	const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
	const uintptr_t at    = (start + kMapAlign - 1) & ~static_cast<uintptr_t>(kMapAlign - 1);
	// The aligned address inside the reservation, computed as an integer.
	// NOLINTNEXTLINE(performance-no-int-to-ptr)
	void *base = VirtualAlloc(reinterpret_cast<void *>(at), len, MEM_COMMIT, PAGE_READWRITE);
	if (base == nullptr) {
		VirtualFree(raw, 0, MEM_RELEASE);
		return nullptr;
	}
	return static_cast<unsigned char *>(base);
}

unsigned char *mem_map_grow(unsigned char *base, size_t old_len, size_t new_len) noexcept
{
	unsigned char *grown = mem_map_new(new_len);
	if (grown == nullptr)
		return nullptr;
	std::memcpy(grown, base, old_len);
	mem_map_wipe(base, old_len);
	mem_map_release(base, old_len);
	return grown;
}

void mem_map_wipe(unsigned char *base, size_t len) noexcept
{
	std::memset(base, 0xFF, len);
}

void mem_map_release(void *base, size_t) noexcept
{
	void *reservation = reservation_of(base);
	if (reservation != nullptr)
		VirtualFree(reservation, 0, MEM_RELEASE);
}

/* MEM_RESET: the pages' content is no longer needed and they need not be
 * written to the paging file; the range stays committed. */
void mem_pages_discard(void *p, size_t len) noexcept
{
	(void)VirtualAlloc(p, len, MEM_RESET, PAGE_READWRITE);
}

} // namespace m::detail
