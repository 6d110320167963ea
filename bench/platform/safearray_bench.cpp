// Element get and put on a 100,000 x 10 VARIANT SAFEARRAY (the attribute matrix shape) against a
// plain copy of the same values between two arrays.
#include <oleauto.h>

#include <vector>

#include "baseline.h"

namespace {

constexpr LONG kRows = 100000;
constexpr LONG kCols = 10;

struct Matrix {
    SAFEARRAY* psa;
    Matrix() {
        SAFEARRAYBOUND bounds[2] = {{kRows, 0}, {kCols, 0}};
        psa = SafeArrayCreate(VT_VARIANT, 2, bounds);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        for (LONG c = 0; c < kCols; ++c)
            for (LONG r = 0; r < kRows; ++r) {
                LONG index[2] = {r, c};
                v.dblVal = r * 0.5 + c;
                SafeArrayPutElement(psa, index, &v);
            }
    }
    ~Matrix() { SafeArrayDestroy(psa); }
};

Matrix& matrix() {
    static Matrix m;
    return m;
}

// The same values, copied element by element from one plain array to another.
double plain_copy_seconds() {
    static const double seconds = [] {
        std::vector<double> from(static_cast<size_t>(kRows) * kCols), to(from.size());
        for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<double>(i) * 0.5;
        return bench::best_seconds([&] {
            for (size_t i = 0; i < from.size(); ++i) to[i] = from[i];
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        });
    }();
    return seconds;
}

void GetElement(benchmark::State& state) {
    SAFEARRAY* psa = matrix().psa;
    std::vector<double> out(static_cast<size_t>(kRows) * kCols);
    bench::run_against(state, plain_copy_seconds(), [&] {
        VARIANT v;
        for (LONG c = 0; c < kCols; ++c)
            for (LONG r = 0; r < kRows; ++r) {
                LONG index[2] = {r, c};
                SafeArrayGetElement(psa, index, &v);
                out[static_cast<size_t>(c) * kRows + r] = v.dblVal;
            }
        benchmark::DoNotOptimize(out.data());
    });
}
BENCHMARK(GetElement)->UseManualTime()->Unit(benchmark::kMillisecond);

void PutElement(benchmark::State& state) {
    SAFEARRAY* psa = matrix().psa;
    bench::run_against(state, plain_copy_seconds(), [&] {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        for (LONG c = 0; c < kCols; ++c)
            for (LONG r = 0; r < kRows; ++r) {
                LONG index[2] = {r, c};
                v.dblVal = r + c * 0.25;
                SafeArrayPutElement(psa, index, &v);
            }
    });
}
BENCHMARK(PutElement)->UseManualTime()->Unit(benchmark::kMillisecond);

// Direct access through SafeArrayAccessData, the fast path for whole-matrix reads.
void AccessDataRead(benchmark::State& state) {
    SAFEARRAY* psa = matrix().psa;
    std::vector<double> out(static_cast<size_t>(kRows) * kCols);
    bench::run_against(state, plain_copy_seconds(), [&] {
        VARIANT* data = nullptr;
        SafeArrayAccessData(psa, reinterpret_cast<void**>(&data));
        for (size_t i = 0; i < out.size(); ++i) out[i] = data[i].dblVal;
        SafeArrayUnaccessData(psa);
        benchmark::DoNotOptimize(out.data());
    });
}
BENCHMARK(AccessDataRead)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
