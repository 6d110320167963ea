// The process-wide message object: it stands in the engine's place as standard output, history and
// report pipe, cuts the bytes into lines and hands each line to the registered engine documents and,
// as OnNewLine, to its connection-point sinks.
#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "atl/nuvatlcom.h"
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

    STDMETHOD(put_BufferSize)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_BufferSize)(LONG* out) override { return out ? E_NOTIMPL : E_POINTER; }
    STDMETHOD(get_LineCount)(LONG* out) override { return out ? E_NOTIMPL : E_POINTER; }
    STDMETHOD(get_GetLines)(LONG, LONG, SAFEARRAY** out) override;
    STDMETHOD(ClearBuffer)() override { return E_NOTIMPL; }
    STDMETHOD(put_OutputFile)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_OutputFile)(BSTR* out) override;
    STDMETHOD(UpdateProfiles)(SAFEARRAY* names, SAFEARRAY* values, SAFEARRAY* types, DOUBLE time) override;
    STDMETHOD(ResetSimulation)() override;

    // Makes this object the engine's standard output, history and report pipe, unless it is already.
    void InstallPipe();
    void AddReceiver(nuv::MessageLineReceiver* receiver);
    void RemoveReceiver(nuv::MessageLineReceiver* receiver);

    // The pipe callbacks' work: bytes, and the end of a partial line.
    void TakeBytes(const char* bytes, int count);
    void FlushLine();
    void ClosePipe(const rtopipe* closing);

protected:
    CoNUVSimulationMsgs();
    ~CoNUVSimulationMsgs();

private:
    // Receivers, then sinks. False when the object went away during delivery: the caller must not
    // touch it again.
    bool DeliverLine(const std::string& line, nuv::SinkCalls& calls);
    void DeliverToReceivers(const std::string& line);
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
};

namespace nuv {

// Sinks reached through IDispatch: each marshalled into a stream and taken back on this thread once, then
// kept for the firings of one batch (the lines of one write) while it stays advised.
class SinkCalls {
public:
    IDispatch* Reach(IUnknown* sink);
    // Lets go of the sinks not among `sinks`.
    void KeepOnly(const std::vector<CComPtr<IUnknown>>& sinks);

private:
    std::vector<std::pair<CComPtr<IUnknown>, CComPtr<IDispatch>>> m_reached;
};

// Fires one event to every sink of a connection point, through IDispatch::Invoke; a sink that cannot be
// reached misses it. The sinks are a snapshot taken up front, so a sink may advise, unadvise or release
// from its callback.
void FireToSinks(std::vector<CComPtr<IUnknown>> sinks, DISPID id, DISPPARAMS& params, SinkCalls* calls = nullptr);

}  // namespace nuv
