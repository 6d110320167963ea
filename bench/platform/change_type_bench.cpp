// Text <-> number conversion through VariantChangeType against the C library on the same values.
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "baseline.h"

namespace {

struct Texts {
    std::vector<std::string> narrow;
    std::vector<BSTR> wide;
    Texts() {
        for (int i = 0; i < 10000; ++i) {
            narrow.push_back(std::to_string(i * 1.375) + (i % 3 ? "" : "e-2"));
            const std::string& s = narrow.back();
            std::u16string w(s.begin(), s.end());
            wide.push_back(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
        }
    }
    ~Texts() {
        for (BSTR b : wide) SysFreeString(b);
    }
};

Texts& texts() {
    static Texts t;
    return t;
}

double strtod_seconds() {
    static const double seconds = bench::best_seconds([] {
        double sum = 0;
        for (const auto& s : texts().narrow) sum += std::strtod(s.c_str(), nullptr);
        benchmark::DoNotOptimize(sum);
    });
    return seconds;
}

void TextToR8(benchmark::State& state) {
    bench::run_against(state, strtod_seconds(), [] {
        double sum = 0;
        VARIANT src, out;
        VariantInit(&src);
        VariantInit(&out);
        src.vt = VT_BSTR;
        for (BSTR b : texts().wide) {
            src.bstrVal = b;
            VariantChangeType(&out, &src, 0, VT_R8);
            sum += out.dblVal;
        }
        benchmark::DoNotOptimize(sum);
    });
}
BENCHMARK(TextToR8)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Formatting the same numbers with snprintf into a stack buffer.
double snprintf_seconds() {
    static const double seconds = bench::best_seconds([] {
        char buffer[32];
        for (int i = 0; i < 10000; ++i) {
            std::snprintf(buffer, sizeof buffer, "%.15G", i * 1.375);
            benchmark::DoNotOptimize(buffer);
        }
    });
    return seconds;
}

void R8ToText(benchmark::State& state) {
    bench::run_against(state, snprintf_seconds(), [] {
        VARIANT src, out;
        VariantInit(&src);
        VariantInit(&out);
        src.vt = VT_R8;
        for (int i = 0; i < 10000; ++i) {
            src.dblVal = i * 1.375;
            VariantChangeType(&out, &src, 0, VT_BSTR);
            VariantClear(&out);
        }
    });
}
BENCHMARK(R8ToText)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
