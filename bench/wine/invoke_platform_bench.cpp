// A late-bound property read (INUVVariable5.Value) through ITypeInfo::Invoke: our type information
// (built over the generated descriptors) against the platform's oleaut32 (over the widl-compiled library
// embedded in this program), on the same object. Both are timed in alternating batches in one run; the
// figure is ours over the platform's per call.
#include <chrono>
#include <cstdio>
#include <string>

#include "dispatch_stubs.h"
#include "nuvclasslib.h"

extern "C" HRESULT NuvCreateTypeLib(const nuv::typelib::LibraryDesc* desc, ITypeLib** pptlib);

namespace {

class Variable : public CComObjectRootEx<CComMultiThreadModel>, public NUVVariable5Stubs {
public:
    using ComMap = CComMap<ComEntry<INUVVariable5>, ComEntry2<IDispatch, INUVVariable5>>;
    STDMETHOD(get_Value)(DOUBLE* v) override {
        *v = value;
        return S_OK;
    }
    double value = 273.15;
};

double Read(ITypeInfo* ti, INUVVariable5* object) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(ti->Invoke(object, 0x60030001, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)) ||
        result.vt != VT_R8)
        return -1;
    return result.dblVal;
}

ITypeInfo* PlatformTypeInfo() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) return nullptr;
    ITypeInfo* ti = nullptr;
    lib->GetTypeInfoOfGuid(IID_INUVVariable5, &ti);
    lib->Release();
    return ti;
}

ITypeInfo* OurTypeInfo() {
    ITypeLib* lib = nullptr;
    if (FAILED(NuvCreateTypeLib(&NUVClassLib380_Descriptor(), &lib))) return nullptr;
    ITypeInfo* ti = nullptr;
    lib->GetTypeInfoOfGuid(IID_INUVVariable5, &ti);
    lib->Release();
    return ti;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CComObject<Variable>* impl = nullptr;
    CComObject<Variable>::CreateInstance(&impl);
    CComPtr<INUVVariable5> object;
    impl->QueryInterface(IID_INUVVariable5, reinterpret_cast<void**>(&object));
    CComPtr<ITypeInfo> platform, ours;
    platform.Attach(PlatformTypeInfo());
    ours.Attach(OurTypeInfo());
    if (!platform || !ours || Read(platform, object) != impl->value || Read(ours, object) != impl->value) {
        std::fprintf(stderr, "invoke_platform_bench: the property read does not work through both\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    constexpr int kBatch = 2000, kRounds = 200;
    Clock::duration ours_time{}, platform_time{};
    volatile double sink = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) sink = sink + Read(ours, object);
        const auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) sink = sink + Read(platform, object);
        const auto t2 = Clock::now();
        ours_time += t1 - t0;
        platform_time += t2 - t1;
    }
    const double calls = static_cast<double>(kBatch) * kRounds;
    std::printf("property read through ITypeInfo::Invoke, %.0f calls each\n", calls);
    std::printf("  ours      %8.1f ns/call\n", std::chrono::duration<double, std::nano>(ours_time).count() / calls);
    std::printf("  platform  %8.1f ns/call\n", std::chrono::duration<double, std::nano>(platform_time).count() / calls);
    std::printf("ratio ours/platform: %.2f\n", static_cast<double>(ours_time.count()) / static_cast<double>(platform_time.count()));
    CoUninitialize();
    return 0;
}
