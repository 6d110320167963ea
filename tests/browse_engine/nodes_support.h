// Test support for the engine node classes: the example plant opened in the engine, entries reached by
// path below a block list, and small readers and writers of attributes.
#pragma once
#include <gtest/gtest.h>
#include <zeq_host.h>

#include <string>
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/engine_nodes.h"
#include "example_files.h"

namespace nodes_test {

inline std::string PlantPath() {
    return ExampleModelPath("plant.model");
}

// A display that carries units for one call, as the generic attribute reader installs.
class UnitsDisplay : public FI::Display {
public:
    explicit UnitsDisplay(const char* units) : units_(units) {}
    void SetUnits(const FIValue& units) override { units_ = units; }
    void GetUnits(FIValue& out) override { out = units_; }
    void GetPath(FIValue& out) override { out.SetString("path"); }
    const FIValue& Units() const { return units_; }

private:
    FIValue units_;
};

// Installs a display on an entry for the length of a scope.
class DisplayScope {
public:
    DisplayScope(FI::Entry* entry, FI::Display* display) : entry_(entry) { entry_->SetDisplay(display); }
    ~DisplayScope() { entry_->SetDisplay(nullptr); }
    DisplayScope(const DisplayScope&) = delete;
    DisplayScope& operator=(const DisplayScope&) = delete;

private:
    FI::Entry* entry_;
};

class PlantNodes : public ::testing::Test {
public:
    void SetUp() override {
        char error[256] = {0};
        sim = zeq_open_simulation(PlantPath().c_str(), error, sizeof error);
        ASSERT_NE(sim, nullptr) << error;
        flowsheet = sim->GetFlowsheet();
        // Rooted at the simulation, as a document's nodes are: every use of the nodes holds a use of it, so
        // that another thread may change the model while they are read.
        const FI::EngineAnchor root = FI::EngineAnchor::OverSimulation(sim);
        blocks = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), root);
        globals = FI::CreateGlobalParamListNode(nullptr, FIValue("Parameters"), root);
    }
    void TearDown() override {
        blocks.Reset();
        globals.Reset();
        if (sim != nullptr) zeq_destroy_simulation(sim);
    }

    // The entry at a dotted path below the block list; null when part of it does not resolve.
    static FI::EntryHandle At(const FI::EntryHandle& from, const char* path) {
        FI::EntryHandle out;
        const char* rest = nullptr;
        from->FindChild(out, path, &rest);
        if (rest == nullptr || *rest != '\0') return {};
        return out;
    }
    FI::EntryHandle At(const char* path) const { return At(blocks, path); }

    static std::vector<std::string> ChildNames(const FI::EntryHandle& entry) {
        std::vector<std::string> names;
        FI::CursorHandle cursor;
        entry->CreateCursor(cursor);
        for (bool more = cursor.First(); more; more = cursor.Next()) {
            FIValue name;
            cursor.CurrentName(name);
            names.push_back(name.ToStdString());
        }
        return names;
    }

    static FIValue Get(const FI::EntryHandle& entry, uint32_t id, const char* name = "attr") {
        FIValue out;
        entry->GetAttribute(name, id, out);
        return out;
    }
    static std::string Text(const FI::EntryHandle& entry, uint32_t id) { return Get(entry, id).ToStdString(); }
    // The reason a read fails with, empty when it gives a value (or none).
    static std::string ReadRefusal(const FI::EntryHandle& entry, uint32_t id, const char* name = "attr") {
        FIValue out;
        try {
            entry->GetAttribute(name, id, out);
        } catch (const FIError& refusal) {
            return refusal.Message().ToStdString();
        }
        return {};
    }
    static std::string TypeOf(const FI::EntryHandle& entry) {
        FIValue out;
        entry->GetTypeName(out);
        return out.ToStdString();
    }
    // The error text of a write, empty when it succeeded.
    static std::string Set(const FI::EntryHandle& entry, uint32_t id, const FIValue& value, const char* name = "attr") {
        FIError error;
        entry->SetAttribute(name, id, value, error);
        return error.Message().ToStdString();
    }

    ZEQEOSimulation* sim = nullptr;
    ZEQEOCntr* flowsheet = nullptr;
    FI::EntryHandle blocks;
    FI::EntryHandle globals;
};

}  // namespace nodes_test
