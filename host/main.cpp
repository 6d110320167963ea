// nuvhost: owns an engine simulation, loads the system library as a host does and drives it as an
// automation client would.
//
//   nuvhost MODEL [SCRIPT]
//
// Without a script it runs the main job (walk, solve, show the changes).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "main_job.h"
#include "rezoraruz.h"
#include "script.h"
#include "zeq_host.h"

namespace {

using QueryCreateWrapperFn = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
using RegisterServicesFn = void (*)(ZEQEOSimulation*);

// The system library next to this program (or in ../lib), unless NUVCLASS_PATH names another.
std::string LibraryPath() {
    if (const char* env = std::getenv("NUVCLASS_PATH"); env && *env) return env;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    // Build trees put programs in bin/ and libraries in lib/ beside it.
    for (const char* relative : {"/libnuvclass.so", "/../lib/libnuvclass.so"})
        if (access((dir + relative).c_str(), R_OK) == 0) return dir + relative;
    return dir + "/libnuvclass.so";
}

struct SimulationDeleter {
    void operator()(ZEQEOSimulation* sim) const { zeq_destroy_simulation(sim); }
};

class Library {
public:
    explicit Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_) dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }
    template <class Fn>
    Fn Symbol(const char* name) const {
        return reinterpret_cast<Fn>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

int Usage() {
    std::cerr << "usage: nuvhost MODEL [SCRIPT]\n"
                 "  Loads MODEL into the engine and runs SCRIPT through the automation interfaces;\n"
                 "  without SCRIPT it walks the flowsheet, solves it and shows what changed.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return Usage();
    const std::string model = argv[1];
    char error[512] = {};
    const std::string path = LibraryPath();
    Library library(path);
    if (!library) {
        std::cerr << "nuvhost: cannot load the system library " << path << ": " << dlerror() << "\n";
        return 1;
    }
    auto query = library.Symbol<QueryCreateWrapperFn>("NUVClassFactory_QueryCreateWrapper");
    auto reg = library.Symbol<RegisterServicesFn>("NUVClassFactory_RegisterSimulationServices");
    auto var_fn = library.Symbol<NUVCreateVarWrapperFn>("NUVClassFactory_QueryCreateVarWrapper");
    auto eqn_fn = library.Symbol<NUVCreateEqnWrapperFn>("NUVClassFactory_QueryCreateEqnWrapper");
    if (!query || !reg || !var_fn || !eqn_fn) {
        std::cerr << "nuvhost: the system library lacks the factory exports\n";
        return 1;
    }
    zeq_set_wrapper_factory(var_fn, eqn_fn);

    // Declared after the library, so on every way out the engine lets go of its wrappers while their code
    // is still loaded.
    std::unique_ptr<ZEQEOSimulation, SimulationDeleter> sim;
    sim.reset(zeq_open_simulation(model.c_str(), error, static_cast<int>(sizeof error)));
    if (!sim) {
        std::cerr << "nuvhost: cannot open " << model << ": " << error << "\n";
        return 1;
    }
    reg(sim.get());

    int status = 0;
    {
        CComPtr<IDispatch> simulation;
        HRESULT hr = query(sim.get(), IID_IDispatch, reinterpret_cast<void**>(&simulation));
        if (FAILED(hr) || !simulation) {
            std::cerr << "nuvhost: no simulation wrapper (" << host::Hex(hr) << ")\n";
            return 1;
        }
        if (argc == 3) {
            std::ifstream in(argv[2]);
            if (!in) {
                std::cerr << "nuvhost: cannot read " << argv[2] << "\n";
                return 1;
            }
            std::stringstream text;
            text << in.rdbuf();
            host::ScriptRunner runner(std::cout);
            CComVariant value(static_cast<IDispatch*>(simulation));
            runner.Define("Simulation", value);
            runner.Define("Sim", value);
            const int failures = runner.Run(text.str(), argv[2]);
            if (failures) std::cout << failures << " failure(s)\n";
            status = failures ? 1 : 0;
        } else {
            status = host::RunMainJob(simulation, model, std::cout);
        }
    }
    sim.reset();
    zeq_set_wrapper_factory(nullptr, nullptr);
    return status;
}
