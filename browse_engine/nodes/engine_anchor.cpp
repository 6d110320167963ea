#include "nodes/engine_anchor.h"

#include <strings.h>
#include <zeq_objects.h>

#include <algorithm>
#include <atomic>
#include <utility>

namespace FI {

// A block without a name, by its engine object, and where it was last seen: its position and the
// engine's structure generation at the time, one word that threads sharing the step read and replace
// whole. While the generation holds, no block came or went and the position stands (or the block stays
// gone); after a change the container is searched from that position down, where removals before the
// block move it, then up.
class EngineAnchor::Unnamed {
public:
    Unnamed(ZEQEOBlock* block, unsigned generation, int32_t position)
        : block_(block), seen_(Seen(generation, position)) {}

    ZEQEOBlock* Find(ZEQEOCntr* container, int32_t* position) const {
        const unsigned generation = container->GetStructureGeneration();
        const uint64_t seen = seen_.load(std::memory_order_relaxed);
        const int32_t last = static_cast<int32_t>(static_cast<uint32_t>(seen)) - 1;
        if (static_cast<unsigned>(seen >> 32) == generation) {
            if (last < 0) return nullptr;
            if (container->GetBlock(last + 1) == block_) return Found(last, position);
        }
        const int32_t count = std::max(container->GetBlockCount(), 0);
        const int32_t start = last < 0 ? count - 1 : std::min(last, count - 1);
        int32_t at = -1;
        for (int32_t p = start; p >= 0 && at < 0; --p) {
            if (container->GetBlock(p + 1) == block_) at = p;
        }
        for (int32_t p = start + 1; p < count && at < 0; ++p) {
            if (container->GetBlock(p + 1) == block_) at = p;
        }
        // Read before the search, the generation is older than any change the search may have missed.
        seen_.store(Seen(generation, at), std::memory_order_relaxed);
        return at < 0 ? nullptr : Found(at, position);
    }

private:
    static uint64_t Seen(unsigned generation, int32_t position) {
        return static_cast<uint64_t>(generation) << 32 | static_cast<uint32_t>(position + 1);
    }
    ZEQEOBlock* Found(int32_t at, int32_t* position) const {
        if (position != nullptr) *position = at;
        return block_;
    }
    ZEQEOBlock* const block_;  // compared with the container's blocks, never called
    mutable std::atomic<uint64_t> seen_;
};

namespace {

std::atomic<DocumentSimulationLookup> g_documentSimulation{nullptr};

// The block of a local name directly in container (block names hold no full stop), null when none.
ZEQEOBlock* FindLocalBlock(ZEQEOCntr* container, const std::string& name, int32_t* position) {
    const int index = container->FindBlockIndex(name.c_str());
    if (index <= 0) return nullptr;
    ZEQEOBlock* block = container->GetBlock(index);
    const char* found = block != nullptr ? block->GetName() : nullptr;
    if (found == nullptr || strcasecmp(found, name.c_str()) != 0) return nullptr;
    if (position != nullptr) *position = index - 1;
    return block;
}

}  // namespace

void SetDocumentSimulationLookup(DocumentSimulationLookup lookup) {
    g_documentSimulation.store(lookup, std::memory_order_release);
}

EngineAnchor EngineAnchor::Flowsheet(FIDocument* document) {
    EngineAnchor anchor;
    if (document == nullptr) return anchor;
    anchor.kind_ = RootKind::Document;
    anchor.document_ = document;
    return anchor;
}

EngineAnchor EngineAnchor::OverContainer(ZEQEOCntr* container) {
    EngineAnchor anchor;
    if (container == nullptr) return anchor;
    anchor.kind_ = RootKind::Container;
    anchor.rootContainer_ = container;
    return anchor;
}

EngineAnchor EngineAnchor::OverSimulation(ZEQEOSimulation* simulation) {
    EngineAnchor anchor;
    if (simulation == nullptr) return anchor;
    anchor.kind_ = RootKind::Simulation;
    anchor.rootSimulation_ = simulation;
    return anchor;
}

EngineAnchor EngineAnchor::Block(const char* localName) const {
    if (IsBlock() || localName == nullptr || *localName == '\0') return EngineAnchor();
    EngineAnchor anchor = *this;
    anchor.block_ = localName;
    return anchor;
}

EngineAnchor EngineAnchor::UnnamedBlock(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position) const {
    if (IsBlock() || container == nullptr || block == nullptr) return EngineAnchor();
    EngineAnchor anchor = *this;
    auto steps = path_ != nullptr ? std::make_shared<Steps>(*path_) : std::make_shared<Steps>();
    steps->unnamed = std::make_shared<const Unnamed>(block, container->GetStructureGeneration(), position);
    anchor.path_ = std::move(steps);
    return anchor;
}

EngineAnchor EngineAnchor::SubContainer() const {
    if (!IsBlock()) return EngineAnchor();
    EngineAnchor anchor = *this;
    auto steps = path_ != nullptr ? std::make_shared<Steps>(*path_) : std::make_shared<Steps>();
    steps->path.push_back(Step{std::exchange(anchor.block_, std::string()), std::exchange(steps->unnamed, nullptr)});
    anchor.path_ = std::move(steps);
    return anchor;
}

ZEQEOBlock* EngineAnchor::Find(ZEQEOCntr* container, const Step& step, int32_t* position) {
    if (step.unnamed != nullptr) return step.unnamed->Find(container, position);
    return FindLocalBlock(container, step.name, position);
}

nuv::SimulationUse EngineAnchor::Simulation() const {
    switch (kind_) {
        case RootKind::Document: {
            DocumentSimulationLookup lookup = g_documentSimulation.load(std::memory_order_acquire);
            if (lookup == nullptr) return nuv::SimulationUse();
            return nuv::SimulationUse([&] { return lookup(document_); });
        }
        case RootKind::Simulation: return nuv::SimulationUse([&] { return rootSimulation_; });
        default: return nuv::SimulationUse();
    }
}

ZEQEOCntr* EngineAnchor::Root(Place& place) const {
    if (kind_ == RootKind::Container) return rootContainer_;
    place.use = Simulation();
    place.simulation = place.use.get();
    return place.simulation != nullptr ? place.simulation->GetFlowsheet() : nullptr;
}

bool EngineAnchor::Resolve(Place& out) const {
    out = Place();
    ZEQEOCntr* container = Root(out);
    if (container == nullptr) return false;
    out.generation = container->GetStructureGeneration();
    if (path_ != nullptr) {
        for (const Step& step : path_->path) {
            ZEQEOBlock* block = Find(container, step, nullptr);
            container = block != nullptr ? block->GetSubContainer(container) : nullptr;
            if (container == nullptr) return false;
        }
    }
    out.container = container;
    if (!block_.empty()) {
        out.block = FindLocalBlock(container, block_, &out.position);
    } else if (path_ != nullptr && path_->unnamed != nullptr) {
        out.block = path_->unnamed->Find(container, &out.position);
    } else {
        return true;
    }
    return out.block != nullptr;
}

}  // namespace FI
