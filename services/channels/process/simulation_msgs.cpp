#include "simulation_msgs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <thread>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "nuv_callback_scope.h"
#include "nuv_static_mutex.h"
#include "nuv_text.h"

namespace {

// Engine copies of our pipe record may outlive the object they name (the engine keeps them as long as
// it likes), so a callback first makes sure its owner is alive and holds the owner's gate open while
// it works; the object's teardown closes the gate and waits for callbacks on other threads to leave.
// Objects may go during process exit, after static destructors have run, so the gate's lock has no
// destructor and its table lives on the heap only while some owner is known.
constinit nuv::StaticMutex g_gate_mutex;

class OwnerGate {
public:
    static void Open(const void* owner) {
        std::lock_guard lock(g_gate_mutex);
        if (!s_gate) s_gate = new OwnerGate;
        s_gate->m_owners[owner].live = true;
    }
    // The owner's live flag, which stays in place until the matching Leave; null when it is not live.
    static const std::atomic<bool>* Enter(const void* owner) {
        std::lock_guard lock(g_gate_mutex);
        Owner* o = Find(owner);
        if (!o || !o->live) return nullptr;
        ++o->calls;
        if (auto mine = o->Mine(); mine != o->by_thread.end())
            ++mine->second;
        else
            o->by_thread.emplace_back(std::this_thread::get_id(), 1);
        return &o->live;
    }
    static void Leave(const void* owner) {
        std::lock_guard lock(g_gate_mutex);
        Owner* o = Find(owner);
        auto mine = o->Mine();
        if (--mine->second == 0) {
            *mine = o->by_thread.back();
            o->by_thread.pop_back();
        }
        --o->calls;
        if (o->closing) s_gate->m_left.notify_all();
        if (o->calls == 0 && !o->live && !o->closing) Forget(owner);
    }
    // Callbacks on this thread's own stack (the object released from inside one of its own sinks) are
    // not waited for: they see the gate closed and return without touching the object.
    static void Close(const void* owner) {
        std::unique_lock lock(g_gate_mutex);
        Owner* o = Find(owner);
        if (!o) return;
        o->live = false;
        o->closing = true;
        auto own = o->Mine();
        const int mine = own == o->by_thread.end() ? 0 : own->second;
        s_gate->m_left.wait(lock, [&] { return o->calls == mine; });
        o->closing = false;
        if (mine == 0) Forget(owner);
    }

private:
    struct Owner {
        std::atomic<bool> live{false};  // written under the gate's lock, read by callbacks without it
        bool closing = false;  // Close is waiting: the entry stays until it is done
        int calls = 0;
        using Calls = std::vector<std::pair<std::thread::id, int>>;
        Calls by_thread;  // calls in progress per thread (a few threads)
        Calls::iterator Mine() {
            const std::thread::id me = std::this_thread::get_id();
            return std::find_if(by_thread.begin(), by_thread.end(), [&](const auto& entry) { return entry.first == me; });
        }
    };
    static Owner* Find(const void* owner) {
        if (!s_gate) return nullptr;
        auto it = s_gate->m_owners.find(owner);
        return it == s_gate->m_owners.end() ? nullptr : &it->second;
    }
    static void Forget(const void* owner) {
        s_gate->m_owners.erase(owner);
        if (s_gate->m_owners.empty()) delete std::exchange(s_gate, nullptr);
    }
    std::condition_variable_any m_left;
    std::map<const void*, Owner> m_owners;
    static constinit inline OwnerGate* s_gate = nullptr;
};

class OwnerCall {
public:
    explicit OwnerCall(const rtopipe* pipe)
        : m_owner(pipe ? static_cast<CoNUVSimulationMsgs*>(pipe->owner) : nullptr),
          m_live(m_owner ? OwnerGate::Enter(m_owner) : nullptr) {}
    ~OwnerCall() {
        if (m_live) OwnerGate::Leave(m_owner);
    }
    OwnerCall(const OwnerCall&) = delete;
    OwnerCall& operator=(const OwnerCall&) = delete;
    CoNUVSimulationMsgs* get() const { return m_live ? m_owner : nullptr; }
    // Whether the owner is still there, for as long as this call lasts.
    const std::atomic<bool>& live() const { return *m_live; }

private:
    CoNUVSimulationMsgs* m_owner;
    const std::atomic<bool>* m_live;
};

int PipeWrite(rtopipe* pipe, const char* bytes, int count) {
    OwnerCall call(pipe);
    if (!call.get()) return -1;
    call.get()->TakeBytes(bytes, count, call.live());
    return 1;
}

int PipeFlush(rtopipe* pipe) {
    OwnerCall call(pipe);
    if (!call.get()) return -1;
    call.get()->FlushLine(call.live());
    return 1;
}

int PipeClose(rtopipe* pipe) {
    OwnerCall call(pipe);
    if (!call.get()) return -1;
    call.get()->ClosePipe(pipe);
    return 1;
}

const char* PipeName(rtopipe*) { return "NUVSimulationMsgs"; }

// Guards the engine's pipe variables and our records while we change them.
constinit nuv::StaticMutex g_install_mutex;

// The engine's own (static) pipes found in place before we first replaced them; they come back when the
// message object goes, so that the engine never writes through a record naming a dead object.
struct SavedPipes {
    rtopipe* out = nullptr;
    rtopipe* history = nullptr;
    rtopipe* report = nullptr;
};
constinit SavedPipes g_saved;

bool IsMessagePipe(const rtopipe* pipe) { return pipe && pipe->write == PipeWrite; }

void Remember(rtopipe* current, rtopipe*& slot) {
    if (current && !IsMessagePipe(current) && !(current->flags & RTOPIPE_ENGINE_COPY)) slot = current;
}

constexpr LCID kUserDefaultLocale = 1024;

}  // namespace

namespace nuv {

IDispatch* SinkCalls::Reach(IUnknown* sink) {
    for (const auto& [known, dispatch] : m_reached)
        if (known == sink) return dispatch;
    IStream* stream = nullptr;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, sink, &stream))) return nullptr;
    IDispatch* dispatch = nullptr;
    if (FAILED(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
        return nullptr;
    CComPtr<IDispatch> held;
    held.Attach(dispatch);
    m_reached.emplace_back(CComPtr<IUnknown>(sink), std::move(held));
    return dispatch;
}

const std::vector<IDispatch*>& SinkCalls::Take(const std::vector<CComPtr<IUnknown>>& sinks) {
    // Sinks gone from the connection point since the last snapshot are let go.
    std::erase_if(m_reached, [&](const auto& entry) {
        return std::find(sinks.begin(), sinks.end(), entry.first) == sinks.end();
    });
    m_dispatch.clear();
    for (const CComPtr<IUnknown>& sink : sinks) {
        // A sink that cannot be reached misses the events; the sinks after it still get them.
        if (!sink) continue;
        if (IDispatch* dispatch = Reach(sink)) m_dispatch.push_back(dispatch);
    }
    return m_dispatch;
}

void FireToSinks(const std::vector<CComPtr<IUnknown>>& sinks, DISPID id, DISPPARAMS& params) {
    SinkCalls calls;
    for (IDispatch* dispatch : calls.Take(sinks))
        dispatch->Invoke(id, IID_NULL, kUserDefaultLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace nuv

CoNUVSimulationMsgs::CoNUVSimulationMsgs() { OwnerGate::Open(this); }

CoNUVSimulationMsgs::~CoNUVSimulationMsgs() {
    // FinalRelease did this for objects made through the shells.
    OwnerGate::Close(this);
}

void CoNUVSimulationMsgs::FinalRelease() {
    OwnerGate::Close(this);
    UninstallPipe();
}

HRESULT CoNUVSimulationMsgs::_InternalQueryInterface(REFIID riid, void** ppv) {
    HRESULT hr = ComMap::Query(this, riid, ppv);
    if (SUCCEEDED(hr) && (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_INUVSimulationMsgs ||
                          riid == IID_INUVSimulationMsgs2))
        InstallPipe();
    return hr;
}

bool CoNUVSimulationMsgs::IsOurPipe(const rtopipe* pipe) const {
    return IsMessagePipe(pipe) && pipe->owner == this;
}

// The engine holds copies of the record, so "already installed" means a copy naming this object; a
// pipe that is ours is left alone, which keeps a copy the engine is writing through from being freed
// under it.
void CoNUVSimulationMsgs::InstallPipe() {
    std::lock_guard lock(g_install_mutex);
    if (!m_pipe) {
        m_pipe = static_cast<rtopipe*>(std::malloc(sizeof(rtopipe)));
        if (!m_pipe) return;
        *m_pipe = rtopipe{PipeWrite, nullptr, PipeClose, PipeFlush, PipeName, this, 1, 0};
    }
    SavedPipes& saved = g_saved;
    if (rtopipe* old = rtostdout_current(); !IsOurPipe(old)) {
        Remember(old, saved.out);
        rtostdout_install(copyPipe(m_pipe));
        rtodestroy(old);
    }
    if (!IsOurPipe(rtHisDev)) {
        Remember(rtHisDev, saved.history);
        rtohis_set_hisDev(m_pipe);
    }
    if (!IsOurPipe(rtRepDev)) {
        Remember(rtRepDev, saved.report);
        rtorep_set_repDev(m_pipe);
    }
}

void CoNUVSimulationMsgs::UninstallPipe() {
    std::lock_guard lock(g_install_mutex);
    SavedPipes& saved = g_saved;
    if (rtopipe* old = rtostdout_current(); IsOurPipe(old)) {
        rtostdout_install(saved.out ? saved.out : nowherePipe);
        rtodestroy(old);
    }
    if (IsOurPipe(rtHisDev)) rtohis_set_hisDev(saved.history);
    if (IsOurPipe(rtRepDev)) rtorep_set_repDev(saved.report);
    std::free(std::exchange(m_pipe, nullptr));
}

void CoNUVSimulationMsgs::ClosePipe(const rtopipe* closing) {
    std::lock_guard lock(g_install_mutex);
    // The engine only ever holds copies; the record itself is never closed under us.
    if (closing != m_pipe) std::free(std::exchange(m_pipe, nullptr));
}

namespace {

// Widens text of ASCII characters other than zero into `out`; false (with `out` partly written) at the
// first zero byte or byte of 0x80 and above.
bool WidenAscii(const char* in, size_t n, OLECHAR* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(_mm_or_si128(bytes, _mm_cmpeq_epi8(bytes, zero))) != 0) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
#endif
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c == 0 || c >= 0x80) return false;
        out[i] = c;
    }
    return true;
}

// A line as a BSTR, without its zero bytes: ASCII widened directly, any other text through the UTF-8
// decoder. `scratch` holds the line while its zero bytes are taken out.
BSTR LineText(std::string_view line, std::string& scratch) {
    if (line.size() <= 0xFFFFFFF) {
        BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(line.size()));
        if (!text || WidenAscii(line.data(), line.size(), text)) return text;
        SysFreeString(text);
    }
    if (std::memchr(line.data(), 0, line.size())) {
        nuv::AssignWithoutZeros(scratch, line);
        line = scratch;
    }
    return nuv::bstr_from_utf8(line);
}

}  // namespace

// The lines of one write (or flush), delivered on the writer's thread: each to the receivers, then as
// OnNewLine to the sinks. The sinks are reached for the first line and kept for the next ones while no
// sink is advised or unadvised (one atomic read a line tells); a change is seen from the next line on.
class CoNUVSimulationMsgs::Delivery {
public:
    Delivery(CoNUVSimulationMsgs* owner, const std::atomic<bool>& live) : m_owner(owner), m_live(live) {}

    // False when the object went during the line: nothing of it may be touched any more.
    bool Line(std::string_view line) {
        nuv::CallbackScope callback;
        if (m_owner->m_receiverCount.load(std::memory_order_acquire) != 0) {
            nuv::AssignWithoutZeros(m_text, line);
            m_owner->DeliverToReceivers(m_text, m_held);
            if (!m_live.load(std::memory_order_acquire)) return false;
        }
        const std::vector<IDispatch*>& sinks = m_sinks.Current(static_cast<MsgsEventsPoint&>(*m_owner));
        if (sinks.empty()) return true;
        CComBSTR text;
        text.Attach(LineText(line, m_text));
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_BSTR;
        arg.bstrVal = text;
        DISPPARAMS params{&arg, nullptr, 1, 0};
        for (IDispatch* sink : sinks)
            sink->Invoke(1, IID_NULL, kUserDefaultLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        return m_live.load(std::memory_order_acquire);
    }

private:
    CoNUVSimulationMsgs* m_owner;
    const std::atomic<bool>& m_live;
    nuv::SinkCalls m_sinks;
    std::string m_text;  // the line without zero bytes, zero-terminated for the receivers
    std::vector<nuv::MessageLineReceiver*> m_held;
};

void CoNUVSimulationMsgs::TakeBytes(const char* bytes, int count, const std::atomic<bool>& live) {
    if (!bytes || count <= 0) return;
    std::string joined;
    std::string_view rest;
    {
        std::lock_guard lock(m_lineMutex);
        if (!m_line.Write(bytes, static_cast<size_t>(count), joined, rest)) return;
    }
    // The complete lines after the first are read where they are, in the caller's bytes.
    Delivery delivery(this, live);
    if (!joined.empty() && !delivery.Line(joined)) return;
    nuv::ForEachLine(rest, [&](std::string_view line) { return delivery.Line(line); });
}

void CoNUVSimulationMsgs::FlushLine(const std::atomic<bool>& live) {
    std::string line;
    bool pending;
    {
        std::lock_guard lock(m_lineMutex);
        pending = m_line.Flush(line);
    }
    if (!pending) return;
    Delivery delivery(this, live);
    delivery.Line(line);
}

// The receivers are called from a snapshot with a reference held and the receiver lock released: a
// receiver takes its own lock, and its subscribers may advise or unadvise documents (which registers or
// unregisters them here) from inside the call.
void CoNUVSimulationMsgs::DeliverToReceivers(const std::string& text, std::vector<nuv::MessageLineReceiver*>& held) {
    held.clear();
    uint64_t generation;
    {
        std::lock_guard lock(m_receiverMutex);
        generation = m_receiverGeneration.load(std::memory_order_relaxed);
        for (nuv::MessageLineReceiver* receiver : m_receivers)
            if (receiver->TryAddRef()) held.push_back(receiver);
    }
    for (nuv::MessageLineReceiver* receiver : held) {
        // One that an earlier receiver (or another thread) unregistered since the snapshot is skipped.
        bool registered = m_receiverGeneration.load(std::memory_order_acquire) == generation;
        if (!registered) {
            std::lock_guard lock(m_receiverMutex);
            registered = std::find(m_receivers.begin(), m_receivers.end(), receiver) != m_receivers.end();
        }
        if (registered) receiver->OnMessageLine(text.c_str());
        receiver->Release();
    }
}

void CoNUVSimulationMsgs::AddReceiver(nuv::MessageLineReceiver* receiver) {
    std::lock_guard lock(m_receiverMutex);
    m_receivers.push_back(receiver);
    m_receiverCount.store(m_receivers.size(), std::memory_order_release);
    m_receiverGeneration.fetch_add(1, std::memory_order_release);
}

void CoNUVSimulationMsgs::RemoveReceiver(nuv::MessageLineReceiver* receiver) {
    std::lock_guard lock(m_receiverMutex);
    auto it = std::find(m_receivers.begin(), m_receivers.end(), receiver);
    if (it == m_receivers.end()) return;
    m_receivers.erase(it);
    m_receiverCount.store(m_receivers.size(), std::memory_order_release);
    m_receiverGeneration.fetch_add(1, std::memory_order_release);
}

STDMETHODIMP CoNUVSimulationMsgs::get_GetLines(LONG, LONG, SAFEARRAY** out) {
    if (!out) return Refuse(E_POINTER);
    *out = nullptr;
    return Refuse(E_NOTIMPL);
}

STDMETHODIMP CoNUVSimulationMsgs::get_OutputFile(BSTR* out) {
    if (!out) return Refuse(E_POINTER);
    *out = nullptr;
    return Refuse(E_NOTIMPL);
}

namespace {

// A SAFEARRAY argument that lends the caller's array (the sinks receive it by value and do not keep it).
VARIANTARG ArrayArg(SAFEARRAY* array, VARTYPE fallback) {
    VARIANTARG arg;
    VariantInit(&arg);
    VARTYPE element = fallback;
    if (array && FAILED(SafeArrayGetVartype(array, &element))) element = fallback;
    arg.vt = static_cast<VARTYPE>(VT_ARRAY | element);
    arg.parray = array;
    return arg;
}

}  // namespace

// The event declares the names, the values and the time; the types have no place in it and stay out.
STDMETHODIMP CoNUVSimulationMsgs::UpdateProfiles(SAFEARRAY* names, SAFEARRAY* values, SAFEARRAY*, DOUBLE time) {
    VARIANTARG args[3];
    VariantInit(&args[0]);
    args[0].vt = VT_R8;
    args[0].dblVal = time;
    args[1] = ArrayArg(values, VT_VARIANT);
    args[2] = ArrayArg(names, VT_BSTR);
    DISPPARAMS params{args, nullptr, 3, 0};
    nuv::FireToSinks(MsgsEvents2Point::GetSinks(), 2, params);
    return S_OK;
}

STDMETHODIMP CoNUVSimulationMsgs::ResetSimulation() {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    nuv::FireToSinks(MsgsEvents2Point::GetSinks(), 3, params);
    return S_OK;
}
