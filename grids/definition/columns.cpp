#include "columns.h"

#include <cstdlib>
#include <cstring>

#include "controls.h"
#include "nuv_arguments.h"
#include "zeq_lib.h"

namespace nuv::griddef {

namespace {

VARIANT_BOOL Bool(int flag) { return flag ? VARIANT_TRUE : VARIANT_FALSE; }

template <class T>
HRESULT Give(T value, T* out) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

LONG ReadDecimal(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<LONG>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

struct MaskBit {
    const char* keyword;
    LONG bit;  // negative -b: the value b in the second word
};

// The attributes this test knows. It is its own table: INTSCALE is absent and SCALE carries 0x20.
constexpr MaskBit kMaskBits[] = {
    {"HOMO_PARAM", 0x400000}, {"HOMO_TARGET", 0x800000}, {"LOWER", 0x4},           {"MARKED", 0x1000},
    {"QUALITY", 0x40000},     {"RAMPED", 0x10000000},    {"SBWEIGHT", 0x80},       {"SCALE", 0x20},
    {"SPEC", 0x100},          {"STEP", 0x10},            {"UOM", -2},              {"UPPER", 0x8},
    {"VALUE", 0x2},           {"VARIABLE_TYPE", 0x2000000},
};

}  // namespace

MaskPair ParseMaskPair(const std::string& text) {
    MaskPair pair;
    const size_t separator = text.find(';');
    pair.first = ReadDecimal(text.substr(0, separator));
    if (separator != std::string::npos) pair.second = ReadDecimal(text.substr(separator + 1));
    return pair;
}

STDMETHODIMP CoNUVGridVarInfo::get_EngineName(BSTR* out) { return Reported(NarrowToBstr(m_column->use_name, out)); }
STDMETHODIMP CoNUVGridVarInfo::get_DisplayName(BSTR* out) { return Reported(NarrowToBstr(m_column->display_name, out)); }
STDMETHODIMP CoNUVGridVarInfo::get_ColumnWidth(ULONG* out) {
    return Reported(Give(static_cast<ULONG>(m_column->column_width), out));
}
STDMETHODIMP CoNUVGridVarInfo::get_Visible(VARIANT_BOOL* out) { return Reported(Give(Bool(m_column->visible), out)); }
STDMETHODIMP CoNUVGridVarInfo::get_ReadOnly(VARIANT_BOOL* out) { return Reported(Give(Bool(m_column->read_only), out)); }
STDMETHODIMP CoNUVGridVarInfo::get_Resize(VARIANT_BOOL* out) { return Reported(Give(Bool(m_column->can_resize), out)); }
STDMETHODIMP CoNUVGridVarInfo::CanQuery(VARIANT_BOOL* out) { return Reported(Give(Bool(m_column->can_query), out)); }
STDMETHODIMP CoNUVGridVarInfo::get_DefaultControlStyle(LONG* out) {
    return Reported(Give(static_cast<LONG>(m_column->default_control_style), out));
}
STDMETHODIMP CoNUVGridVarInfo::get_DefaultControlType(NUVControlType* out) {
    return Reported(Give(static_cast<NUVControlType>(m_column->default_control_type), out));
}
STDMETHODIMP CoNUVGridVarInfo::get_ModMask(ULONG* out) {
    return Reported(Give(static_cast<ULONG>(static_cast<uint32_t>(m_column->mod_mask)), out));
}

STDMETHODIMP CoNUVGridVarInfo::TestModMask(VARIANT mask, BSTR keyword, LONG* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = 0;
    if (V_VT(&mask) != VT_BSTR) return ReportError(E_FAIL);
    const MaskPair pair = ParseMaskPair(nuv::bstr_to_utf8(V_BSTR(&mask)));
    std::string name = nuv::bstr_to_utf8(keyword);
    stred_upper_case(name.data());
    for (const MaskBit& entry : kMaskBits) {
        if (name != entry.keyword) continue;
        *out = entry.bit > 0 ? (pair.first & entry.bit) : (pair.second & -entry.bit);
        break;
    }
    return S_OK;
}

HRESULT CoNUVGridColumnCollection::Init(int kind) {
    m_record = FindKind(kind);
    if (!m_record) return E_INVALIDARG;
    m_count = static_cast<int>(m_record->columns.size());
    try {
        for (int i = 0; i < m_count; ++i) m_positions.emplace(m_record->columns[i].use_name, i);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CoNUVGridColumnCollection::NewColumn(int position, VARIANT* out) const {
    const ColumnRecord* column = &m_record->columns[static_cast<size_t>(position)];
    return CoNUVGridVarInfo::CreateVariant([&](CoNUVGridVarInfo& info) { return info.Init(column), S_OK; }, out);
}

STDMETHODIMP CoNUVGridColumnCollection::Item(VARIANT index, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    // A by-reference index (as scripts pass their variables) is read through; one to nothing is refused.
    CComVariant local;
    if (FAILED(nuv::CopyInVariant(index, &local))) return ReportError(E_FAIL);
    // Script engines pass small whole numbers as VT_I2 or VT_UI1: every integer kind is a position.
    switch (V_VT(&local)) {
        case VT_I1:
        case VT_I2:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
            if (FAILED(VariantChangeType(&local, &local, 0, VT_I4)))
                return ReportText("The column position is out of range", E_INVALIDARG);
            break;
        default: break;
    }
    int position = -1;
    switch (V_VT(&local)) {
        case VT_EMPTY:
            return ReportStandard(E_POINTER);
        case VT_I4:
            if (V_I4(&local) < 0 || V_I4(&local) >= m_count)
                return ReportText("The column position is out of range", E_INVALIDARG);
            position = static_cast<int>(V_I4(&local));
            break;
        case VT_BSTR: {
            auto found = m_positions.find(nuv::bstr_to_utf8(V_BSTR(&local)));
            if (found == m_positions.end()) return ReportError(E_FAIL);
            position = found->second;
            break;
        }
        default:
            return ReportError(E_FAIL);
    }
    HRESULT hr = NewColumn(position, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVGridColumnCollection::Count(LONG* out) { return Reported(Give(static_cast<LONG>(m_count), out)); }

STDMETHODIMP CoNUVGridColumnCollection::NewEnum(IDispatch** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    try {
        VariantList columns;
        columns.values.reserve(static_cast<size_t>(m_count));
        for (int i = 0; i < m_count; ++i)
            if (FAILED(NewColumn(i, columns.Add()))) return ReportError(E_FAIL);
        if (FAILED(CreateDispatchEnum(columns, out))) return ReportError(E_FAIL);
    } catch (const std::bad_alloc&) {
        return ReportError(E_FAIL);
    }
    return S_OK;
}

STDMETHODIMP CoNUVGridStyleCollection::Item(LONG* index, NUVControlType* type, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    if (!index) return ReportStandard(E_POINTER);
    const ControlStyle* style = FindStyle(static_cast<int>(*index));
    if (!style) return ReportError(E_FAIL);
    HRESULT hr = CreateStyleControl(*style, type, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVGridStyleCollection::Count(LONG* out) { return Reported(Give(static_cast<LONG>(kStyleCount), out)); }

STDMETHODIMP CoNUVGridStyleCollection::NewEnum(IDispatch** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    try {
        VariantList controls;
        controls.values.reserve(kStyleCount);
        for (int i = 0; i < kStyleCount; ++i)
            if (FAILED(CreateStyleControl(*FindStyle(i), nullptr, controls.Add()))) return ReportError(E_FAIL);
        if (FAILED(CreateDispatchEnum(controls, out))) return ReportError(E_FAIL);
    } catch (const std::bad_alloc&) {
        return ReportError(E_FAIL);
    }
    return S_OK;
}

}  // namespace nuv::griddef
