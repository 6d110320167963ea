// Resident memory of a long-running client that keeps changing one simulation: the same 1,000-block
// model (20,000 variables) opened again and again, every block removed and added back, a hierarchy of
// every block renamed back and forth. What each change retires is freed once no call can reach it, so
// memory after 200 changes is read against memory after 20 of the same changes, in the same run
// (rss_200_vs_20: 1 when memory stays flat). Free memory goes back to the system before each reading, so
// that what one benchmark freed does not hide what the next one keeps; the heap's bytes in use are shown
// beside.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <malloc.h>
#include <unistd.h>

#include "modelfile.h"
#include "scale.h"
#include "zeq_testing.h"

namespace {

double ResidentBytes() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

int Blocks() { return bench::Size(1000, 100); }
constexpr int kVarsPerBlock = 20;

// Runs `change` 200 times on sim, reading resident memory after the 20th and the 200th.
void Churn(benchmark::State& state, zeq::Simulation& sim, const std::function<void(int)>& change) {
    const int total = bench::Size(200, 40), early = total / 10;
    double after_early = 0, after_all = 0, heap_early = 0, heap_all = 0;
    for (auto _ : state) {
        for (int i = 1; i <= total; ++i) {
            change(i);
            if (i == early) {
                heap_early = HeapBytes();
                after_early = ResidentBytes();
            }
        }
        heap_all = HeapBytes();
        after_all = ResidentBytes();
    }
    benchmark::DoNotOptimize(sim.GetFlowsheet()->GetCount());
    state.counters["rss_mb_after_" + std::to_string(early)] = after_early / 1e6;
    state.counters["rss_mb_after_" + std::to_string(total)] = after_all / 1e6;
    state.counters["heap_mb_after_" + std::to_string(early)] = heap_early / 1e6;
    state.counters["heap_mb_after_" + std::to_string(total)] = heap_all / 1e6;
    state.counters["rss_200_vs_20"] = after_all / after_early;
}

std::string WriteTempModel(const zeq::ModelDef& def, const char* what) {
    const std::string path = "/tmp/nuv_churn_bench_" + std::to_string(getpid()) + "_" + what + ".model";
    std::ofstream(path) << zeq::WriteModel(def);
    return path;
}

void BM_ReopenMemory(benchmark::State& state) {
    const std::string path = WriteTempModel(zeq::testing::GenerateModel(Blocks(), kVarsPerBlock), "reopen");
    zeq::Simulation sim;
    Churn(state, sim, [&](int) {
        if (sim.OpenSimulation(path.c_str()) != 0) std::abort();
    });
    std::remove(path.c_str());
}
BENCHMARK(BM_ReopenMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RemoveAddMemory(benchmark::State& state) {
    const zeq::ModelDef def = zeq::testing::GenerateModel(Blocks(), kVarsPerBlock);
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(def);
    const std::vector<zeq::BlockDef>& blocks = def.flowsheet.blocks;
    Churn(state, *sim, [&](int) {
        zeq::EngineCall call;
        if (sim->GetFlowsheet()->RemoveAllBlocks(0, true) != 0) std::abort();
        if (sim->AddBlockDefs(sim->Flowsheet(), blocks.data(), blocks.size()) != 0) std::abort();
    });
}
BENCHMARK(BM_RemoveAddMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Every block inside one hierarchy: renaming it gives every block a new full name.
void BM_RenameMemory(benchmark::State& state) {
    zeq::ModelDef def = zeq::testing::GenerateModel(Blocks(), kVarsPerBlock);
    zeq::BlockDef hierarchy;
    hierarchy.name = "SECTION";
    hierarchy.type = "HIERARCHY";
    hierarchy.aggregate = true;
    hierarchy.blocks = std::move(def.flowsheet.blocks);
    def.flowsheet.blocks.clear();
    def.flowsheet.blocks.push_back(std::move(hierarchy));
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(def);
    Churn(state, *sim, [&](int i) {
        const char* command = i % 2 ? "rename SECTION SECTION_RENAMED_WITH_A_LONG_NAME\n"
                                    : "rename SECTION_RENAMED_WITH_A_LONG_NAME SECTION\n";
        if (sim->ExecuteCommand(command) != 0) std::abort();
    });
}
BENCHMARK(BM_RenameMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
