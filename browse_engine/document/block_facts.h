// What a moniker needs to know of the block it reached, beyond finding it: the container that lists it, the
// prefix that container knows it by, its own container and its range of variables. Each is one engine call
// (and one taking of the engine lock); a client resolves the variables of one block in a row, so the facts
// of the block reached last are kept, per thread, while the engine's structure stands.
#pragma once
#include <cstddef>
#include <cstdint>

class ZEQEOBlock;
class ZEQEOCntr;

namespace FI {

struct BlockFacts {
    ZEQEOCntr* listing = nullptr;  // the container the block is a member of, null when none
    const char* prefix = nullptr;  // as `listing` knows the block, null when it does not
    size_t prefixLength = 0;
    ZEQEOCntr* sub = nullptr;  // the block's own container, null for a plain block
    // 1-based in `listing`: read for a plain block only (a hierarchy block's variables are not reached
    // through it), 0 for a hierarchy block.
    int32_t first = 0;
    int32_t count = 0;
};

// A number no other document gets, for `reader` below: unlike the document's address, never reused.
uint64_t NewBlockFactsReader();

// The facts of `block`, found in `flowsheet` under the engine structure `generation` (read before the
// lookup that found the block, so that it is older than any change the lookup may have missed): kept from
// the last call on this thread when that call was for the same reader, block and generation (no block came,
// went or was renamed since, so every fact stands), else asked of the engine. A reader is one document: its
// simulation never changes.
BlockFacts FactsOfBlock(uint64_t reader, ZEQEOCntr* flowsheet, ZEQEOBlock* block, unsigned generation);

}  // namespace FI
