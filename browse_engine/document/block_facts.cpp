#include "document/block_facts.h"

#include <zeq_objects.h>

#include <atomic>
#include <cstring>

namespace FI {

namespace {

// The last block a thread asked about. Trivially destructible, as every thread-local here.
struct KeptFacts {
    uint64_t reader;  // 0: nothing kept
    ZEQEOBlock* block;
    unsigned generation;
    BlockFacts facts;
};
constinit thread_local KeptFacts t_kept{};

}  // namespace

uint64_t NewBlockFactsReader() {
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

BlockFacts FactsOfBlock(uint64_t reader, ZEQEOCntr* flowsheet, ZEQEOBlock* block, unsigned generation) {
    KeptFacts& kept = t_kept;
    if (kept.reader == reader && kept.block == block && kept.generation == generation) return kept.facts;
    BlockFacts facts;
    facts.listing = block->GetParentContainer(flowsheet);
    facts.prefix = facts.listing != nullptr ? facts.listing->GetBlockPrefix(block) : nullptr;
    // Without a prefix the block is not reached this way: nothing more is needed of it.
    if (facts.prefix == nullptr) return facts;
    facts.prefixLength = std::strlen(facts.prefix);
    facts.sub = block->GetSubContainer(facts.listing);
    if (facts.sub == nullptr) {
        facts.first = block->GetFirstIndex();
        facts.count = block->GetCount();
    }
    kept = KeptFacts{reader, block, generation, facts};
    return facts;
}

}  // namespace FI
