/* Helpers shared by the hash table tests. */
#ifndef HASH_TEST_UTIL_H
#define HASH_TEST_UTIL_H

#include <string>
#include <vector>

#include "containers/m_hash_stridx.h"

namespace hash_test {

/* Keys of a string-to-index table in enumeration order (only asked of
 * ordered tables or single keys, where that order is defined). */
inline std::vector<std::string> stridx_keys(const M_hash_stridx_t *h)
{
	std::vector<std::string> out;
	M_hash_stridx_enum_t    *he = nullptr;
	const char              *k;
	M_hash_stridx_enumerate(h, &he);
	while (M_hash_stridx_enumerate_next(h, he, &k, nullptr))
		out.emplace_back(k);
	M_hash_stridx_enumerate_free(he);
	return out;
}

} // namespace hash_test

#endif
