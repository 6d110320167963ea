// Huge pages for large tables read at random places.
#pragma once
#include <cstddef>

namespace nuv {

// Asks the system to back a large table, not yet written, with huge pages: lookups at random places in
// it then do not each miss the address translation cache. Only whole huge pages inside the table are
// advised; nothing for tables under two huge pages, nor where the system takes no such advice.
void AdviseHugePages(const void* data, size_t bytes);

// The size of one huge page, to which a table advised whole is aligned.
constexpr size_t kHugePageBytes = size_t{2} << 20;

}  // namespace nuv
