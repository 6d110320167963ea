// The browsing document of one engine simulation: the root of the engine's browsing tree, the engine's
// own attribute names, the solver settings the solver nodes show, the run and script actions, moniker
// resolution, and the bridge from engine run events and output lines to the document's subscribers.
#pragma once
#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "simulation_use.h"
#include "atl/nuvatlbase.h"
#include "browse/document.h"
#include "browse/entry.h"
#include "browse/value.h"
#include "message_receivers.h"
#include "nuvclasslib.h"

class CoNUVSimulation;
class ZEQEOSimulation;

namespace FI {

// The engine's attribute ids, added to the standard dictionary by every engine document.
enum VORNAttributeId : uint32_t {
    kAttrActiveBound = 65025,
    kAttrInitial = 65026,
    kAttrMarked = 65027,
    kAttrModified = 65028,
    kAttrSbWeight = 65029,
    kAttrShadowPrice = 65030,
    kAttrIntScale = 65031,
    kAttrSolveScale = 65032,
    kAttrStep = 65033,
    kAttrChange = 65034,
    kAttrSpec = 65035,
    kAttrBoundType = 65036,
    kAttrQuality = 65037,
    kAttrStream = 65038,
    kAttrPhase = 65039,
    kAttrBasis = 65040,
    kAttrDirection = 65041,
    kAttrScale = 65042,
};

class FIVORNRunBridge;

class FIVORNDocument final : public FIDocumentBase_, public nuv::MessageLineReceiver {
public:
    // Holds a counted reference on the owner (which may be null) until ReleaseOwner or destruction.
    explicit FIVORNDocument(CoNUVSimulation* owner);

    ULONG AddRef() override;
    ULONG Release() override;
    FIValue GetFileName() override;
    FIValue GetAppName() override;
    FIValue GetAppVersion() override;
    bool GetDocumentFlag() override { return false; }
    bool GetNamedFlag(const char*) override { return false; }
    HRESULT GetCanonicalPath(const char* path, FIValue& out) override;
    EntryHandle GetRoot() override;
    void OnFirstSubscriber() override;
    void OnLastSubscriber() override;

    // Lets go of the owner when it is `owner`; from then on there is no engine simulation.
    void ReleaseOwner(CoNUVSimulation* owner);
    // The owner's engine simulation, null without owner.
    ZEQEOSimulation* GetEngineSimulation() const;
    // A use of that simulation (see simulation_use.h): its objects are used only while one is held.
    nuv::SimulationUse UseEngineSimulation() const;
    CoNUVSimulation* GetOwner() const;

    // The "status" attribute of the upper nodes: always empty.
    void GetStatus(FIValue& out);

    // Solver settings. A list is one text of items separated by single line feeds. Getters leave the
    // value unchanged when there is nothing to report; setters report a refusal through `error`.
    void GetRunMode(FIValue& out);
    void GetRunModeList(FIValue& out);
    void SetRunMode(const FIValue& value, FIError& error);
    void GetEnvironment(FIValue& out);
    void GetEnvironmentList(FIValue& out);
    void SetEnvironment(const FIValue& value, FIError& error);
    void GetObjective(FIValue& out);
    void GetObjectiveList(FIValue& out);
    void SetObjective(const FIValue& value, FIError& error);
    void GetSolverScope(FIValue& out);
    void GetSolverScopeList(FIValue& out);
    void SetSolverScope(const FIValue& value, FIError& error);

    // Solves the simulation through the owner.
    HRESULT Run();
    // The appModel node's "RunScript": inputs are the script text and an optional collect-output flag.
    HRESULT RunScriptAction(SAFEARRAY* inputs, VARIANT* result);

    // Resolves "block[.block...][.variable]" into a full browsing path (kept in `path` on failure too).
    HRESULT ResolveMoniker(const char* moniker, FIValue& path);

    // Engine events and output lines, turned into notifications for the subscribers.
    void NotifyRunStarted();
    void NotifyRunFinished(int32_t status);
    void OnMessageLine(const char* line) override;
    // AddRef unless the count already reached 0 (the document is going away).
    bool TryAddRef() override;
    void PostEvent(int32_t kind, const char* message = nullptr);

    // True while registered for engine output lines.
    bool IsSubscribed() const;

    // The process-wide empty node handed out past the end of every engine cursor.
    static const EntryHandle& GetEmptyNode();

private:
    ~FIVORNDocument() override;
    // A counted reference on the owner, null without one.
    CComPtr<INUVSimulation2> HeldOwner() const;
    // Unregisters from the engine run events, when registered.
    void StopRunEvents();
    friend class FIVORNRunBridge;

    std::atomic<uint32_t> refCount_{0};
    mutable std::mutex ownerLock_;
    CoNUVSimulation* owner_ = nullptr;
    // Keeps this document's block facts apart from other documents' on a thread (see block_facts.h).
    const uint64_t factsReader_;
    EntryHandle root_;
    mutable std::mutex subscribeLock_;
    bool subscribed_ = false;
    std::shared_ptr<FIVORNRunBridge> runBridge_;
    CoNUVSimulation* runOwner_ = nullptr;  // the wrapper the bridge is registered for
    std::mutex collectLock_;
    bool collecting_ = false;
    FIValue collected_;
};

// The engine document behind a browsing document, null when it is another kind.
FIVORNDocument* AsVORNDocument(FIDocument* document);

// Installs the engine document into the simulation wrapper (done once when the library loads; tests
// may call it again).
void InstallVORNDocument();

}  // namespace FI
