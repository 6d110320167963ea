// Peak memory of the main job (nuvhost walking, solving and reporting a model) at 1,000,000 variables, per
// variable: the peak resident size of the job on the large model less that of the same job on a model of
// 100 variables, run in the same benchmark, divided by the difference in variables. The same for loading
// the model alone (nuvhost running an empty script), the part of the job's peak the engine's load sets.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "modelfile.h"
#include "scale.h"
#include "zeq_testing.h"

namespace {

struct JobRun {
    double seconds = 0;
    double peak_bytes = 0;
};

// Runs nuvhost on the generated model, its output discarded: the main job, or with `load_only` an empty
// script, so that the process loads the model and ends.
JobRun RunJob(int blocks, int vars_per_block, bool load_only = false) {
    const std::string base = "/tmp/nuv_main_job_bench_" + std::to_string(getpid()) + "_" + std::to_string(blocks);
    const std::string path = base + ".model", script = base + ".nuv";
    std::ofstream(path) << zeq::WriteModel(zeq::testing::GenerateModel(blocks, vars_per_block));
    if (load_only) std::ofstream{script};
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        // scripts/bench.sh names the folder of the programs it runs; the build's own nuvhost otherwise.
        const char* dir = std::getenv("NUV_BENCH_BIN");
        const std::string host = dir && *dir ? std::string(dir) + "/nuvhost" : std::string(NUVHOST_PATH);
        execl(host.c_str(), "nuvhost", path.c_str(), load_only ? script.c_str() : static_cast<char*>(nullptr),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    std::remove(path.c_str());
    if (load_only) std::remove(script.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
    return {took.count(), static_cast<double>(usage.ru_maxrss) * 1024.0};
}

void JobMemory(benchmark::State& state, bool load_only) {
    const int blocks = bench::Size(100000, 1000), per = 10;
    const double vars = static_cast<double>(blocks) * per, small_vars = 100;
    JobRun large, small;
    for (auto _ : state) {
        small = RunJob(10, per, load_only);
        large = RunJob(blocks, per, load_only);
    }
    state.counters["variables"] = vars;
    state.counters["ours_ns"] = large.seconds * 1e9;
    state.counters["baseline_ns"] = small.seconds * 1e9;
    state.counters["peak_mb"] = large.peak_bytes / 1e6;
    state.counters["baseline_peak_mb"] = small.peak_bytes / 1e6;
    state.counters["bytes_per_variable"] = (large.peak_bytes - small.peak_bytes) / (vars - small_vars);
}
void BM_MainJobMemory(benchmark::State& state) { JobMemory(state, false); }
BENCHMARK(BM_MainJobMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ModelLoadMemory(benchmark::State& state) { JobMemory(state, true); }
BENCHMARK(BM_ModelLoadMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
