// Sizes for the benchmarks: the full ones, or small ones when NUV_BENCH_SMOKE is set (scripts/bench.sh
// --smoke, which CI runs so that every benchmark keeps building and running).
#pragma once
#include <cstdlib>

namespace bench {

inline bool Smoke() {
    const char* s = std::getenv("NUV_BENCH_SMOKE");
    return s && *s && *s != '0';
}

// `full`, or `small` in smoke mode.
template <class T>
T Size(T full, T small) {
    return Smoke() ? small : full;
}

}  // namespace bench
