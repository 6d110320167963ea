#include "grid_info.h"

#include "block.h"  // completes the types that the collection declarations use
#include "collections.h"
#include "columns.h"
#include "controls.h"
#include "engine_text.h"
#include "zeq_lib.h"
#include "zeq_units.h"

namespace nuv::griddef {

namespace {

constexpr int kPhysicalTypeCount = 149;

// Builds elements and attributes through the DOM, remembering the first failing call: a document
// with a part left out is never reported as written.
class DomWriter {
public:
    explicit DomWriter(IXMLDOMDocument* doc) : m_doc(doc) {}

    HRESULT Status() const { return m_status; }

    CComPtr<IXMLDOMElement> Element(const OLECHAR* name) {
        CComPtr<IXMLDOMElement> element;
        CComBSTR tag(name);
        Check(tag ? m_doc->createElement(tag, &element) : E_OUTOFMEMORY);
        return element;
    }

    void Attribute(IXMLDOMElement* element, const OLECHAR* name, const VARIANT& value) {
        if (!element) return;
        CComBSTR attribute(name);
        Check(attribute ? element->setAttribute(attribute, value) : E_OUTOFMEMORY);
    }
    void Integer(IXMLDOMElement* element, const OLECHAR* name, LONG value) {
        CComVariant v(value);
        Attribute(element, name, v);
    }
    void Flag(IXMLDOMElement* element, const OLECHAR* name, int flag) { Integer(element, name, flag ? 1 : 0); }
    // A null text writes an empty attribute.
    void Text(IXMLDOMElement* element, const OLECHAR* name, const char* text) {
        CComVariant v;
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = nullptr;
        if (text && FAILED(Check(NarrowToBstr(text, &V_BSTR(&v))))) return;
        Attribute(element, name, v);
    }
    // A control value; one that has no text form (a missing text) is left out.
    void Value(IXMLDOMElement* element, const OLECHAR* name, int code, const ControlValue& value) {
        CComVariant v;
        if (FAILED(Check(ControlValueToVariant(code, value, &v)))) return;
        if (V_VT(&v) == VT_ERROR) return;
        Attribute(element, name, v);
    }

    void Append(IXMLDOMNode* parent, IXMLDOMElement* child) {
        if (!parent || !child) return;
        Check(parent->appendChild(child, nullptr));
    }

private:
    HRESULT Check(HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(m_status)) m_status = hr;
        return hr;
    }
    IXMLDOMDocument* m_doc;
    HRESULT m_status = S_OK;
};

void WriteColumn(DomWriter& w, IXMLDOMElement* root, const ColumnRecord& c) {
    CComPtr<IXMLDOMElement> e = w.Element(OLESTR("NUVGridVarInfo"));
    w.Text(e, OLESTR("DisplayName"), c.display_name);
    w.Integer(e, OLESTR("ColumnWidth"), c.column_width);
    w.Text(e, OLESTR("UseName"), c.use_name);
    w.Flag(e, OLESTR("Visible"), c.visible);
    w.Flag(e, OLESTR("ReadOnly"), c.read_only);
    w.Flag(e, OLESTR("CanResize"), c.can_resize);
    w.Flag(e, OLESTR("CanQuery"), c.can_query);
    w.Integer(e, OLESTR("DefaultControlStyle"), c.default_control_style);
    w.Integer(e, OLESTR("ModMask"), c.mod_mask);
    w.Integer(e, OLESTR("DefaultControlType"), c.default_control_type);
    w.Integer(e, OLESTR("HelpCode"), c.help_code);
    w.Append(root, e);
}

void WriteComboItems(DomWriter& w, IXMLDOMElement* combo, const ComboRecord& r) {
    for (const ComboItem& item : r.items) {
        CComPtr<IXMLDOMElement> e = w.Element(OLESTR("NUVGridComboBoxItem"));
        w.Value(e, OLESTR("Value"), r.value_code, item.value);
        w.Text(e, OLESTR("DisplayName"), item.display_name);
        w.Text(e, OLESTR("QueryName"), item.query_name);
        w.Append(combo, e);
    }
}

void WriteControl(DomWriter& w, IXMLDOMElement* styles, const ControlStyle& style) {
    CComPtr<IXMLDOMElement> e;
    switch (style.type) {
        case ECT_STATIC:
            e = w.Element(OLESTR("NUVGridStaticControl"));
            if (style.static_control->text) w.Text(e, OLESTR("Default"), style.static_control->text);
            break;
        case ECT_TEXT: {
            const TextBoxRecord& r = *style.text_box;
            e = w.Element(OLESTR("NUVGridTextBoxControl"));
            CComVariant max_size;
            V_VT(&max_size) = VT_UI4;
            V_UI4(&max_size) = r.max_size;
            w.Attribute(e, OLESTR("MaxSize"), max_size);
            CComVariant use_format(r.format_type != 0);
            w.Attribute(e, OLESTR("UseFormating"), use_format);
            w.Integer(e, OLESTR("NumPlaces"), r.num_places);
            w.Integer(e, OLESTR("Format"), r.format_type);
            w.Integer(e, OLESTR("VarType"), r.value_code);
            w.Text(e, OLESTR("MaskInc"), r.mask_inc);
            w.Value(e, OLESTR("Default"), r.value_code, r.default_value);
            break;
        }
        case ECT_CHECKBOX: {
            const CheckBoxRecord& r = *style.check_box;
            e = w.Element(OLESTR("NUVGridCheckBoxControl"));
            w.Integer(e, OLESTR("Type"), r.value_code);
            w.Value(e, OLESTR("Checked"), r.value_code, r.checked);
            w.Value(e, OLESTR("UnChecked"), r.value_code, r.unchecked);
            w.Text(e, OLESTR("CheckedDisplay"), r.checked_display);
            w.Text(e, OLESTR("UnCheckedDisplay"), r.unchecked_display);
            w.Integer(e, OLESTR("DefaultState"), r.default_state);
            break;
        }
        case ECT_COMBOBOX: {
            const ComboRecord& r = *style.combo_box;
            e = w.Element(OLESTR("NUVGridComboBoxControl"));
            w.Integer(e, OLESTR("Type"), r.value_code);
            w.Value(e, OLESTR("DefaultValue"), r.value_code, r.default_value);
            WriteComboItems(w, e, r);
            break;
        }
    }
    w.Append(styles, e);
}

void WriteUnits(DomWriter& w, IXMLDOMElement* root) {
    CComPtr<IXMLDOMElement> collection = w.Element(OLESTR("NUVGridUOMCollection"));
    for (int t = 0; t < kPhysicalTypeCount; ++t) {
        CComPtr<IXMLDOMElement> type = w.Element(OLESTR("PhysicalType"));
        if (const char* name = rtouom_ptype_name(t)) w.Text(type, OLESTR("Name"), name);
        w.Integer(type, OLESTR("Index"), t);
        CComPtr<IXMLDOMElement> combo = w.Element(OLESTR("NUVGridComboBoxControl"));
        w.Integer(combo, OLESTR("Type"), kNarrowText);
        char** units = nullptr;
        const int n = rtouom_get_uomlist(t, &units);
        if (n > 0 && units) {
            // The default is a 1-based position; one outside the list names no unit.
            const int def = rtouom_get_default(t);
            if (def >= 1 && def <= n) w.Text(combo, OLESTR("DefaultValue"), units[def - 1]);
            for (int i = 0; i < n; ++i) {
                CComPtr<IXMLDOMElement> item = w.Element(OLESTR("NUVGridComboBoxItem"));
                w.Text(item, OLESTR("Value"), units[i]);
                w.Text(item, OLESTR("DisplayName"), units[i]);
                w.Text(item, OLESTR("QueryName"), units[i]);
                w.Append(combo, item);
            }
        }
        if (units) rtouom_destroy_uomlist(units, n);
        w.Append(type, combo);
        w.Append(collection, type);
    }
    w.Append(root, collection);
}

}  // namespace

STDMETHODIMP CoNUVGridInfo::get_ColHeaderHeight(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().col_header_height;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_RowHeight(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().row_height;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_FrozenCols(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().frozen_cols;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_FrozenRows(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().frozen_rows;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_ColCount(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = static_cast<INT>(Record().columns.size());
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_PrimaryCol(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().primary_col;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_ShowRowHdr(VARIANT_BOOL* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().show_row_hdr ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_AllowQueries(VARIANT_BOOL* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = Record().allow_queries ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
STDMETHODIMP CoNUVGridInfo::get_HelpFile(BSTR* out) { return Reported(NarrowToBstr(Record().help_file, out)); }

STDMETHODIMP CoNUVGridInfo::get_Columns(INUVGridColumnCollection** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const int kind = m_kind.load(std::memory_order_relaxed);
    HRESULT hr = CoNUVGridColumnCollection::Create([&](CoNUVGridColumnCollection& c) { return c.Init(kind); },
                                                   IID_INUVGridColumnCollection, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVGridInfo::get_ControlStyles(INUVGridStyleCollection** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    HRESULT hr = CoNUVGridStyleCollection::Create([](CoNUVGridStyleCollection&) { return S_OK; },
                                                  IID_INUVGridStyleCollection, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVGridInfo::put_Mode(INT value) {
    if (!FindKind(value)) return ReportText("The grid mode must be between 0 and 7", E_INVALIDARG);
    m_kind.store(value, std::memory_order_relaxed);
    return S_OK;
}

STDMETHODIMP CoNUVGridInfo::get_PreSortedCols(BSTR name, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    const nuv::EngineText wanted(name);
    const int kind = m_kind.load(std::memory_order_relaxed);
    const PreSortedList* list = nullptr;
    for (const PreSortedList& candidate : PreSortedLists()) {
        if (candidate.kind == kind && wanted.Whole() && stred_caseless_cmp(candidate.name, wanted.c_str()) == 0) {
            list = &candidate;
            break;
        }
    }
    if (!list || list->keys.empty())
        return ReportText("The grid has no preferred sort order of that name", E_NOTIMPL);
    SAFEARRAY* keys = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(list->keys.size()));
    if (!keys) return ReportError(E_OUTOFMEMORY);
    for (LONG i = 0; i < static_cast<LONG>(list->keys.size()); ++i) {
        CComBSTR key(list->keys[static_cast<size_t>(i)]);
        HRESULT hr = key ? SafeArrayPutElement(keys, &i, key.m_str) : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            SafeArrayDestroy(keys);
            return ReportError(hr);
        }
    }
    V_VT(out) = VT_ARRAY | VT_BSTR;
    V_ARRAY(out) = keys;
    return S_OK;
}

STDMETHODIMP CoNUVGridInfo::GetClassID(CLSID* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = CLSID_NUVGridInfo;
    return S_OK;
}

HRESULT CoNUVGridInfo::BuildDocument(IXMLDOMDocument** out) const {
    if (!out) return ReportStandard(E_POINTER);
    *out = nullptr;
    CComPtr<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                  reinterpret_cast<void**>(&doc));
    if (FAILED(hr)) return hr;
    if (!doc) return E_UNEXPECTED;
    doc->put_async(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);

    const KindRecord& kind = Record();
    DomWriter w(doc);
    CComPtr<IXMLDOMElement> root = w.Element(OLESTR("NUVGridInfo"));
    w.Integer(root, OLESTR("ColHeaderHeight"), kind.col_header_height);
    w.Integer(root, OLESTR("RowHeight"), kind.row_height);
    w.Integer(root, OLESTR("FrozenCols"), kind.frozen_cols);
    w.Integer(root, OLESTR("FrozenRows"), kind.frozen_rows);
    w.Integer(root, OLESTR("PrimaryCol"), kind.primary_col);
    w.Flag(root, OLESTR("ShowRowHdr"), kind.show_row_hdr);
    w.Flag(root, OLESTR("AllowQueries"), kind.allow_queries);
    w.Text(root, OLESTR("HelpFile"), kind.help_file);
    w.Integer(root, OLESTR("HelpCode"), kind.help_code);
    for (const ColumnRecord& column : kind.columns) WriteColumn(w, root, column);

    CComPtr<IXMLDOMElement> styles = w.Element(OLESTR("NUVGridStyleCollection"));
    for (int i = 0; i < kStyleCount; ++i) WriteControl(w, styles, *FindStyle(i));
    w.Append(root, styles);

    WriteUnits(w, root);
    if (SUCCEEDED(w.Status()) && root) {
        HRESULT set = doc->putref_documentElement(root);
        if (FAILED(set)) return set;
    }
    if (FAILED(w.Status())) return w.Status();
    *out = doc.Detach();
    return S_OK;
}

STDMETHODIMP CoNUVGridInfo::Save(IStream* stream, BOOL) {
    if (!stream) return ReportText("No stream to save the grid definition to", E_POINTER);
    CComPtr<IXMLDOMDocument> doc;
    HRESULT hr = BuildDocument(&doc);
    if (FAILED(hr)) return ReportError(hr);
    LARGE_INTEGER start{};
    hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return ReportError(hr);
    CComVariant destination;
    V_VT(&destination) = VT_UNKNOWN;
    V_UNKNOWN(&destination) = stream;
    stream->AddRef();
    hr = doc->save(destination);
    if (FAILED(hr)) return ReportError(hr);
    // A stream that held a longer text before ends where this document ends.
    ULARGE_INTEGER end{};
    LARGE_INTEGER none{};
    if (SUCCEEDED(stream->Seek(none, STREAM_SEEK_CUR, &end))) stream->SetSize(end);
    return hr;
}

HRESULT CreateGridInfo(const int* kind, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!kind) return E_POINTER;
    return CoNUVGridInfo::Create([&](CoNUVGridInfo& info) { return info.put_Mode(*kind); }, riid, ppv);
}

namespace {

HRESULT MakeGridInfoForCollection(int mode, REFIID riid, void** ppv) { return CreateGridInfo(&mode, riid, ppv); }

// Collections answer their grid-definition request through this maker once the library is loaded;
// the grid maker installed by the grid services is kept.
struct GridInfoRegistration {
    GridInfoRegistration() { nuv::SetGridMakers(nuv::CurrentGridMaker(), &MakeGridInfoForCollection); }
} g_registration;

}  // namespace

}  // namespace nuv::griddef
