#include "main_job.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
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

// The values the job collects, one entry a variable name in the order first met, with an open-addressing
// index by name: a million variables take one entry of 32 bytes each, their names' bytes and four to eight
// bytes of index, where a map would take a node apiece for the values before the solve and another for
// those after it.
class Collected {
public:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Entry {
        uint32_t chunk, offset, size;  // of the name, in the chunks of names
        uint32_t units;                // after the solve (see Units); kNone while unchanged
        double before, after;
        bool Changed() const { return units != kNone; }
    };
    std::string_view Name(const Entry& e) const { return {chunks_[e.chunk].get() + e.offset, e.size}; }
    // The position of a name's entry; kNone when there is none.
    uint32_t Find(std::string_view name) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        for (size_t i = Hash(name) & mask;; i = (i + 1) & mask)
            if (slots_[i] == kNone || Name(entries_[slots_[i]]) == name) return slots_[i];
    }
    Entry& operator[](uint32_t k) { return entries_[k]; }
    // Adds an entry for a name not yet collected.
    void Add(std::string_view name, double value) {
        if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
        slots_[FreeSlot(slots_, name)] = static_cast<uint32_t>(entries_.size());
        if (chunks_.empty() || used_ + name.size() > chunk_size_) {
            chunk_size_ = std::max(kChunk, name.size());
            chunks_.push_back(std::make_unique_for_overwrite<char[]>(chunk_size_));
            used_ = 0;
        }
        std::copy(name.begin(), name.end(), chunks_.back().get() + used_);
        entries_.push_back({static_cast<uint32_t>(chunks_.size() - 1), static_cast<uint32_t>(used_),
                            static_cast<uint32_t>(name.size()), kNone, value, value});
        used_ += name.size();
    }
    // Records what the solve made of an entry, once.
    void MarkChanged(uint32_t k, double now, const std::string& units) {
        Entry& e = entries_[k];
        e.after = now;
        // A model has a handful of units and up to millions of variables: each text is kept once.
        auto unit = std::find(units_.begin(), units_.end(), units);
        e.units = static_cast<uint32_t>(unit - units_.begin());
        if (unit == units_.end()) units_.push_back(units);
        changed_.push_back(k);
    }
    const std::string& Units(const Entry& e) const { return units_[e.units]; }
    // The changed entries in the order of their names.
    std::vector<const Entry*> ChangedByName() const {
        std::vector<const Entry*> out;
        out.reserve(changed_.size());
        for (uint32_t k : changed_) out.push_back(&entries_[k]);
        std::sort(out.begin(), out.end(), [this](const Entry* x, const Entry* y) { return Name(*x) < Name(*y); });
        return out;
    }

private:
    static constexpr size_t kChunk = size_t{1} << 20;
    static size_t Hash(std::string_view s) { return std::hash<std::string_view>{}(s); }
    static size_t FreeSlot(const std::vector<uint32_t>& slots, std::string_view name) {
        const size_t mask = slots.size() - 1;
        size_t i = Hash(name) & mask;
        while (slots[i] != kNone) i = (i + 1) & mask;
        return i;
    }
    void Grow() {
        std::vector<uint32_t> slots(slots_.empty() ? 1024 : slots_.size() * 2, kNone);
        for (uint32_t k = 0; k < entries_.size(); ++k) slots[FreeSlot(slots, Name(entries_[k]))] = k;
        slots_.swap(slots);
    }
    std::deque<Entry> entries_;  // no copies as it grows
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t chunk_size_ = 0, used_ = 0;
    std::vector<uint32_t> slots_;
    std::vector<uint32_t> changed_;
    std::vector<std::string> units_;
};

// Collects the value of every variable under `block`, showing the structure when `show` is set. With
// `solved`, the walk after the solve marks the variables whose value differs from the one collected.
void WalkBlock(Reader& r, IDispatch* block, const std::string& indent, int depth, Collected& values, bool show,
               bool solved = false) {
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
            WalkBlock(r, b, indent + "  ", depth + 1, values, show, solved);
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
            const double now = d.vt == VT_R8 ? d.dblVal : 0.0;
            const uint32_t known = values.Find(name);
            if (solved) {
                if (known == Collected::kNone || values[known].Changed()) return;
                const double was = values[known].before;
                if (std::fabs(now - was) > 1e-9 * std::max(1.0, std::fabs(was)))
                    values.MarkChanged(known, now, units);
                return;
            }
            if (known != Collected::kNone) return;  // a hierarchy's members were shown with their blocks
            if (show) {
                CComVariant spec = r.Get(v, "Spec");
                r.out << indent << (container ? "Variable " : "  ") << Pad(name, 18) << " = "
                      << Pad(Format(value) + " " + units, 16) << " (" << SpecName(spec.vt == VT_I4 ? spec.lVal : -1)
                      << ")\n";
            }
            values.Add(name, now);
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

    Collected values;
    WalkBlock(r, flowsheet, "", 0, values, true);

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

    // The second walk only marks what the solve changed.
    WalkBlock(r, flowsheet, "", 0, values, false, true);
    out << "\nChanged by the solve:\n";
    int changed = 0;
    for (const Collected::Entry* e : values.ChangedByName()) {
        ++changed;
        std::ostringstream line;
        line << "  " << Pad(std::string(values.Name(*e)), 20) << " " << std::setw(12) << Format(CComVariant(e->before)) << " -> "
             << std::setw(12) << Format(CComVariant(e->after)) << " " << values.Units(*e);
        out << line.str() << "\n";
    }
    if (changed == 0) out << "  nothing\n";
    out << "\n" << (r.failures ? "Finished with failures." : "Done.") << "\n";
    return r.failures ? 1 : 0;
}

}  // namespace host
