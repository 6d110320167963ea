#include "main_job.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <map>
#include <set>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace host {

namespace {

constexpr int kMaxDepth = 32;

struct Reader {
    std::ostream& out;
    int failures = 0;

    // A property or call result; a failure is shown and counted, and gives Empty.
    CComVariant Get(IDispatch* object, const char* member, std::vector<CComVariant> args = {}) {
        CComVariant result;
        CallResult r = Call(object, member, CallKind::GetOrCall, args, &result);
        if (!r.ok()) {
            ++failures;
            out << "  ! " << member << " failed: " << r.error << " (" << Hex(r.hr) << ")\n";
            return CComVariant();
        }
        return result;
    }
    std::string Text(IDispatch* object, const char* member) { return Format(Get(object, member)); }
    std::vector<CComVariant> Items(IDispatch* collection) {
        std::vector<CComVariant> items;
        CallResult r = Enumerate(collection, items);
        if (!r.ok()) {
            ++failures;
            out << "  ! For Each failed: " << r.error << " (" << Hex(r.hr) << ")\n";
        }
        return items;
    }
    // The same, one item at a time: a collection of a million variables is never held whole.
    void Each(IDispatch* collection, const std::function<void(const CComVariant&)>& each) {
        CallResult r = ForEach(collection, each);
        if (!r.ok()) {
            ++failures;
            out << "  ! For Each failed: " << r.error << " (" << Hex(r.hr) << ")\n";
        }
    }
};

const char* SpecName(LONG spec) {
    static const char* const kNames[] = {"calculated", "fixed", "independent", "measured",
                                         "parameter", "optimised", "reconciled", "initial"};
    return spec >= 0 && spec < 8 ? kNames[spec] : "?";
}

std::string Pad(const std::string& s, size_t width) { return s.size() >= width ? s : s + std::string(width - s.size(), ' '); }

// The text of a unit, shared: a model has a handful of units and up to millions of variables.
const std::string* SharedUnits(const std::string& units) {
    static std::set<std::string> pool;
    return &*pool.insert(units).first;
}

struct VariableValue {
    double value;
    const std::string* units;
};

// Collects the value of every variable under `block`, showing the structure when `show` is set. With
// `before`, only the variables whose value differs from theirs there are collected.
void WalkBlock(Reader& r, IDispatch* block, const std::string& indent, int depth,
               std::map<std::string, VariableValue>& values, bool show,
               const std::map<std::string, VariableValue>* before = nullptr) {
    if (depth > kMaxDepth) return;
    CComPtr<IDispatch> variables = DispatchOf(r.Get(block, "Variables"));
    CComPtr<IDispatch> parameters = DispatchOf(r.Get(block, "Parameters"));
    CComPtr<IDispatch> ports = DispatchOf(r.Get(block, "Ports"));
    CComPtr<IDispatch> blocks = DispatchOf(r.Get(block, "Blocks"));
    CComVariant is_container = r.Get(block, "IsBlockContainer");
    const bool container = is_container.vt == VT_BOOL && is_container.boolVal;

    // A hierarchy block lists its own blocks; the variables shown here are the block's own.
    if (container && blocks) {
        for (CComVariant& child : r.Items(blocks)) {
            CComPtr<IDispatch> b = DispatchOf(child);
            if (!b) continue;
            if (show) {
                CComVariant inner = r.Get(b, "IsBlockContainer");
                const bool hierarchy = inner.vt == VT_BOOL && inner.boolVal;
                r.out << indent << (hierarchy ? "Hierarchy " : "Block ") << r.Text(b, "Name") << "\n";
            }
            WalkBlock(r, b, indent + "  ", depth + 1, values, show, before);
        }
    }
    if (variables) {
        bool first = true;
        r.Each(variables, [&](const CComVariant& item) {
            CComPtr<IDispatch> v = DispatchOf(item);
            if (!v) return;
            if (show && first && !container) r.out << indent << "Variables:\n";
            first = false;
            const std::string name = r.Text(v, "Name");
            CComVariant value = r.Get(v, "Value");
            CComVariant d;
            VariantChangeType(&d, &value, 0, VT_R8);
            const std::string units = r.Text(v, "UOM");
            if (values.count(name)) return;  // a hierarchy's members were shown with their blocks
            const double now = d.vt == VT_R8 ? d.dblVal : 0.0;
            if (before) {
                auto it = before->find(name);
                if (it == before->end() || std::fabs(now - it->second.value) <= 1e-9 * std::max(1.0, std::fabs(it->second.value)))
                    return;
            }
            values[name] = {now, SharedUnits(units)};
            if (!show || container) {
                if (show && container) {
                    CComVariant spec = r.Get(v, "Spec");
                    r.out << indent << "Variable " << Pad(name, 18) << " = " << Pad(Format(value) + " " + units, 16)
                          << " (" << SpecName(spec.vt == VT_I4 ? spec.lVal : -1) << ")\n";
                }
                return;
            }
            CComVariant spec = r.Get(v, "Spec");
            r.out << indent << "  " << Pad(name, 18) << " = " << Pad(Format(value) + " " + units, 16) << " ("
                  << SpecName(spec.vt == VT_I4 ? spec.lVal : -1) << ")\n";
        });
    }
    if (show && parameters) {
        std::vector<CComVariant> items = r.Items(parameters);
        if (!items.empty()) r.out << indent << "Parameters:\n";
        for (CComVariant& item : items) {
            CComPtr<IDispatch> p = DispatchOf(item);
            if (!p) continue;
            const std::string units = r.Text(p, "UOM");
            r.out << indent << "  " << Pad(r.Text(p, "Name"), 18) << " = " << r.Text(p, "Value")
                  << (units.empty() ? "" : " " + units) << "\n";
        }
    }
    if (show && ports) {
        std::vector<CComVariant> items = r.Items(ports);
        if (!items.empty()) r.out << indent << "Ports:\n";
        for (CComVariant& item : items) {
            CComPtr<IDispatch> p = DispatchOf(item);
            if (!p) continue;
            CComVariant direction = r.Get(p, "Direction");
            const LONG dir = direction.vt == VT_I4 ? direction.lVal : 0;
            std::string names;
            if (CComPtr<IDispatch> pv = DispatchOf(r.Get(p, "Variables")))
                for (CComVariant& v : r.Items(pv)) {
                    CComPtr<IDispatch> var = DispatchOf(v);
                    if (var) names += (names.empty() ? "" : ", ") + r.Text(var, "Name");
                }
            r.out << indent << "  " << Pad(r.Text(p, "Name"), 6) << (dir == 1 ? " in " : dir == 2 ? " out" : "    ")
                  << "  stream " << Pad(r.Text(p, "Stream"), 4) << "  [" << names << "]\n";
        }
    }
}

}  // namespace

int RunMainJob(IDispatch* simulation, const std::string& model, std::ostream& out) {
    Reader r{out};
    out << "Model " << model << ", engine " << r.Text(simulation, "BuildVersion") << "\n";
    CComPtr<IDispatch> flowsheet = DispatchOf(r.Get(simulation, "Flowsheet"));
    if (!flowsheet) return 1;
    CComPtr<IDispatch> blocks = DispatchOf(r.Get(flowsheet, "Blocks"));
    CComPtr<IDispatch> variables = DispatchOf(r.Get(flowsheet, "Variables"));
    CComPtr<IDispatch> equations = DispatchOf(r.Get(flowsheet, "Equations"));
    out << "Flowsheet: " << Format(r.Get(blocks, "Count")) << " blocks, " << Format(r.Get(variables, "Count"))
        << " variables, " << Format(r.Get(equations, "Count")) << " equations\n\n";

    std::map<std::string, VariableValue> before;
    WalkBlock(r, flowsheet, "", 0, before, true);

    out << "\nSolving...\n";
    std::vector<CComVariant> none;
    CComVariant ignored;
    CallResult solved = Call(simulation, "Solve", CallKind::GetOrCall, none, &ignored);
    if (solved.ok()) {
        out << "Solve finished.\n";
    } else {
        ++r.failures;
        out << "Solve failed: " << solved.error << " (" << Hex(solved.hr) << ")\n";
    }

    // Only what the solve changed is collected the second time.
    std::map<std::string, VariableValue> after;
    WalkBlock(r, flowsheet, "", 0, after, false, &before);
    out << "\nChanged by the solve:\n";
    int changed = 0;
    for (const auto& [name, now] : after) {
        const double was = before.find(name)->second.value;
        ++changed;
        std::ostringstream line;
        line << "  " << Pad(name, 20) << " " << std::setw(12) << Format(CComVariant(was)) << " -> " << std::setw(12)
             << Format(CComVariant(now.value)) << " " << *now.units;
        out << line.str() << "\n";
    }
    if (changed == 0) out << "  nothing\n";
    out << "\n" << (r.failures ? "Finished with failures." : "Done.") << "\n";
    return r.failures ? 1 : 0;
}

}  // namespace host
