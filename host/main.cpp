// nuvhost: owns an engine simulation, loads the system library as a host does and drives it as an
// automation client would.
//
//   nuvhost MODEL [SCRIPT [ARGUMENT...]]
//
// Without a script it runs the main job (walk, solve, show the changes). The arguments after a .nuv script
// are its array Arguments; on Windows a .vbs or .js script runs in the platform's script engine and the
// arguments after it are its WScript.Arguments.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine_output.h"
#include "main_job.h"
#include "nuv_text.h"
#include "rezoraruz.h"
#include "script.h"
#include "system_library.h"
#include "zeq_host.h"
#ifdef _WIN32
#include "active_script.h"
#include "windows_text.h"
#endif

namespace {

using QueryCreateWrapperFn = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
using RegisterServicesFn = void (*)(ZEQEOSimulation*);

// A script for the platform's own script engines: VBScript (.vbs) or JScript (.js), any case.
bool IsPlatformScript(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".vbs" || ext == ".js";
}

// Reads a script from a file or a pipe (/dev/stdin fed by one); the reason when it cannot. A directory
// opens as a stream that reads nothing, and a device may never end (/dev/zero), so neither is read.
const char* ReadScript(const std::string& path, std::stringstream& text) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return "no such file";
    if (S_ISDIR(info.st_mode)) return "is a directory";
    bool stream = S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode);
#ifdef S_ISSOCK
    stream = stream || S_ISSOCK(info.st_mode);  // a socket where the system has them
#endif
    if (!stream) return "not a file or pipe";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot be opened";
    text << in.rdbuf();
    return in.bad() ? "cannot be read" : nullptr;
}

struct SimulationDeleter {
    void operator()(ZEQEOSimulation* sim) const { zeq_destroy_simulation(sim); }
};

int Usage() {
    std::cerr << "usage: nuvhost MODEL [SCRIPT [ARGUMENT...]]\n"
                 "  Loads MODEL into the engine and runs SCRIPT through the automation interfaces;\n"
                 "  without SCRIPT it walks the flowsheet, solves it and shows what changed.\n"
                 "  A .nuv SCRIPT sees the ARGUMENTs as the array Arguments (counted from 1).\n"
#ifdef _WIN32
                 "  A .vbs or .js SCRIPT runs in the VBScript or JScript engine with the ARGUMENTs as\n"
                 "  WScript.Arguments.\n"
#endif
        ;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // The command line as UTF-8 (file names as given, for messages and the script engines).
    std::vector<std::string> line(argv, argv + argc);
#ifdef _WIN32
    if (!host::CommandLineUtf8(line)) {
        std::cerr << "nuvhost: cannot read the command line\n";
        return 2;
    }
#endif
    if (line.size() < 2) return Usage();
    const std::string model = line[1];
    const std::string script = line.size() > 2 ? line[2] : "";
    const std::vector<std::string> arguments(line.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(line.size(), 3)),
                                             line.end());
    const bool active_script = !script.empty() && IsPlatformScript(script);
    // The file names that the engine and the C runtime open, which Windows reads in the ANSI code page; the
    // script engines' scripts are opened by their UTF-16 names.
    std::string model_file = model, script_file = script;
#ifdef _WIN32
    for (auto [name, file] : {std::pair{&model, &model_file}, std::pair{&script, &script_file}}) {
        if (name == &script && (script.empty() || active_script)) continue;
        if (!host::AnsiPath(*name, *file)) {
            std::cerr << "nuvhost: cannot open " << *name
                      << ": the engine and the .nuv host open files by names in the ANSI code page, which has "
                         "no place for a character of this one\n";
            return 1;
        }
    }
    // The script engines and the objects they drive live in this thread's single-threaded apartment.
    struct Apartment {
        Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
        ~Apartment() { CoUninitialize(); }
    } apartment;
#else
    if (active_script) {
        std::cerr << "nuvhost: " << script << " needs the VBScript or JScript engine of the Windows build\n";
        return 2;
    }
#endif
    if (script.empty() && argc > 3) return Usage();
    std::stringstream text;
    if (!script.empty() && !active_script) {
        if (const char* why = ReadScript(script_file, text)) {
            std::cerr << "nuvhost: cannot read " << script << ": " << why << "\n";
            return 1;
        }
    }
    char error[512] = {};
    const std::string path = host::SystemLibraryPath();
    host::SystemLibrary library(path);
    if (!library) {
        std::cerr << "nuvhost: cannot load the system library " << path << ": " << library.error() << "\n";
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
    sim.reset(zeq_open_simulation(model_file.c_str(), error, static_cast<int>(sizeof error)));
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
        // The engine's lines reach the host's output through its own sink, whatever the script does
        // with the message service.
        host::EngineOutput output(simulation, std::cout);
        if (!output.error().empty())
            std::cerr << "nuvhost: engine output may not be shown: " << output.error() << "\n";
        if (active_script) {
#ifdef _WIN32
            status = host::RunActiveScript(simulation, script, arguments, std::cout);
#endif
        } else if (!script.empty()) {
            host::ScriptRunner runner(std::cout);
            CComVariant value(static_cast<IDispatch*>(simulation));
            runner.Define("Simulation", value);
            runner.Define("Sim", value);
            std::vector<CComVariant> texts;
            for (const std::string& a : arguments) texts.emplace_back(nuv::to_utf16(a).c_str());
            CComVariant list;
            if (FAILED(host::MakeArray(texts, &list))) {
                std::cerr << "nuvhost: out of memory\n";
                return 1;
            }
            runner.Define("Arguments", list);
            const int failures = runner.Run(text.str(), script);
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
