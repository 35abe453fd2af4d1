/* Local time: conversions with a caller's zone object or the host's zone.
 *
 * With a zone object only its two operations are used: adjust_tolocal
 * (UTC -> offset, daylight flag, name) and adjust_fromlocal (local reading
 * -> offset to UTC). Without one, the host's zone applies
 * (m_time_local_posix.cpp, m_time_local_win.cpp).
 *
 * The calendar fields are always produced by the library's own UTC
 * arithmetic (M_time_togm of the local count), so local and UTC readings
 * share one calendar implementation; the host only supplies the offset.
 */
#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include "core/m_mem.h"

namespace {

/* Fill tm from t with a zone object (step 2 of the local reading). */
void tolocal_tz(M_time_t t, M_time_tm_t &tm, const M_time_tz_t &tz)
{
	M_bool      isdst  = M_FALSE;
	const char *name   = nullptr;
	M_time_t    offset = 0;

	if (tz.adjust_tolocal != nullptr)
		offset = tz.adjust_tolocal(tz.data, t, &isdst, &name);
	M_time_togm(t + offset, &tm);
	tm.gmtoff = offset;
	tm.isdst  = isdst ? 1 : 0;
	m::detail::set_abbr(tm, name);
}

} // namespace

namespace m::detail {

void set_abbr(M_time_tm_t &tm, const char *name) noexcept
{
	size_t i = 0;

	if (name != nullptr) {
		for (; i < sizeof(tm.abbr) - 1 && name[i] != '\0'; i++)
			tm.abbr[i] = name[i];
	}
	tm.abbr[i] = '\0';
}

} // namespace m::detail

extern "C" {

void M_time_tolocal(M_time_t t, M_time_tm_t *tm, const M_time_tz_t *tz)
{
	if (tm == nullptr)
		return;
	M_mem_set(tm, 0, sizeof(*tm));
	if (tz != nullptr)
		tolocal_tz(t, *tm, *tz);
	else
		m::detail::host_tolocal(t, *tm);
}

M_time_t M_time_fromlocal(M_time_tm_t *tm, const M_time_tz_t *tz)
{
	M_time_t t = 0;

	if (tm == nullptr)
		return 0;

	if (tz != nullptr) {
		/* Read the fields as if UTC, keep the caller's daylight flag for the
		 * zone's local-to-UTC operation, then apply its offset. */
		const int64_t  isdst = tm->isdst;
		const M_time_t u     = M_time_fromgm(tm);
		tm->isdst            = isdst;
		t                    = u;
		if (tz->adjust_fromlocal != nullptr)
			t += tz->adjust_fromlocal(tz->data, tm);
		M_mem_set(tm, 0, sizeof(*tm));
		tolocal_tz(t, *tm, *tz);
		return t;
	}

	M_time_tm_t copy = *tm;
	(void)M_time_fromgm(&copy);
	if (!m::detail::host_fromlocal(copy, t))
		t = 0;
	M_mem_set(tm, 0, sizeof(*tm));
	m::detail::host_tolocal(t, *tm);
	return t;
}

} // extern "C"
