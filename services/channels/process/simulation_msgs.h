// The process-wide message object: it stands in the engine's place as standard output, history and
// report pipe, cuts the bytes into lines and hands each line to the registered engine documents and,
// as OnNewLine, to its connection-point sinks.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "atl/nuvatlcom.h"
#include "error_table.h"
#include "line_cutter.h"
#include "live_count.h"
#include "message_receivers.h"
#include "nuvclasslib.h"
#include "zeq_pipe.h"

namespace nuv {
class SinkCalls;
}

class CoNUVSimulationMsgs;
using MsgsEvents2Point = IConnectionPointImpl<CoNUVSimulationMsgs, &DIID_DNUVSimulationMsgsEvents2>;
using MsgsEventsPoint = IConnectionPointImpl<CoNUVSimulationMsgs, &DIID_DNUVSimulationMsgsEvents>;

class CoNUVSimulationMsgs : public CComObjectRootEx<CComMultiThreadModel>,
                            public IConnectionPointContainerImpl<CoNUVSimulationMsgs, MsgsEvents2Point, MsgsEventsPoint>,
                            public MsgsEvents2Point,
                            public MsgsEventsPoint,
                            public IDispatchImpl<INUVSimulationMsgs2>,
                            public IProvideClassInfo2Impl<&CLSID_NUVSimulationMsgs, &DIID_DNUVSimulationMsgsEvents>,
                            public ISupportErrorInfoImpl<&IID_INUVSimulationMsgs>,
                            private nuv::LiveSingleton {
public:
    using ComMap = CComMap<ComEntry<INUVSimulationMsgs2>, ComEntry2<INUVSimulationMsgs, INUVSimulationMsgs2>,
                           ComEntry2<IDispatch, INUVSimulationMsgs2>, ComEntry<IConnectionPointContainer>,
                           ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
                           ComEntry<ISupportErrorInfo>, ComSelfEntry>;

    // Every interface that hands the object out as the message service installs the pipe.
    HRESULT _InternalQueryInterface(REFIID riid, void** ppv);
    void FinalRelease();

    // The line buffer and the output file are not kept: these members say so in the error information.
    STDMETHOD(put_BufferSize)(LONG) override { return Refuse(E_NOTIMPL); }
    STDMETHOD(get_BufferSize)(LONG* out) override { return Refuse(out ? E_NOTIMPL : E_POINTER); }
    STDMETHOD(get_LineCount)(LONG* out) override { return Refuse(out ? E_NOTIMPL : E_POINTER); }
    STDMETHOD(get_GetLines)(LONG, LONG, SAFEARRAY** out) override;
    STDMETHOD(ClearBuffer)() override { return Refuse(E_NOTIMPL); }
    STDMETHOD(put_OutputFile)(BSTR) override { return Refuse(E_NOTIMPL); }
    STDMETHOD(get_OutputFile)(BSTR* out) override;
    STDMETHOD(UpdateProfiles)(SAFEARRAY* names, SAFEARRAY* values, SAFEARRAY* types, DOUBLE time) override;
    STDMETHOD(ResetSimulation)() override;

    static constexpr const char* kErrorSource = "NUVSimulationMsgs";
    // A failure the platform's own code names, reported with that code's plain text.
    static HRESULT Refuse(HRESULT hr) { return ReportStandardError(kErrorSource, hr); }

    // Makes this object the engine's standard output, history and report pipe, unless it is already.
    void InstallPipe();
    void AddReceiver(nuv::MessageLineReceiver* receiver);
    void RemoveReceiver(nuv::MessageLineReceiver* receiver);

    // The pipe callbacks' work: bytes, and the end of a partial line. `live` stays readable for the whole
    // call and turns false when the object goes during it (released from inside a sink's callback).
    void TakeBytes(const char* bytes, int count, const std::atomic<bool>& live);
    void FlushLine(const std::atomic<bool>& live);
    void ClosePipe(const rtopipe* closing);

protected:
    CoNUVSimulationMsgs();
    ~CoNUVSimulationMsgs();

private:
    class Delivery;
    // The line in `text` to every registered receiver; `held` is room for the references it takes.
    void DeliverToReceivers(const std::string& text, std::vector<nuv::MessageLineReceiver*>& held);
    bool IsOurPipe(const rtopipe* pipe) const;
    void UninstallPipe();

    // Lock order: both locks below are leaves. Nothing is called while they are held: lines go to the
    // receivers (which take their own locks and may register or unregister receivers from there) and to
    // the sinks from snapshots, after the lock is released.
    rtopipe* m_pipe = nullptr;  // our record; the engine holds copies of it
    std::mutex m_lineMutex;
    nuv::LineCutter m_line;
    std::mutex m_receiverMutex;
    std::vector<nuv::MessageLineReceiver*> m_receivers;
    // Both changed under m_receiverMutex with m_receivers: a line finds there are no receivers, and a
    // delivery that nobody was registered or unregistered since its snapshot, without taking the lock.
    std::atomic<size_t> m_receiverCount{0};
    std::atomic<uint64_t> m_receiverGeneration{0};
};

namespace nuv {

// The sinks of a connection point as one thread fires a batch of events to them (the lines of one write):
// each reached through IDispatch (marshalled into a stream and taken back on this thread) once, and kept,
// with a reference, for the next firings while the point's sinks stay as they were. When a sink is
// advised or unadvised the sinks are taken again, the new ones reached and the ones gone let go.
class SinkCalls {
public:
    // The sinks advised now that could be reached, in the order they were advised.
    template <class Point>
    const std::vector<IDispatch*>& Current(Point& point) {
        if (!m_taken || point.SinksGeneration() != m_generation) {
            Take(point.GetSinks(&m_generation));
            m_taken = true;
        }
        return m_dispatch;
    }
    // Takes this snapshot of the sinks (letting go of the ones not in it) and answers them reached.
    const std::vector<IDispatch*>& Take(const std::vector<CComPtr<IUnknown>>& sinks);

private:
    IDispatch* Reach(IUnknown* sink);

    bool m_taken = false;
    uint64_t m_generation = 0;
    std::vector<std::pair<CComPtr<IUnknown>, CComPtr<IDispatch>>> m_reached;
    std::vector<IDispatch*> m_dispatch;  // owned by m_reached
};

// Fires one event to every sink of a connection point, through IDispatch::Invoke; a sink that cannot be
// reached misses it. The sinks are a counted snapshot taken up front, so a sink may advise, unadvise or
// release from its callback.
void FireToSinks(const std::vector<CComPtr<IUnknown>>& sinks, DISPID id, DISPPARAMS& params);

}  // namespace nuv
