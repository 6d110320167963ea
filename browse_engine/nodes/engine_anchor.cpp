#include "nodes/engine_anchor.h"

#include <strings.h>
#include <zeq_objects.h>

#include <atomic>

namespace FI {

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
    EngineAnchor anchor = *this;
    if (IsBlock() || localName == nullptr || *localName == '\0') return EngineAnchor();
    anchor.block_ = localName;
    return anchor;
}

EngineAnchor EngineAnchor::SubContainer() const {
    if (!IsBlock()) return EngineAnchor();
    EngineAnchor anchor = *this;
    auto path = path_ != nullptr ? std::make_shared<std::vector<std::string>>(*path_)
                                 : std::make_shared<std::vector<std::string>>();
    path->push_back(block_);
    anchor.path_ = std::move(path);
    anchor.block_.clear();
    return anchor;
}

ZEQEOSimulation* EngineAnchor::Simulation() const {
    switch (kind_) {
        case RootKind::Document: {
            DocumentSimulationLookup lookup = g_documentSimulation.load(std::memory_order_acquire);
            return lookup != nullptr ? lookup(document_) : nullptr;
        }
        case RootKind::Simulation: return rootSimulation_;
        default: return nullptr;
    }
}

ZEQEOCntr* EngineAnchor::Root(ZEQEOSimulation*& simulation) const {
    if (kind_ == RootKind::Container) {
        simulation = nullptr;
        return rootContainer_;
    }
    simulation = Simulation();
    return simulation != nullptr ? simulation->GetFlowsheet() : nullptr;
}

bool EngineAnchor::Resolve(Place& out) const {
    out = Place();
    ZEQEOCntr* container = Root(out.simulation);
    if (container == nullptr) return false;
    if (path_ != nullptr) {
        for (const std::string& name : *path_) {
            ZEQEOBlock* block = FindLocalBlock(container, name, nullptr);
            container = block != nullptr ? block->GetSubContainer(container) : nullptr;
            if (container == nullptr) return false;
        }
    }
    out.container = container;
    if (block_.empty()) return true;
    out.block = FindLocalBlock(container, block_, &out.position);
    return out.block != nullptr;
}

}  // namespace FI
