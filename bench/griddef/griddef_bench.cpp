// Saving the variable grid's definition through the DOM to a stream, against writing the same
// elements and attributes straight into a std::string.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "definition/controls.h"
#include "definition/grid_info.h"
#include "definition/grid_tables.h"
#include "zeq_units.h"

namespace {

using namespace nuv::griddef;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Escaped(std::string& out, const char* text) {
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += *p;
        }
    }
}

void Attr(std::string& out, const char* name, const char* value) {
    out += ' ';
    out += name;
    out += "=\"";
    Escaped(out, value ? value : "");
    out += '"';
}
void Attr(std::string& out, const char* name, long long value) { Attr(out, name, std::to_string(value).c_str()); }

void ValueAttr(std::string& out, const char* name, int code, const ControlValue& v) {
    if (code == kNarrowText) {
        if (v.text) Attr(out, name, v.text);
    } else if (code == kFloat64 || code == kFloat32) {
        Attr(out, name, std::to_string(v.real).c_str());
    } else {
        Attr(out, name, v.integer);
    }
}

// The same document as the DOM writes, built by appending text.
std::string BuildWithString(int kind_index) {
    const KindRecord& k = *FindKind(kind_index);
    std::string out = "<?xml version=\"1.0\"?>\n<NUVGridInfo";
    Attr(out, "ColHeaderHeight", k.col_header_height);
    Attr(out, "RowHeight", k.row_height);
    Attr(out, "FrozenCols", k.frozen_cols);
    Attr(out, "FrozenRows", k.frozen_rows);
    Attr(out, "PrimaryCol", k.primary_col);
    Attr(out, "ShowRowHdr", k.show_row_hdr ? 1 : 0);
    Attr(out, "AllowQueries", k.allow_queries ? 1 : 0);
    Attr(out, "HelpFile", k.help_file);
    Attr(out, "HelpCode", k.help_code);
    out += '>';
    for (const ColumnRecord& c : k.columns) {
        out += "<NUVGridVarInfo";
        Attr(out, "DisplayName", c.display_name);
        Attr(out, "ColumnWidth", c.column_width);
        Attr(out, "UseName", c.use_name);
        Attr(out, "Visible", c.visible);
        Attr(out, "ReadOnly", c.read_only);
        Attr(out, "CanResize", c.can_resize);
        Attr(out, "CanQuery", c.can_query);
        Attr(out, "DefaultControlStyle", c.default_control_style);
        Attr(out, "ModMask", c.mod_mask);
        Attr(out, "DefaultControlType", c.default_control_type);
        Attr(out, "HelpCode", c.help_code);
        out += "/>";
    }
    out += "<NUVGridStyleCollection>";
    for (int s = 0; s < kStyleCount; ++s) {
        const ControlStyle& style = *FindStyle(s);
        if (style.static_control) {
            out += "<NUVGridStaticControl";
            Attr(out, "Default", style.static_control->text);
            out += "/>";
        } else if (style.text_box) {
            const TextBoxRecord& r = *style.text_box;
            out += "<NUVGridTextBoxControl";
            Attr(out, "MaxSize", static_cast<long long>(r.max_size));
            Attr(out, "UseFormating", r.format_type ? -1 : 0);
            Attr(out, "NumPlaces", r.num_places);
            Attr(out, "Format", r.format_type);
            Attr(out, "VarType", r.value_code);
            Attr(out, "MaskInc", r.mask_inc);
            ValueAttr(out, "Default", r.value_code, r.default_value);
            out += "/>";
        } else if (style.check_box) {
            const CheckBoxRecord& r = *style.check_box;
            out += "<NUVGridCheckBoxControl";
            Attr(out, "Type", r.value_code);
            ValueAttr(out, "Checked", r.value_code, r.checked);
            ValueAttr(out, "UnChecked", r.value_code, r.unchecked);
            Attr(out, "CheckedDisplay", r.checked_display);
            Attr(out, "UnCheckedDisplay", r.unchecked_display);
            Attr(out, "DefaultState", r.default_state);
            out += "/>";
        } else {
            const ComboRecord& r = *style.combo_box;
            out += "<NUVGridComboBoxControl";
            Attr(out, "Type", r.value_code);
            ValueAttr(out, "DefaultValue", r.value_code, r.default_value);
            out += '>';
            for (const ComboItem& item : r.items) {
                out += "<NUVGridComboBoxItem";
                ValueAttr(out, "Value", r.value_code, item.value);
                Attr(out, "DisplayName", item.display_name);
                Attr(out, "QueryName", item.query_name);
                out += "/>";
            }
            out += "</NUVGridComboBoxControl>";
        }
    }
    out += "</NUVGridStyleCollection><NUVGridUOMCollection>";
    for (int t = 0; t < RTOUOM_PTYPE_COUNT; ++t) {
        out += "<PhysicalType";
        Attr(out, "Name", rtouom_ptype_name(t));
        Attr(out, "Index", t);
        out += "><NUVGridComboBoxControl";
        Attr(out, "Type", kNarrowText);
        char** units = nullptr;
        const int n = rtouom_get_uomlist(t, &units);
        const int def = rtouom_get_default(t);
        if (n > 0 && def >= 1 && def <= n) Attr(out, "DefaultValue", units[def - 1]);
        out += '>';
        for (int i = 0; i < n; ++i) {
            out += "<NUVGridComboBoxItem";
            Attr(out, "Value", units[i]);
            Attr(out, "DisplayName", units[i]);
            Attr(out, "QueryName", units[i]);
            out += "/>";
        }
        if (units) rtouom_destroy_uomlist(units, n);
        out += "</NUVGridComboBoxControl></PhysicalType>";
    }
    out += "</NUVGridUOMCollection></NUVGridInfo>\n";
    return out;
}

void BM_SaveVariableGridDefinition(benchmark::State& state) {
    int kind = 0;
    CComPtr<IPersistStream> persist;
    if (FAILED(CreateGridInfo(&kind, IID_IPersistStream, reinterpret_cast<void**>(&persist)))) {
        state.SkipWithError("no grid definition");
        return;
    }
    CComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    double dom = 0, text = 0;
    size_t text_bytes = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        std::string built = BuildWithString(kind);
        benchmark::DoNotOptimize(built.data());
        auto t1 = Clock::now();
        HRESULT hr = persist->Save(stream, TRUE);
        benchmark::DoNotOptimize(hr);
        auto t2 = Clock::now();
        text += Seconds(t0, t1);
        dom += Seconds(t1, t2);
        text_bytes = built.size();
    }
    ULARGE_INTEGER size{};
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_END, &size);
    state.counters["dom_bytes"] = static_cast<double>(size.QuadPart);
    state.counters["string_bytes"] = static_cast<double>(text_bytes);
    state.counters["ratio_vs_string"] = text > 0 ? dom / text : 0;
}
BENCHMARK(BM_SaveVariableGridDefinition)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
