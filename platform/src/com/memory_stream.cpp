// A growable in-memory IStream (what CreateStreamOnHGlobal gives). Clones share the bytes and keep
// their own seek position.
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "builtin_classes.h"

namespace {

// Streams are limited to what a 32-bit Read or Write count can step through in a sensible time.
constexpr ULONGLONG kMaxSize = ULONGLONG{1} << 40;

struct Bytes {
    std::mutex mutex;
    std::vector<BYTE> data;
};

class MemoryStream final : public IStream {
public:
    explicit MemoryStream(std::shared_ptr<Bytes> bytes, ULONGLONG position = 0)
        : bytes_(std::move(bytes)), position_(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ISequentialStream) ||
            IsEqualGUID(riid, IID_IStream)) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(bytes_->mutex);
        const auto& data = bytes_->data;
        const ULONGLONG available = position_ < data.size() ? data.size() - position_ : 0;
        const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(cb, available));
        if (n) std::memcpy(pv, data.data() + position_, n);
        position_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(bytes_->mutex);
        auto& data = bytes_->data;
        const ULONGLONG end = position_ + cb;
        if (end > kMaxSize) return STG_E_MEDIUMFULL;
        try {
            if (end > data.size()) data.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (cb) std::memcpy(data.data() + position_, pv, cb);
        position_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        std::lock_guard lock(bytes_->mutex);
        LONGLONG base;
        switch (origin) {
            case STREAM_SEEK_SET: base = 0; break;
            case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
            case STREAM_SEEK_END: base = static_cast<LONGLONG>(bytes_->data.size()); break;
            default: return STG_E_INVALIDFUNCTION;
        }
        LONGLONG target = 0;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0 ||
            static_cast<ULONGLONG>(target) > kMaxSize)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<ULONGLONG>(target);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
        std::lock_guard lock(bytes_->mutex);
        try {
            bytes_->data.resize(static_cast<size_t>(size.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        if (!target) return STG_E_INVALIDPOINTER;
        // Take the bytes first: the target may be a clone sharing this stream's lock.
        std::vector<BYTE> chunk;
        {
            std::lock_guard lock(bytes_->mutex);
            const auto& data = bytes_->data;
            const ULONGLONG available = position_ < data.size() ? data.size() - position_ : 0;
            const ULONGLONG n = std::min(cb.QuadPart, available);
            chunk.assign(data.begin() + static_cast<std::ptrdiff_t>(position_),
                         data.begin() + static_cast<std::ptrdiff_t>(position_ + n));
            position_ += n;
        }
        ULONGLONG written = 0;
        HRESULT hr = S_OK;
        for (size_t at = 0; at < chunk.size() && SUCCEEDED(hr);) {
            const ULONG part = static_cast<ULONG>(std::min<size_t>(chunk.size() - at, 1u << 30));
            ULONG done = 0;
            hr = target->Write(chunk.data() + at, part, &done);
            written += done;
            at += part;
        }
        if (pcbRead) pcbRead->QuadPart = chunk.size();
        if (pcbWritten) pcbWritten->QuadPart = written;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        std::lock_guard lock(bytes_->mutex);
        stat->cbSize.QuadPart = bytes_->data.size();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        ULONGLONG position;
        {
            std::lock_guard lock(bytes_->mutex);
            position = position_;
        }
        *out = new (std::nothrow) MemoryStream(bytes_, position);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<Bytes> bytes_;
    ULONGLONG position_;  // guarded by bytes_->mutex
};

}  // namespace

namespace nuv::com {
HRESULT create_memory_stream(IStream** out) {
    *out = nullptr;
    auto bytes = std::make_shared<Bytes>();
    *out = new (std::nothrow) MemoryStream(std::move(bytes));
    return *out ? S_OK : E_OUTOFMEMORY;
}
}  // namespace nuv::com

extern "C" HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, LPSTREAM* ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    // There is no global-memory allocator here: only a fresh stream can be made.
    if (hGlobal) return E_INVALIDARG;
    return nuv::com::create_memory_stream(ppstm);
}
