// In-process interface marshalling. The marshal data written to the stream is a token naming an
// entry of a process-wide table, never a raw pointer, so forged or replayed stream bytes cannot
// conjure an object: an unknown token fails with CO_E_OBJNOTCONNECTED. Normal marshal data is
// consumed by the first unmarshal; table marshal data stays until CoReleaseMarshalData.
#include <objbase.h>

#include <cstring>
#include <mutex>
#include <random>
#include <unordered_map>

#include "builtin_classes.h"

namespace {

constexpr char kMagic[4] = {'N', 'U', 'V', 'M'};

struct Record {
    char magic[4];
    DWORD flags;
    IID iid;
    ULONGLONG token;
};

struct Entry {
    IUnknown* object;  // one reference held for the marshal data
    DWORD flags;
};

// Never destroyed: marshal data may be released from other modules' static destructors.
struct Table {
    std::mutex mutex;
    std::unordered_map<ULONGLONG, Entry> entries;
};
Table& table() {
    static Table* t = new Table();
    return *t;
}

ULONGLONG new_token() {
    static std::mt19937_64 generator{std::random_device{}()};
    ULONGLONG token;
    do {
        token = generator();
    } while (token == 0 || table().entries.count(token));
    return token;
}

HRESULT read_record(IStream* stream, Record& record) {
    ULONG read = 0;
    if (HRESULT hr = stream->Read(&record, sizeof record, &read); FAILED(hr)) return hr;
    if (read != sizeof record || std::memcmp(record.magic, kMagic, sizeof kMagic) != 0) return E_INVALIDARG;
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT CoMarshalInterface(LPSTREAM pStm, REFIID riid, LPUNKNOWN pUnk, DWORD, LPVOID, DWORD mshlflags) {
    if (!pStm || !pUnk) return E_INVALIDARG;
    if (mshlflags > MSHLFLAGS_TABLEWEAK) return E_INVALIDARG;
    IUnknown* held = nullptr;
    if (HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(&held)); FAILED(hr)) return hr;
    if (!held) return E_NOINTERFACE;
    Record record{};
    std::memcpy(record.magic, kMagic, sizeof kMagic);
    record.flags = mshlflags;
    record.iid = riid;
    {
        std::lock_guard lock(table().mutex);
        record.token = new_token();
        table().entries.emplace(record.token, Entry{held, mshlflags});
    }
    ULONG written = 0;
    HRESULT hr = pStm->Write(&record, sizeof record, &written);
    if (SUCCEEDED(hr) && written != sizeof record) hr = STG_E_MEDIUMFULL;
    if (FAILED(hr)) {
        {
            std::lock_guard lock(table().mutex);
            table().entries.erase(record.token);
        }
        held->Release();
    }
    return hr;
}

HRESULT CoUnmarshalInterface(LPSTREAM pStm, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!pStm) return E_INVALIDARG;
    Record record;
    if (HRESULT hr = read_record(pStm, record); FAILED(hr)) return hr;
    IUnknown* object = nullptr;
    {
        std::lock_guard lock(table().mutex);
        auto it = table().entries.find(record.token);
        if (it == table().entries.end()) return CO_E_OBJNOTCONNECTED;
        object = it->second.object;
        if (it->second.flags == MSHLFLAGS_NORMAL) {
            table().entries.erase(it);  // normal marshal data is good for one unmarshal
        } else {
            object->AddRef();
        }
    }
    // GUID_NULL asks for the interface that was marshalled.
    const HRESULT hr = object->QueryInterface(IsEqualGUID(riid, GUID_NULL) ? record.iid : riid, ppv);
    object->Release();  // the marshal data's reference when consumed, else the one taken above
    return hr;
}

HRESULT CoReleaseMarshalData(LPSTREAM pStm) {
    if (!pStm) return E_INVALIDARG;
    Record record;
    if (HRESULT hr = read_record(pStm, record); FAILED(hr)) return hr;
    IUnknown* object = nullptr;
    {
        std::lock_guard lock(table().mutex);
        auto it = table().entries.find(record.token);
        if (it == table().entries.end()) return CO_E_OBJNOTCONNECTED;
        object = it->second.object;
        table().entries.erase(it);
    }
    object->Release();
    return S_OK;
}

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN pUnk, LPSTREAM* ppStm) {
    if (!ppStm) return E_INVALIDARG;
    *ppStm = nullptr;
    if (!pUnk) return E_INVALIDARG;
    IStream* stream = nullptr;
    if (HRESULT hr = nuv::com::create_memory_stream(&stream); FAILED(hr)) return hr;
    HRESULT hr = CoMarshalInterface(stream, riid, pUnk, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL);
    if (SUCCEEDED(hr)) {
        LARGE_INTEGER start{};
        hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    }
    if (FAILED(hr)) {
        stream->Release();
        return hr;
    }
    *ppStm = stream;
    return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM pStm, REFIID iid, LPVOID* ppv) {
    if (!pStm) {
        if (ppv) *ppv = nullptr;
        return E_INVALIDARG;
    }
    const HRESULT hr = CoUnmarshalInterface(pStm, iid, ppv);
    pStm->Release();
    return hr;
}

}  // extern "C"
