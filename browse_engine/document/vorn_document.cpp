#include "document/vorn_document.h"

#include <windows.h>

#include <oleauto.h>
#include <servprov.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "browse/error.h"
#include "browse/variant_array.h"
#include "document/block_facts.h"
#include "events/callbacks_helper.h"
#include "events/run_receivers.h"
#include "nodes/engine_anchor.h"
#include "nodes/engine_nodes.h"
#include "nodes/top_nodes.h"
#include "nuvclasslib.h"
#include "simulation.h"
#include "zeq_lib.h"
#include "zeq_objects.h"
#include "zeq_pipe.h"

namespace FI {

// Carries engine run events from the event callbacks to the document while the document is
// subscribed. The callbacks hold it through a shared pointer, so it outlives a document that goes
// away while an event is being delivered; Detach makes it a no-op first.
class FIVORNRunBridge final : public nuv::events::EngineRunReceiver {
public:
    explicit FIVORNRunBridge(FIVORNDocument* document) : document_(document) {}

    void Detach() {
        std::lock_guard lock(lock_);
        document_ = nullptr;
    }
    void NotifyRunStarted() override {
        if (FIVORNDocument* d = Hold()) {
            d->NotifyRunStarted();
            d->Release();
        }
    }
    void NotifyRunFinished(int32_t status) override {
        if (FIVORNDocument* d = Hold()) {
            d->NotifyRunFinished(status);
            d->Release();
        }
    }

private:
    FIVORNDocument* Hold() {
        std::lock_guard lock(lock_);
        return document_ != nullptr && document_->TryAddRef() ? document_ : nullptr;
    }
    std::mutex lock_;
    FIVORNDocument* document_;
};

namespace {

struct EngineAttribute {
    const char* name;
    uint32_t id;
};

constexpr EngineAttribute kEngineAttributes[] = {
    {"active_bound", kAttrActiveBound}, {"initial", kAttrInitial},       {"marked", kAttrMarked},
    {"modified", kAttrModified},        {"sbweight", kAttrSbWeight},     {"shadow_price", kAttrShadowPrice},
    {"int_scale", kAttrIntScale},       {"solve_scale", kAttrSolveScale}, {"step", kAttrStep},
    {"change", kAttrChange},            {"spec", kAttrSpec},             {"bound_type", kAttrBoundType},
    {"quality", kAttrQuality},          {"direction", kAttrDirection},   {"basis", kAttrBasis},
    {"phase", kAttrPhase},              {"stream", kAttrStream},         {"stream", kAttrStream},
    {"scale", kAttrScale},
};

// Run mode names by engine mode number, and the order in which they are offered and matched.
constexpr const char* kRunModeNames[] = {"Simulation", "Parameter Estimation", "Data Reconciliation",
                                         "Optimization"};
struct RunModeChoice {
    const char* name;
    int mode;
};
constexpr RunModeChoice kRunModeChoices[] = {
    {"Simulation", ZEQ_MODE_SIMULATION},
    {"Optimization", ZEQ_MODE_OPTIMIZATION},
    {"Parameter Estimation", ZEQ_MODE_PARAM_EST},
    {"Data Reconciliation", ZEQ_MODE_DATA_RECON},
};

constexpr const char* kEnvironment = "Simulate";
constexpr const char* kNoObjective = "NONE";
constexpr const char* kNoSimulation = "The simulation is no longer available";
// The longest moniker segment looked up as one block name.
constexpr size_t kMaxMonikerName = 511;

// Writes a path straight into the value that receives it, reusing the buffer the value already has; the
// value holds what was written once the writer goes (or Finish is called).
class PathWriter {
public:
    explicit PathWriter(FIValue& out) : out_(out), data_(out.WriteBuffer(0, kFirstRoom)), room_(kFirstRoom) {}
    ~PathWriter() { Finish(); }
    PathWriter(const PathWriter&) = delete;
    PathWriter& operator=(const PathWriter&) = delete;

    template <size_t N>
    void Add(const char (&text)[N]) {
        std::memcpy(Room(N - 1), text, N - 1);
        size_ += N - 1;
    }
    // A name as one step of a path, quoted when it needs to be (which at most doubles it, plus the quotes).
    void AddName(const char* text, size_t n) {
        char* end = FIWritePathName(Room(2 * n + 2), text, n);
        size_ = static_cast<size_t>(end - data_);
    }
    void Finish() { out_.WriteBuffer(size_, size_); }

private:
    // Where n more bytes go.
    char* Room(size_t n) {
        if (n > room_ - size_) Grow(n);
        return data_ + size_;
    }
    [[gnu::noinline]] void Grow(size_t n) {
        room_ = std::max(size_ + n, 2 * room_);
        data_ = out_.WriteBuffer(size_, room_);
    }
    static constexpr size_t kFirstRoom = 96;
    FIValue& out_;
    char* data_;
    size_t room_;
    size_t size_ = 0;
};

bool SameText(const char* a, const char* b) { return strcasecmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0; }

std::string TextOf(const FIValue& value) {
    FIValue copy(value);
    copy.ConvertTo(FIValue::kInlineText);
    return copy.ToStdString();
}

void JoinList(const ZEQStringList& list, FIValue& out, bool leadingSeparator) {
    for (int i = 0; i < list.GetCount(); ++i) {
        if (leadingSeparator || i > 0) out.AppendChar('\n');
        out.Append(list.GetAt(i));
    }
}

FIDocument* CreateForSimulation(CoNUVSimulation* owner) { return new FIVORNDocument(owner); }

void ReleaseOwnerOf(FIDocument* document, CoNUVSimulation* owner) {
    FIVORNDocument* vorn = AsVORNDocument(document);
    if (vorn == nullptr) return;
    // The wrapper does not count the document: a document nobody else holds goes away here.
    vorn->AddRef();
    vorn->ReleaseOwner(owner);
    vorn->Release();
}

// The simulation behind an engine document, for the nodes' anchors.
ZEQEOSimulation* SimulationOfDocument(FIDocument* document) {
    FIVORNDocument* vorn = AsVORNDocument(document);
    return vorn != nullptr ? vorn->GetEngineSimulation() : nullptr;
}

[[maybe_unused]] const bool g_installed = (InstallVORNDocument(), true);

}  // namespace

void InstallVORNDocument() {
    nuv::SetSimulationDocumentHooks({&CreateForSimulation, &ReleaseOwnerOf});
    SetDocumentSimulationLookup(&SimulationOfDocument);
}

FIVORNDocument* AsVORNDocument(FIDocument* document) { return dynamic_cast<FIVORNDocument*>(document); }

// ---- Lifetime ----

FIVORNDocument::FIVORNDocument(CoNUVSimulation* owner) : owner_(owner), factsReader_(NewBlockFactsReader()) {
    if (owner_ != nullptr) static_cast<INUVSimulation2*>(owner_)->AddRef();
    for (const EngineAttribute& a : kEngineAttributes) RegisterAttribute(a.name, a.id);
    SetEmptyEntryFactory(&FIVORNDocument::GetEmptyNode);
    root_ = EntryHandle(new FIVORNTopNode(this));
}

FIVORNDocument::~FIVORNDocument() {
    OnLastSubscriber();
    CoNUVSimulation* owner = nullptr;
    {
        std::lock_guard lock(ownerLock_);
        owner = std::exchange(owner_, nullptr);
    }
    if (owner != nullptr) {
        owner->DetachDocument(this);
        static_cast<INUVSimulation2*>(owner)->Release();
    }
}

ULONG FIVORNDocument::AddRef() { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG FIVORNDocument::Release() {
    uint32_t left = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

bool FIVORNDocument::TryAddRef() {
    uint32_t count = refCount_.load(std::memory_order_relaxed);
    while (count != 0) {
        if (refCount_.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void FIVORNDocument::ReleaseOwner(CoNUVSimulation* owner) {
    CoNUVSimulation* released = nullptr;
    {
        std::lock_guard lock(ownerLock_);
        if (owner_ == nullptr || owner_ != owner) return;
        released = std::exchange(owner_, nullptr);
    }
    // Run events are registered under the owner: they stop with it.
    StopRunEvents();
    static_cast<INUVSimulation2*>(released)->Release();
}

void FIVORNDocument::StopRunEvents() {
    std::shared_ptr<FIVORNRunBridge> bridge;
    CoNUVSimulation* registeredFor = nullptr;
    {
        std::lock_guard lock(subscribeLock_);
        bridge = std::move(runBridge_);
        registeredFor = std::exchange(runOwner_, nullptr);
    }
    if (!bridge) return;
    bridge->Detach();
    nuv::events::UnregisterRunReceiver(registeredFor, bridge.get());
}

CComPtr<INUVSimulation2> FIVORNDocument::HeldOwner() const {
    std::lock_guard lock(ownerLock_);
    return CComPtr<INUVSimulation2>(owner_);
}

CoNUVSimulation* FIVORNDocument::GetOwner() const {
    std::lock_guard lock(ownerLock_);
    return owner_;
}

ZEQEOSimulation* FIVORNDocument::GetEngineSimulation() const {
    std::lock_guard lock(ownerLock_);
    return owner_ != nullptr ? owner_->GetEngineSimulation() : nullptr;
}

nuv::SimulationUse FIVORNDocument::UseEngineSimulation() const {
    // The owner stays while its lock is held: its slot is read before and after the use is counted
    // under one taking of the lock (counting a use takes only the engine's own table lock, which is
    // never held while this one is taken).
    std::lock_guard lock(ownerLock_);
    return owner_ != nullptr ? owner_->Use() : nuv::SimulationUse();
}

// ---- Document slots ----

FIValue FIVORNDocument::GetFileName() { return FIValue(); }

FIValue FIVORNDocument::GetAppName() { return FIValue("VORN"); }

FIValue FIVORNDocument::GetAppVersion() {
    FIValue version(rtoMajorVersion());
    version.Append(" Build ");
    version.Append(rtoMinorVersion());
    return version;
}

HRESULT FIVORNDocument::GetCanonicalPath(const char* path, FIValue& out) { return ResolveMoniker(path, out); }

EntryHandle FIVORNDocument::GetRoot() { return root_; }

const EntryHandle& FIVORNDocument::GetEmptyNode() {
    // Deliberately never destroyed: cursors of other documents may hand it out during process exit.
    static const EntryHandle* const empty = new EntryHandle(new FIVORNEmptyNode());
    return *empty;
}

void FIVORNDocument::GetStatus(FIValue& out) { out.Clear(); }

// ---- Subscribers ----

// The base runs these two one at a time. Registrations are made outside the subscription lock: the
// message object and the event callbacks may be delivering to this document meanwhile, and a subscriber
// called from there may advise or unadvise.
void FIVORNDocument::OnFirstSubscriber() {
    {
        std::lock_guard lock(subscribeLock_);
        if (subscribed_) return;
    }
    NUVCallbacksHelper::SetFlowsheetCallbacks();
    RegisterMessageDocument(this);
    std::shared_ptr<FIVORNRunBridge> bridge;
    CoNUVSimulation* owner = GetOwner();
    if (owner != nullptr) bridge = std::make_shared<FIVORNRunBridge>(this);
    {
        std::lock_guard lock(subscribeLock_);
        subscribed_ = true;
        runBridge_ = bridge;
        runOwner_ = owner;
    }
    if (bridge) nuv::events::RegisterRunReceiver(owner, bridge);
}

void FIVORNDocument::OnLastSubscriber() {
    {
        std::lock_guard lock(subscribeLock_);
        if (!subscribed_) return;
        subscribed_ = false;
    }
    NUVCallbacksHelper::SetFlowsheetCallbacks();
    UnregisterMessageDocument(this);
    StopRunEvents();
}

bool FIVORNDocument::IsSubscribed() const {
    std::lock_guard lock(subscribeLock_);
    return subscribed_;
}

// ---- Run mode, environment, objective, solver scope ----

void FIVORNDocument::GetRunMode(FIValue& out) {
    int mode = -1;
    rto_inq_mode_c(&mode);
    if (mode >= 0 && mode < 4) out.SetString(kRunModeNames[mode]);
}

void FIVORNDocument::GetRunModeList(FIValue& out) {
    out.SetString("Simulation\nOptimization\nParameter Estimation\nData Reconciliation");
}

void FIVORNDocument::SetRunMode(const FIValue& value, FIError& error) {
    // The run mode belongs to the simulation's engine: a document without one changes nothing.
    if (GetEngineSimulation() == nullptr) {
        error.SetMessage(kNoSimulation);
        return;
    }
    FIValue current;
    GetRunMode(current);
    const std::string text = TextOf(value);
    if (!current.IsEmpty() && SameText(current.GetString(), text.c_str())) return;
    for (const RunModeChoice& choice : kRunModeChoices) {
        if (SameText(choice.name, text.c_str())) {
            rto_set_mode_c(choice.mode);
            return;
        }
    }
    error.SetMessage("Invalid run mode specified");
}

void FIVORNDocument::GetEnvironment(FIValue& out) { out.SetString(kEnvironment); }

void FIVORNDocument::GetEnvironmentList(FIValue& out) { out.SetString(kEnvironment); }

void FIVORNDocument::SetEnvironment(const FIValue& value, FIError& error) {
    if (!SameText(TextOf(value).c_str(), kEnvironment)) error.SetMessage("Invalid environment specified");
}

void FIVORNDocument::GetObjective(FIValue& out) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) return;
    const char* objective = sim->GetDefaultObjective();
    out.SetString(objective != nullptr ? objective : kNoObjective);
}

void FIVORNDocument::GetObjectiveList(FIValue& out) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) return;
    out.SetString(kNoObjective);
    ZEQStringList names;
    sim->GetObjectiveList(names);
    JoinList(names, out, true);
}

void FIVORNDocument::SetObjective(const FIValue& value, FIError& error) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) {
        error.SetMessage(kNoSimulation);
        return;
    }
    FIValue current;
    GetObjective(current);
    const std::string text = TextOf(value);
    if (SameText(current.GetString(), text.c_str())) return;
    int result = 0;
    if (SameText(text.c_str(), kNoObjective)) {
        result = sim->SetDefaultObjective(nullptr);
    } else if (sim->IsValidObjective(text.c_str())) {
        result = sim->SetDefaultObjective(text.c_str());
    } else {
        result = E_FAIL;
    }
    if (result < 0) error.SetMessage("Invalid objective specified");
}

void FIVORNDocument::GetSolverScope(FIValue& out) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) return;
    char* scope = nullptr;
    sim->GetSolverScope(&scope, 0, 0);
    if (scope != nullptr) {
        out.SetString(scope);
        std::free(scope);
    }
}

void FIVORNDocument::GetSolverScopeList(FIValue& out) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) return;
    ZEQStringList scopes;
    sim->GetSolverScopeList(scopes, 0, 0);
    out.SetString("");
    JoinList(scopes, out, false);
}

void FIVORNDocument::SetSolverScope(const FIValue& value, FIError& error) {
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    if (sim == nullptr) {
        error.SetMessage(kNoSimulation);
        return;
    }
    if (sim->SetSolverScope(TextOf(value).c_str()) < 0) error.SetMessage("Invalid solver scope specified");
}

// ---- Runs ----

HRESULT FIVORNDocument::Run() {
    CComPtr<INUVSimulation2> owner = HeldOwner();
    if (!owner) return RaiseFIError(E_FAIL, kNoSimulation);
    return owner->Solve();
}

HRESULT FIVORNDocument::RunScriptAction(SAFEARRAY* inputs, VARIANT* result) {
    if (inputs == nullptr) return S_OK;
    std::string script;
    bool collect = false;
    {
        VariantArrayReader reader(inputs, 1);
        if (FAILED(reader.Status())) return reader.Status();
        if (reader.Extent(0) < 1) return RaiseFIError(E_FAIL, "Missing script argument");
        CComVariant element;
        CComVariant text;
        HRESULT hr = reader.Get(0, &element);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&text, &element, 0, VT_BSTR);
        if (FAILED(hr)) return RaiseFIError(hr, "Could not convert argument to a string");
        script = nuv::bstr_to_utf8(text.bstrVal);
        if (reader.Extent(0) > 1) {
            CComVariant second;
            CComVariant flag;
            hr = reader.Get(1, &second);
            if (SUCCEEDED(hr)) hr = VariantChangeType(&flag, &second, 0, VT_BOOL);
            if (FAILED(hr)) return RaiseFIError(hr, "Could not convert second argument to a boolean");
            collect = flag.boolVal != VARIANT_FALSE;
        }
    }

    // Nothing can run without the simulation: that is a failure, not a script that did nothing.
    CComPtr<INUVSimulation2> owner = HeldOwner();
    if (!owner) return RaiseFIError(E_FAIL, kNoSimulation);
    CComPtr<IServiceProvider> provider;
    if (FAILED(owner->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))) || !provider)
        return RaiseFIError(E_NOINTERFACE, "The simulation offers no script service");
    CComPtr<IEBScriptService> service;
    HRESULT hr = provider->QueryService(IID_IEBScriptService, IID_IEBScriptService,
                                       reinterpret_cast<void**>(&service));
    if (FAILED(hr)) return hr;
    if (!service) return E_NOINTERFACE;

    bool registered = false;
    if (collect) {
        {
            std::lock_guard lock(subscribeLock_);
            registered = !subscribed_;
        }
        if (registered) registered = SUCCEEDED(RegisterMessageDocument(this));
        std::lock_guard lock(collectLock_);
        collecting_ = true;
        collected_.Clear();
    }
    CComBSTR command(script.c_str());
    hr = service->Execute(command);
    if (collect) {
        FIValue output;
        {
            std::lock_guard lock(collectLock_);
            collecting_ = false;
            output = std::move(collected_);
            collected_.Clear();
        }
        if (result != nullptr) {
            VariantClear(result);
            if (output.IsEmpty() || output.Length() == 0) {
                result->vt = VT_NULL;
            } else {
                const char* text = output.GetString();
                const int n = static_cast<int>(output.Length());
                const int wide = MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
                BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(wide > 0 ? wide : 0));
                if (bstr != nullptr && wide > 0) MultiByteToWideChar(CP_ACP, 0, text, n, bstr, wide);
                if (bstr == nullptr) {
                    result->vt = VT_NULL;
                    if (SUCCEEDED(hr)) hr = E_OUTOFMEMORY;
                } else {
                    result->vt = VT_BSTR;
                    result->bstrVal = bstr;
                }
            }
        }
    }
    if (registered) UnregisterMessageDocument(this);
    return hr;
}

// ---- Monikers ----

namespace {

// The block without a name that a moniker segment "#" and its decimal 0-based position (as the block
// list names it) gives, null when the segment is no such name or the block there has a name.
ZEQEOBlock* UnnamedBlockAt(ZEQEOCntr* container, const char* segment) {
    const int32_t position = BlockPositionOfName(segment);
    if (position < 0 || position >= container->GetBlockCount()) return nullptr;
    ZEQEOBlock* block = container->GetBlock(position + 1);
    return block != nullptr && !IsBlockNamePrefix(container->GetBlockPrefix(block)) ? block : nullptr;
}

}  // namespace

HRESULT FIVORNDocument::ResolveMoniker(const char* moniker, FIValue& path) {
    if (moniker == nullptr || *moniker == '\0') {
        path.Clear();
        return RaiseFIError(E_FAIL, "Empty moniker");
    }
    const nuv::SimulationUse use = UseEngineSimulation();
    ZEQEOSimulation* sim = use.get();
    ZEQEOCntr* flowsheet = sim != nullptr ? sim->GetFlowsheet() : nullptr;
    // The path is written into the buffer `path` already has, when it has one; it holds what was built
    // whether or not the moniker resolves.
    PathWriter built(path);
    built.Add("Top.appModel.Blocks");
    if (flowsheet == nullptr) return RaiseFIError(E_FAIL, "Unable to resolve moniker");

    ZEQEOCntr* container = flowsheet;
    // The candidate block name: one segment, or several joined while no block is found (the container
    // may know a block by its full name).
    char name[kMaxMonikerName + 2];
    size_t size = 0;
    bool found = false;
    bool endedOnBlock = false;
    // Set when every block on the way was named by its own prefix: the tree then holds the path's block
    // steps as built, and only its last step needs checking.
    bool named = true;
    ZEQEOCntr* owner = nullptr;
    ZEQEOBlock* reached = nullptr;
    // The facts of `reached` when the one lookup below found it (and the walk went no further).
    const BlockFacts* reachedFacts = nullptr;
    const char* reachedPrefix = nullptr;
    size_t reachedPrefixLength = 0;
    bool overlong = false;
    const char* p = moniker;

    // A block found in `container`, known there by `known`: the path names it so, and goes on into its
    // own container while the moniker goes on and it has one. False when the walk ends on it. `facts`
    // are the block's when they were read already.
    const auto reach = [&](ZEQEOBlock* block, const char* known, size_t knownLength, const BlockFacts* facts) {
        named = named && knownLength > 0;
        owner = container;
        reached = block;
        reachedFacts = facts;
        reachedPrefix = known;
        reachedPrefixLength = knownLength;
        built.Add(".");
        if (knownLength > 0) {
            built.AddName(known, knownLength);
        } else {
            built.AddName(name, size);
        }
        size = 0;
        found = true;
        endedOnBlock = true;
        if (*p == '\0') return false;
        ZEQEOCntr* sub = facts != nullptr ? facts->sub : block->GetSubContainer(container);
        if (sub == nullptr) return false;
        built.Add(".Blocks");
        container = sub;
        return true;
    };

    bool more = true;
    // When the names before the last one are blocks, each inside the one before, the flowsheet finds the
    // innermost by all of them in one lookup, where the walk below asks each container in turn. A block's
    // prefix is the prefix of the block around it, a dot and its own name: the innermost's prefix, read up
    // to each dot, names the blocks on the way as the walk would. Anything else (a name on the way that is
    // no block, a prefix of another shape) is left to the walk, from the start.
    BlockFacts innermostFacts;
    const char* lastDot = std::strrchr(moniker, '.');
    const size_t blocksLength = lastDot != nullptr ? static_cast<size_t>(lastDot - moniker) : 0;
    const char* firstDot = std::strchr(moniker, '.');
    // Every name on the way must be a name: an empty one stands for a block without a name, which the
    // tree lists by its position instead.
    if (firstDot != lastDot && lastDot[1] != '\0' && blocksLength <= kMaxMonikerName && moniker[0] != '.' &&
        std::search_n(moniker, lastDot, 2, '.') == lastDot) {
        std::memcpy(name, moniker, blocksLength);
        name[blocksLength] = '\0';
        const unsigned generation = flowsheet->GetStructureGeneration();
        ZEQEOBlock* innermost = flowsheet->FindBlock(name);
        if (innermost != nullptr) innermostFacts = FactsOfBlock(factsReader_, flowsheet, innermost, generation);
        const char* known = innermostFacts.prefix;
        if (known != nullptr && innermostFacts.prefixLength == blocksLength &&
            strncasecmp(known, name, blocksLength) == 0) {
            for (const char* dot = std::strchr(known, '.'); dot != nullptr; dot = std::strchr(dot + 1, '.')) {
                built.Add(".");
                built.AddName(known, static_cast<size_t>(dot - known));
                built.Add(".Blocks");
            }
            container = innermostFacts.listing;
            p = lastDot + 1;
            more = reach(innermost, known, blocksLength, &innermostFacts);
        }
    }
    while (more && *p != '\0') {
        const char* dot = std::strchr(p, '.');
        const size_t length = dot != nullptr ? static_cast<size_t>(dot - p) : std::strlen(p);
        const char* segment = p;
        p += length;
        if (*p == '.') ++p;
        // A candidate longer than any block name can be is no block; nothing more can be found.
        if (size + length > kMaxMonikerName) {
            endedOnBlock = false;
            overlong = true;
            break;
        }
        std::memcpy(name + size, segment, length);
        size += length;
        name[size] = '\0';
        // A dotted candidate is one whose first step is no block here: the container finds it only as
        // a full name under its own prefix, which names one of its own blocks, as its index would.
        ZEQEOBlock* block = container->FindBlock(name);
        // The block found has a name of its own (the candidate's last step) unless that step is empty.
        bool ownName = size > 0 && name[size - 1] != '.';
        if (block == nullptr && size == length && name[0] == '#') {
            block = UnnamedBlockAt(container, name);
            ownName = false;
        }
        if (block == nullptr) {
            name[size++] = '.';
            endedOnBlock = false;
            continue;
        }
        // The path names the block as the tree does: by the name its container knows it by, or for a
        // block without a name by the position name the moniker gave.
        const char* known = container->GetBlockPrefix(block);
        more = reach(block, known, ownName && known != nullptr ? std::strlen(known) : 0, nullptr);
    }
    if (!found || (*p == '\0' && !endedOnBlock)) return RaiseFIError(E_FAIL, "Unable to resolve moniker");
    const size_t restLength = std::strlen(p);
    if (restLength > 0) {
        built.Add(".Variables.");
        built.AddName(p, restLength);
    }
    if (named && !overlong && reached != nullptr) {
        // The block the path ends on, or the variable of the plain block it reached, as the block's
        // variable list finds it (by the block's prefix and the variable's name below it): without
        // walking the tree again from the top.
        if (restLength == 0) return S_OK;
        // That full name, in the candidate's buffer while it fits. When the one lookup found the block,
        // its prefix is the moniker up to the variable's name but for case, which names do not heed:
        // the moniker is that name.
        std::string spill;
        const char* full = moniker;
        if (reachedFacts == nullptr) {
            char* written = name;
            const size_t fullLength = reachedPrefixLength + 1 + restLength;
            if (fullLength >= sizeof name) {
                spill.resize(fullLength + 1);
                written = spill.data();
            }
            std::memcpy(written, reachedPrefix, reachedPrefixLength);
            written[reachedPrefixLength] = '.';
            std::memcpy(written + reachedPrefixLength + 1, p, restLength + 1);
            full = written;
        }
        const int32_t index = owner->FindIndex(full) - 1;
        const int32_t firstIndex = reachedFacts != nullptr ? reachedFacts->first : reached->GetFirstIndex();
        const int32_t count = reachedFacts != nullptr ? reachedFacts->count : reached->GetCount();
        const int32_t first = std::max(firstIndex - 1, 0);
        const int32_t end = first + std::max(count, 0);
        if (index >= first && index < end) return S_OK;
        return RaiseFIError(E_FAIL, "Unable to resolve moniker");
    }
    built.Finish();
    const char* rest = nullptr;
    EntryHandle entry = ResolvePath(path.GetString(), &rest);
    if (entry.IsNull() || (rest != nullptr && *rest != '\0')) return RaiseFIError(E_FAIL, "Unable to resolve moniker");
    return S_OK;
}

// ---- Notifications ----

void FIVORNDocument::PostEvent(int32_t kind, const char* message) {
    FIDocumentNotify record;
    record.kind = kind;
    switch (kind) {
        case FIDocumentNotify::GeneralError:
        case FIDocumentNotify::RunFailed:
        case FIDocumentNotify::ActionFailed: record.severity = FIDocumentNotify::Error; break;
        case FIDocumentNotify::GeneralWarning: record.severity = FIDocumentNotify::Warning; break;
        default: record.severity = FIDocumentNotify::Information; break;
    }
    record.message.SetString(message != nullptr ? message : "");
    record.position1 = -1;
    record.position2 = -1;
    FIDocumentNotifyList records;
    records.push_back(std::move(record));
    // An engine thread may get here while the last holder lets go: a document already on its way
    // out is not revived (delivery counts the document while it calls the subscribers).
    if (!TryAddRef()) return;
    Notify(records);
    Release();
}

void FIVORNDocument::NotifyRunStarted() { PostEvent(FIDocumentNotify::RunStarted); }

void FIVORNDocument::NotifyRunFinished(int32_t status) {
    switch (status) {
        case 0: PostEvent(FIDocumentNotify::RunCompleted); break;
        case 1: PostEvent(FIDocumentNotify::RunFailed, "Failed to converge"); break;
        case 2:
        case 3: PostEvent(FIDocumentNotify::RunCompleted, "Problem empty"); break;
        case 4: PostEvent(FIDocumentNotify::RunFailed, "Error in objective function"); break;
        case 5: PostEvent(FIDocumentNotify::RunFailed, "No solver selected"); break;
        default: PostEvent(FIDocumentNotify::RunFailed); break;
    }
}

void FIVORNDocument::OnMessageLine(const char* line) {
    // Lines are handed over on the thread that writes them: one that another simulation's engine wrote
    // is not this document's. Output of no simulation reaches every document.
    ZEQEOSimulation* origin = rtowrite_origin();
    if (origin != nullptr && origin != GetEngineSimulation()) return;
    {
        std::lock_guard lock(collectLock_);
        if (collecting_) {
            if (collected_.Length() > 0) collected_.AppendChar('\n');
            collected_.Append(line != nullptr ? line : "");
            return;
        }
    }
    PostEvent(FIDocumentNotify::GeneralInformation, line);
}

}  // namespace FI
