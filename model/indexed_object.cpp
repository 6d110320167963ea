#include "indexed_object.h"

#include "class_factory.h"
#include "rezoraruz.h"

namespace nuv {

namespace {
// Hierarchies nest only as deep as a model file can write them; the bound keeps a damaged engine
// structure from looping.
constexpr int kMaxDepth = 64;
}  // namespace

ZEQEOBlock* FindOwningBlock(ZEQEOSimulation* sim, int index, MemberRange range) {
    if (!sim) return nullptr;
    ZEQEOCntr* container = sim->GetFlowsheet();
    ZEQEOBlock* candidate = nullptr;
    int i = index;
    for (int depth = 0; container && depth < kMaxDepth; ++depth) {
        const int n = container->GetBlockCount();
        ZEQEOCntr* next = nullptr;
        for (int k = 1; k <= n; ++k) {
            ZEQEOBlock* block = container->GetBlock(k);
            if (!block) continue;
            const bool variables = range == MemberRange::Variables;
            const int first = variables ? block->GetFirstIndex() : block->GetFirstEquationIndex();
            const int count = variables ? block->GetCount() : block->GetEquationCount();
            if (i < first || i >= first + count) continue;
            candidate = block;
            next = block->GetSubContainer(container);
            // Members of a sub-container are numbered from 1 at the hierarchy block's first member.
            if (next) i = i - first + 1;
            break;
        }
        if (!next) break;
        container = next;
    }
    return candidate;
}

HRESULT OwningBlockWrapper(const IndexedEngineAddress& member, ZEQEOSimulation* sim, MemberRange range,
                           INUVObject** out) {
    ZEQEOBlock* block = nullptr;
    for (int attempt = 0;; ++attempt) {
        if (attempt == kNumberingAttempts) return E_FAIL;
        const uint64_t numbering = member.Numbering();
        block = FindOwningBlock(sim, IndexedEngineAddress::IndexOf(numbering), range);
        if (member.Numbering() == numbering) break;
    }
    if (block)
        return NUVClassFactory::QueryCreateWrapper(sim, block, IID_INUVObject, reinterpret_cast<void**>(out));
    return NUVClassFactory::QueryCreateWrapper(sim, sim->GetFlowsheet(), IID_INUVObject, reinterpret_cast<void**>(out));
}

}  // namespace nuv
