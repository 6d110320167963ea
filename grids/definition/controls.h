// The control objects of a grid definition: read-only views over one constant control record each,
// and the combo box item.
#pragma once
#include "grid_object.h"
#include "grid_tables.h"

namespace nuv::griddef {

// A control record's value as a VARIANT by its value code: booleans VT_BOOL, integers VT_I2/VT_I4/VT_I1,
// reals VT_R4/VT_R8, texts VT_BSTR (a null text VT_ERROR). An unknown code fails with E_FAIL.
HRESULT ControlValueToVariant(int code, const ControlValue& value, VARIANT* out);

// A new control object for a style, as VT_DISPATCH in *out, and its control type.
HRESULT CreateStyleControl(const ControlStyle& style, NUVControlType* type, VARIANT* out);

class CoNUVGridStaticControl
    : public GridObject<CoNUVGridStaticControl, INUVGridStaticControl, &CLSID_NUVGridStaticControl> {
public:
    static constexpr const char* kErrorSource = "NUVGridStaticControl";
    void Init(const StaticRecord* record) { m_record = record; }
    STDMETHOD(get_DefaultValue)(BSTR* out) override;

private:
    const StaticRecord* m_record = nullptr;
};

class CoNUVGridTextBoxControl
    : public GridObject<CoNUVGridTextBoxControl, INUVGridTextBoxControl, &CLSID_NUVGridTextBoxControl> {
public:
    static constexpr const char* kErrorSource = "NUVGridTextBoxControl";
    void Init(const TextBoxRecord* record) { m_record = record; }
    STDMETHOD(get_DefaultValue)(VARIANT* out) override;
    STDMETHOD(get_MaxSize)(ULONG* out) override;
    STDMETHOD(get_VarType)(VARIANT* out) override;
    STDMETHOD(UseFormat)(VARIANT_BOOL* out) override;
    STDMETHOD(get_FormatType)(VARIANT* out) override;
    STDMETHOD(get_NumPlaces)(INT* out) override;
    STDMETHOD(get_MaskInc)(BSTR* out) override;

private:
    const TextBoxRecord* m_record = nullptr;
};

class CoNUVGridCheckBoxControl
    : public GridObject<CoNUVGridCheckBoxControl, INUVGridCheckBoxControl, &CLSID_NUVGridCheckBoxControl> {
public:
    static constexpr const char* kErrorSource = "NUVGridCheckBoxControl";
    void Init(const CheckBoxRecord* record) { m_record = record; }
    STDMETHOD(get_DefaultState)(NUVCheckBoxState* out) override;
    STDMETHOD(get_Type)(VARIANT* out) override;
    STDMETHOD(get_Checked)(VARIANT* out) override;
    STDMETHOD(get_UnChecked)(VARIANT* out) override;
    STDMETHOD(get_CheckDisplay)(BSTR* out) override;
    STDMETHOD(get_UnCheckedDisplay)(BSTR* out) override;

private:
    const CheckBoxRecord* m_record = nullptr;
};

class CoNUVGridComboBoxControl
    : public GridObject<CoNUVGridComboBoxControl, INUVGridComboBoxControl, &CLSID_NUVGridComboBoxControl> {
public:
    static constexpr const char* kErrorSource = "NUVGridComboBoxControl";
    void Init(const ComboRecord* record) { m_record = record; }
    STDMETHOD(get_DefaultValue)(VARIANT* out) override;
    STDMETHOD(get_Type)(VARIANT* out) override;
    STDMETHOD(Item)(LONG* index, VARIANT* out) override;
    STDMETHOD(Count)(LONG* out) override;
    STDMETHOD(GetEnum)(IDispatch** out) override;

private:
    HRESULT NewItem(size_t position, VARIANT* out) const;
    const ComboRecord* m_record = nullptr;
};

// The item keeps its combo box's value code by value: the records are constant, so the item stays
// readable after the combo box is gone.
class CoNUVGridComboBoxItem
    : public GridObject<CoNUVGridComboBoxItem, INUVGridComboBoxItem, &CLSID_NUVGridComboBoxItem> {
public:
    static constexpr const char* kErrorSource = "NUVGridComboBoxItem";
    void Init(const ComboItem* item, int value_code) {
        m_item = item;
        m_value_code = value_code;
    }
    STDMETHOD(get_Value)(VARIANT* out) override;
    STDMETHOD(get_DisplayName)(BSTR* out) override;
    STDMETHOD(get_QueryName)(BSTR* out) override;

private:
    const ComboItem* m_item = nullptr;
    int m_value_code = 0;
};

}  // namespace nuv::griddef
