#include "controls.h"

namespace nuv::griddef {

HRESULT ControlValueToVariant(int code, const ControlValue& value, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    switch (code) {
        case kBool16:
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = static_cast<VARIANT_BOOL>(static_cast<int16_t>(value.integer));
            return S_OK;
        case kInt16:
            V_VT(out) = VT_I2;
            V_I2(out) = static_cast<SHORT>(value.integer);
            return S_OK;
        case kInt32:
            V_VT(out) = VT_I4;
            V_I4(out) = static_cast<LONG>(value.integer);
            return S_OK;
        case kInt8:
            V_VT(out) = VT_I1;
            V_I1(out) = static_cast<CHAR>(value.integer);
            return S_OK;
        case kFloat32:
            V_VT(out) = VT_R4;
            V_R4(out) = static_cast<FLOAT>(value.real);
            return S_OK;
        case kFloat64:
            V_VT(out) = VT_R8;
            V_R8(out) = value.real;
            return S_OK;
        case kNarrowText:
        case kWideText: {
            const bool missing = code == kNarrowText ? !value.text : !value.wide;
            if (missing) {
                V_VT(out) = VT_ERROR;
                V_ERROR(out) = DISP_E_PARAMNOTFOUND;
                return S_OK;
            }
            BSTR text = code == kNarrowText ? CComBSTR(value.text).Detach() : SysAllocString(value.wide);
            if (!text) return E_OUTOFMEMORY;
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = text;
            return S_OK;
        }
        default:
            return E_FAIL;
    }
}

namespace {

HRESULT CodeVariant(int code, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    V_VT(out) = VT_I4;
    V_I4(out) = code;
    return S_OK;
}

}  // namespace

HRESULT CreateStyleControl(const ControlStyle& style, NUVControlType* type, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    HRESULT hr = E_FAIL;
    switch (style.type) {
        case ECT_STATIC:
            hr = CoNUVGridStaticControl::CreateVariant(
                [&](CoNUVGridStaticControl& c) { return c.Init(style.static_control), S_OK; }, out);
            break;
        case ECT_TEXT:
            hr = CoNUVGridTextBoxControl::CreateVariant(
                [&](CoNUVGridTextBoxControl& c) { return c.Init(style.text_box), S_OK; }, out);
            break;
        case ECT_CHECKBOX:
            hr = CoNUVGridCheckBoxControl::CreateVariant(
                [&](CoNUVGridCheckBoxControl& c) { return c.Init(style.check_box), S_OK; }, out);
            break;
        case ECT_COMBOBOX:
            hr = CoNUVGridComboBoxControl::CreateVariant(
                [&](CoNUVGridComboBoxControl& c) { return c.Init(style.combo_box), S_OK; }, out);
            break;
    }
    if (SUCCEEDED(hr) && type) *type = style.type;
    return hr;
}

STDMETHODIMP CoNUVGridStaticControl::get_DefaultValue(BSTR* out) { return Reported(NarrowToBstr(m_record->text, out)); }

STDMETHODIMP CoNUVGridTextBoxControl::get_DefaultValue(VARIANT* out) {
    HRESULT hr = ControlValueToVariant(m_record->value_code, m_record->default_value, out);
    return Reported(hr);
}
STDMETHODIMP CoNUVGridTextBoxControl::get_MaxSize(ULONG* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = m_record->max_size;
    return S_OK;
}
STDMETHODIMP CoNUVGridTextBoxControl::get_VarType(VARIANT* out) { return Reported(CodeVariant(m_record->value_code, out)); }
STDMETHODIMP CoNUVGridTextBoxControl::UseFormat(VARIANT_BOOL* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = m_record->format_type != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
STDMETHODIMP CoNUVGridTextBoxControl::get_FormatType(VARIANT* out) { return Reported(CodeVariant(m_record->format_type, out)); }
STDMETHODIMP CoNUVGridTextBoxControl::get_NumPlaces(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = m_record->num_places;
    return S_OK;
}
STDMETHODIMP CoNUVGridTextBoxControl::get_MaskInc(BSTR* out) { return Reported(NarrowToBstr(m_record->mask_inc, out)); }

STDMETHODIMP CoNUVGridCheckBoxControl::get_DefaultState(NUVCheckBoxState* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = static_cast<NUVCheckBoxState>(m_record->default_state);
    return S_OK;
}
STDMETHODIMP CoNUVGridCheckBoxControl::get_Type(VARIANT* out) { return Reported(CodeVariant(m_record->value_code, out)); }
STDMETHODIMP CoNUVGridCheckBoxControl::get_Checked(VARIANT* out) {
    HRESULT hr = ControlValueToVariant(m_record->value_code, m_record->checked, out);
    return Reported(hr);
}
STDMETHODIMP CoNUVGridCheckBoxControl::get_UnChecked(VARIANT* out) {
    HRESULT hr = ControlValueToVariant(m_record->value_code, m_record->unchecked, out);
    return Reported(hr);
}
STDMETHODIMP CoNUVGridCheckBoxControl::get_CheckDisplay(BSTR* out) {
    return Reported(NarrowToBstr(m_record->checked_display, out));
}
STDMETHODIMP CoNUVGridCheckBoxControl::get_UnCheckedDisplay(BSTR* out) {
    return Reported(NarrowToBstr(m_record->unchecked_display, out));
}

STDMETHODIMP CoNUVGridComboBoxControl::get_DefaultValue(VARIANT* out) {
    HRESULT hr = ControlValueToVariant(m_record->value_code, m_record->default_value, out);
    return Reported(hr);
}
STDMETHODIMP CoNUVGridComboBoxControl::get_Type(VARIANT* out) { return Reported(CodeVariant(m_record->value_code, out)); }

HRESULT CoNUVGridComboBoxControl::NewItem(size_t position, VARIANT* out) const {
    const ComboItem* item = &m_record->items[position];
    const int code = m_record->value_code;
    return CoNUVGridComboBoxItem::CreateVariant([&](CoNUVGridComboBoxItem& i) { return i.Init(item, code), S_OK; },
                                                out);
}

STDMETHODIMP CoNUVGridComboBoxControl::Item(LONG* index, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    if (!index) return ReportError(E_FAIL);
    if (*index < 0 || static_cast<size_t>(*index) >= m_record->items.size())
        return ReportText("The item index is out of range", E_INVALIDARG);
    HRESULT hr = NewItem(static_cast<size_t>(*index), out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVGridComboBoxControl::Count(LONG* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = static_cast<LONG>(m_record->items.size());
    return S_OK;
}

STDMETHODIMP CoNUVGridComboBoxControl::GetEnum(IDispatch** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    try {
        VariantList items;
        items.values.reserve(m_record->items.size());
        for (size_t i = 0; i < m_record->items.size(); ++i)
            if (FAILED(NewItem(i, items.Add()))) return ReportError(E_FAIL);
        if (FAILED(CreateDispatchEnum(items, out))) return ReportError(E_FAIL);
    } catch (const std::bad_alloc&) {
        return ReportError(E_FAIL);
    }
    return S_OK;
}

STDMETHODIMP CoNUVGridComboBoxItem::get_Value(VARIANT* out) {
    HRESULT hr = ControlValueToVariant(m_value_code, m_item->value, out);
    return Reported(hr);
}
STDMETHODIMP CoNUVGridComboBoxItem::get_DisplayName(BSTR* out) { return Reported(NarrowToBstr(m_item->display_name, out)); }
STDMETHODIMP CoNUVGridComboBoxItem::get_QueryName(BSTR* out) { return Reported(NarrowToBstr(m_item->query_name, out)); }

}  // namespace nuv::griddef
