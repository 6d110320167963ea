// Support of the engine document tests: the example plant loaded into an engine simulation, its
// simulation wrapper with the simulation services, the engine document obtained through the wrapper's
// document service, a recording subscriber, and small helpers to walk and read entries.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "browse/document.h"
#include "browse/entry.h"
#include "class_factory.h"
#include "document/vorn_document.h"
#include "modelfile.h"
#include "nuv_text.h"
#include "nuvclasslib.h"
#include "simulation.h"
#include "support/error_info.h"
#include "example_files.h"
#include "wrapper_base.h"
#include "zeq_testing.h"

namespace bdoc_test {

inline std::string PlantText() {
    const auto path = ExampleModelPath("plant.model");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The example plant with blocks declared without a name: one in the hierarchy SECTION after its two
// blocks, and after PROD a hierarchy without a name (holding one block without a name and the block
// INNER), followed by the block TAIL.
inline std::string PlantWithUnnamedBlocksText() {
    std::string text = PlantText();
    text.insert(text.find("  var LOAD 0"), "  block \"\"\n    var S 11\n  end\n");
    text += "hierarchy \"\"\n  block \"\"\n    var U 7\n  end\n  block INNER\n    var V 8\n  end\nend\n"
            "block TAIL\n  var W 9\nend\n";
    return text;
}

// One notification as a subscriber saw it.
struct Seen {
    int32_t kind;
    int32_t severity;
    std::string message;
    bool operator==(const Seen&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << "{" << s.kind << ", " << s.severity << ", \"" << s.message << "\"}";
}

class Recorder {
public:
    static void Callback(FI::FIDocument*, void* context, FIDocumentNotifyList* records) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard lock(self->lock_);
        for (const FIDocumentNotify& r : *records)
            self->seen_.push_back(Seen{r.kind, r.severity, r.message.ToStdString()});
    }
    std::vector<Seen> Seen_() const {
        std::lock_guard lock(lock_);
        return seen_;
    }
    void Clear() {
        std::lock_guard lock(lock_);
        seen_.clear();
    }

private:
    mutable std::mutex lock_;
    std::vector<Seen> seen_;
};

inline std::string Text(const FIValue& v) {
    FIValue copy(v);
    copy.ConvertTo(FIValue::kInlineText);
    return copy.ToStdString();
}

inline std::string NameOf(const FI::EntryHandle& e) {
    FIValue v;
    e->GetName(v);
    return Text(v);
}

inline std::string TypeOf(const FI::EntryHandle& e) {
    FIValue v;
    e->GetTypeName(v);
    return Text(v);
}

inline std::string Attr(const FI::EntryHandle& e, uint32_t id) {
    FIValue v;
    e->GetAttribute("", id, v);
    return Text(v);
}

// The names of an entry's children, in cursor order.
inline std::vector<std::string> ChildNames(const FI::EntryHandle& e) {
    std::vector<std::string> names;
    FI::CursorHandle cursor;
    e->CreateCursor(cursor);
    for (bool more = cursor.First(); more; more = cursor.Next()) {
        FIValue name;
        cursor.CurrentName(name);
        names.push_back(Text(name));
        if (names.size() > 1000) break;
    }
    return names;
}

// The example plant in an engine simulation, its wrapper, and the engine document held through the
// wrapper's document service (the document's COM face keeps the document alive).
struct PlantDocument {
    void Open(const std::string& text = PlantText()) {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
        sim_ = std::make_unique<zeq::Simulation>();
        sim_->Build(def);
        NUVClassFactory::RegisterSimulationServices(sim_.get());
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2,
                                                       reinterpret_cast<void**>(&wrapper_)),
                  S_OK);
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(wrapper_.QueryInterface(&provider), S_OK);
        ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face_)),
                  S_OK);
        impl_ = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
        ASSERT_NE(impl_, nullptr);
        doc_ = FI::AsVORNDocument(impl_->GetDocument());
        ASSERT_NE(doc_, nullptr);
    }
    void Close() {
        doc_ = nullptr;
        face_.Release();
        wrapper_.Release();
        sim_.reset();
    }

    std::unique_ptr<zeq::Simulation> sim_;
    CComPtr<INUVSimulation2> wrapper_;
    CComPtr<IPDXDocumentV22> face_;
    CoNUVSimulation* impl_ = nullptr;
    FI::FIVORNDocument* doc_ = nullptr;
};

class DocumentTest : public ::testing::Test, protected PlantDocument {
protected:
    // The model the document shows.
    virtual std::string ModelText() const { return PlantText(); }
    void SetUp() override {
        Open(ModelText());
        rto_inq_mode_c(&savedMode_);
    }
    void TearDown() override {
        rto_set_mode_c(savedMode_);
        Close();
    }

    FI::EntryHandle At(const char* path) {
        const char* rest = nullptr;
        FI::EntryHandle e = doc_->ResolvePath(path, &rest);
        EXPECT_TRUE(rest == nullptr || *rest == '\0') << path << " stops at " << (rest ? rest : "");
        EXPECT_FALSE(e.IsNull()) << path;
        return e;
    }

    int savedMode_ = 0;
};

// Owns a SAFEARRAY; Receive() for out-parameters.
class ScopedArray {
public:
    explicit ScopedArray(SAFEARRAY* a = nullptr) : a_(a) {}
    ~ScopedArray() {
        if (a_ != nullptr) SafeArrayDestroy(a_);
    }
    ScopedArray(const ScopedArray&) = delete;
    ScopedArray& operator=(const ScopedArray&) = delete;
    SAFEARRAY* get() const { return a_; }
    SAFEARRAY** Receive() { return &a_; }
    // Element i of a one-dimensional array.
    CComVariant At(LONG i) const {
        CComVariant v;
        SafeArrayGetElement(a_, &i, &v);
        return v;
    }

private:
    SAFEARRAY* a_;
};

// A one-dimensional array of texts, as the COM face takes paths and attribute names.
inline SAFEARRAY* Texts(const std::vector<std::string>& texts) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        CComVariant v(texts[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(a, &i, &v);
    }
    return a;
}

// One tuple per column: path index, attribute index, units and, for writes, the value.
inline SAFEARRAY* Tuples(ULONG rows, const std::vector<std::vector<CComVariant>>& columns) {
    SAFEARRAYBOUND bounds[2] = {{rows, 0}, {static_cast<ULONG>(columns.size()), 0}};
    SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (size_t c = 0; c < columns.size(); ++c) {
        for (size_t r = 0; r < columns[c].size() && r < rows; ++r) {
            LONG index[2] = {static_cast<LONG>(r), static_cast<LONG>(c)};
            SafeArrayPutElement(a, index, const_cast<CComVariant*>(&columns[c][r]));
        }
    }
    return a;
}

inline std::string AsText(const CComVariant& v) {
    CComVariant copy;
    if (FAILED(VariantChangeType(&copy, &v, 0, VT_BSTR))) return "<" + std::to_string(v.vt) + ">";
    return nuv::bstr_to_utf8(copy.bstrVal);
}

inline double AsReal(const CComVariant& v) {
    CComVariant copy;
    return SUCCEEDED(VariantChangeType(&copy, &v, 0, VT_R8)) ? copy.dblVal : -1e300;
}

// The engine's value and unit of a variable by its full name.
inline std::pair<double, std::string> EngineVariable(ZEQEOSimulation& sim, const char* name) {
    ZEQEOCntr* flowsheet = sim.GetFlowsheet();
    ZEQVariableData record;
    record.SetMask(VA_VALUE | VA_UOM, 0);
    double value = 0;
    const char* unit = nullptr;
    if (!record.Load(flowsheet, nullptr, flowsheet->FindIndex(name), true) || !record.GetValue(VA_VALUE, value) ||
        !record.GetValue(VA_UOM, unit)) {
        return {-1e300, "?"};
    }
    return {value, unit ? unit : ""};
}

// A one-dimensional SAFEARRAY of VARIANTs, released with the object.
class InputArray {
public:
    explicit InputArray(const std::vector<CComVariant>& items)
        : array_(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()))) {
        for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
            VARIANT v = items[static_cast<size_t>(i)];
            SafeArrayPutElement(array_, &i, &v);
        }
    }
    ~InputArray() { SafeArrayDestroy(array_); }
    InputArray(const InputArray&) = delete;
    InputArray& operator=(const InputArray&) = delete;
    SAFEARRAY* get() const { return array_; }

private:
    SAFEARRAY* array_;
};

}  // namespace bdoc_test
