// Where a node's engine objects are, by name. Nodes keep no engine pointer between calls: blocks can be
// removed or renamed, and the whole simulation can go, while a client holds nodes and cursors. Every
// use finds the objects again from the root (the simulation of the node's engine document), so a node
// whose objects are gone finds nothing and answers as a node whose entry was deleted.
//
// A block without a name has nothing to be found by, so its step is the engine's block object instead,
// looked for among its container's blocks on each use and never followed (never read: the engine frees a
// removed block once no use can reach it). An address no longer in the container is a block removed. A
// block without a name comes only with a model read from a file, never from the edit services, so an
// address found again is the same block, or one of a model opened since that took its place there.
#pragma once
#include <zeq_objects.h>

#include "simulation_use.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace FI {

class FIDocument;

class EngineAnchor {
public:
    // What an anchor resolves to now.
    struct Place {
        ZEQEOSimulation* simulation = nullptr;  // null when the root is a bare container
        ZEQEOCntr* container = nullptr;          // the anchored container, or the one that lists the block
        ZEQEOBlock* block = nullptr;             // the anchored block; null for a container anchor
        int32_t position = -1;                   // 0-based position of the block in its container
        unsigned generation = 0;                 // the engine's structure generation before the objects were found
        nuv::SimulationUse use;                  // held while the objects are used (none over a bare container)
    };

    // Anchors nothing: never resolves.
    EngineAnchor() = default;
    // The flowsheet of the engine document's simulation, whichever simulation that is at the time of use.
    static EngineAnchor Flowsheet(FIDocument* document);
    // Roots for nodes made outside an engine document: the caller keeps the object alive for as long as
    // the nodes are used. Null gives an anchor that never resolves. A bare container gives no use of its
    // simulation (nothing names it): what the engine retires may be freed under such nodes, so they are
    // for callers that make no change to the model while they read; a simulation root holds a use.
    static EngineAnchor OverContainer(ZEQEOCntr* container);
    static EngineAnchor OverSimulation(ZEQEOSimulation* simulation);

    // The block of that local name in this anchor's container (this must be a container anchor).
    EngineAnchor Block(const char* localName) const;
    // The block without a name that container (this anchor's container, resolved now) holds at 0-based
    // position; a null block gives an anchor that never resolves.
    EngineAnchor UnnamedBlock(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position) const;
    // The own container of this anchor's hierarchy block (this must be a block anchor).
    EngineAnchor SubContainer() const;
    bool IsBlock() const { return !block_.empty() || (path_ != nullptr && path_->unnamed != nullptr); }

    // Finds the objects again; false when any of them is gone (or the anchor anchors nothing).
    bool Resolve(Place& out) const;
    // True when no block came, went or was renamed since place was resolved: the member indexes found
    // through it, and every member loaded by them since, are still those of the same members.
    static bool Unmoved(const Place& place) {
        return place.container != nullptr && place.container->GetStructureGeneration() == place.generation;
    }
    // A use of the root simulation now (see simulation_use.h), empty when there is none: its objects are
    // used only while it is held.
    nuv::SimulationUse Simulation() const;

    // An engine object found through an anchor, together with the use that keeps its simulation alive:
    // the object is used only while this is held (never copied out into a plain pointer that outlives it).
    template <class T>
    struct Held {
        T* object = nullptr;
        nuv::SimulationUse use;
        T* get() const { return object; }
        T* operator->() const { return object; }
        explicit operator bool() const { return object != nullptr; }
    };
    // The objects of a resolved place, each held with the place's use.
    template <class T>
    static Held<T> Hold(Place& place, T* object) {
        return Held<T>{object, std::move(place.use)};
    }

private:
    class Unnamed;
    // One step from a container to one of its blocks: by the block's local name, or for a block without
    // a name by its engine object.
    struct Step {
        std::string name;
        std::shared_ptr<const Unnamed> unnamed;
    };
    // The steps from the root container down to the anchored container, and the anchored block when it
    // has no name. Kept apart from the anchor, and shared by its copies, so that anchors of named blocks
    // and containers, which nodes hold by the thousand, stay small.
    struct Steps {
        std::vector<Step> path;
        std::shared_ptr<const Unnamed> unnamed;
    };
    ZEQEOCntr* Root(Place& place) const;
    static ZEQEOBlock* Find(ZEQEOCntr* container, const Step& step, int32_t* position);

    enum class RootKind : uint8_t { None, Document, Container, Simulation };
    RootKind kind_ = RootKind::None;
    FIDocument* document_ = nullptr;  // the node's document, which outlives its nodes
    ZEQEOCntr* rootContainer_ = nullptr;
    ZEQEOSimulation* rootSimulation_ = nullptr;
    std::shared_ptr<const Steps> path_;  // null for an anchor at its root container
    std::string block_;  // the anchored block's local name; empty for a container anchor or a block without a name
};

// How many times a use of members by index is made, at most, while blocks keep coming or going.
constexpr int kSteadyAttempts = 64;

// Uses engine members by index. The engine renumbers the members whenever blocks come or go, so an index
// found in one engine call may name another member by the time a later call loads by it. attempt(place)
// resolves place, finds its members and uses them, and says false when they are gone; it is made again
// until no block came or went from its resolving to the end of its use, so what it read is all of the
// members it found. False when the members are gone, or the numbering moved during every attempt: what
// an attempt left behind is then no answer.
template <class Attempt>
bool UseSteadily(Attempt&& attempt) {
    for (int i = 0; i < kSteadyAttempts; ++i) {
        EngineAnchor::Place place;
        if (!attempt(place)) return false;
        if (EngineAnchor::Unmoved(place)) return true;
    }
    return false;
}

// How an anchor rooted at a document finds the document's simulation now (null when it has none). The
// engine document installs its lookup when the library loads; until then such anchors resolve nothing.
using DocumentSimulationLookup = ZEQEOSimulation* (*)(FIDocument* document);
void SetDocumentSimulationLookup(DocumentSimulationLookup lookup);

}  // namespace FI
