// Client and file input other than model files: the first line is a query for the variables of a small
// plant, the second a dynamic task description, the rest a variable file read into the plant.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "model.h"
#include "modelfile.h"
#include <objbase.h>

namespace {
const zeq::ModelDef& PlantDef() {
    static const zeq::ModelDef def = [] {
        zeq::ModelDef d;
        std::string text = "library STANDARD\nblock FEED FEED\nend\nblock MIX MIXER\nend\n"
                           "tag T1 FEED.F\nsolver MAIN\n int MAXITER 5\nend\n", error;
        if (!zeq::ParseModel(text, d, error)) std::abort();
        return d;
    }();
    return def;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t nl1 = text.find('\n');
    std::string query = text.substr(0, nl1);
    std::string rest = nl1 == std::string::npos ? std::string() : text.substr(nl1 + 1);
    size_t nl2 = rest.find('\n');
    std::string tasks = rest.substr(0, nl2);
    std::string file = nl2 == std::string::npos ? std::string() : rest.substr(nl2 + 1);

    zeq::Simulation sim;
    sim.Build(PlantDef());
    IZEQQueryEngine* q = ZEQQueryFactory::NewVariableQuery(sim.GetFlowsheet(), nullptr);
    if (q->AddQuery(query.c_str())) q->Apply();
    for (int r = 0; r < q->GetRowCount(); ++r)
        if (q->GetRow(r) < 1 || q->GetRow(r) > sim.GetFlowsheet()->GetCount()) std::abort();
    q->Destroy();

    auto* tm = dynamic_cast<IZEQTaskManager*>(sim.GetDynamicSolver(""));
    char* error = nullptr;
    if (tm->AddTasks(tasks.c_str(), &error) < 0 && !error) std::abort();
    CoTaskMemFree(error);

    FILE* f = fmemopen(file.data(), file.size(), "r");
    if (!f) return 0;
    rtopipe* pipe = create_ascii_stream_rtopipe(f, "fuzz", 1);
    RTVarFileIO* io = sim.GetFlowsheet()->CreateVarFileImporter(pipe, "OLD", "FEED");
    rtopipe* out = stdoutPipe;
    stdoutPipe = nowherePipe;
    io->Run();
    stdoutPipe = out;
    delete io;
    rtodestroy(pipe);
    return 0;
}
