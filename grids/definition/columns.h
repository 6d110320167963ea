// The column collection and column descriptions of a grid kind, and the collection of control styles.
#pragma once
#include <string>
#include <unordered_map>

#include "grid_object.h"
#include "grid_tables.h"

// The column description with the modification-mask test. It is no member of the type library: C++
// callers reach it with QueryInterface and call it through the function table.
struct INUVGridVarInfo2 : INUVGridVarInfo {
    // The bit of `keyword`'s attribute in the mask text "first;second" (two decimal words), in *out.
    virtual HRESULT STDMETHODCALLTYPE TestModMask(VARIANT mask, BSTR keyword, LONG* out) = 0;
};
DECLARE_UUIDOF(INUVGridVarInfo2, "6B3F0E21-8C4D-4A57-9E12-0D7A5C3B9F64");
inline constexpr IID IID_INUVGridVarInfo2 = __uuidof(INUVGridVarInfo2);
template <>
struct nuv::typelib::InterfaceChain<INUVGridVarInfo2>
    : nuv::typelib::InterfaceList<INUVGridVarInfo2, INUVGridVarInfo, IDispatch> {};

namespace nuv::griddef {

// The two words of a modification mask from "first;second": each part read as a decimal integer (a
// part that is no number reads as 0); without ';' the second word is 0.
struct MaskPair {
    LONG first = 0;
    LONG second = 0;
};
MaskPair ParseMaskPair(const std::string& text);

class CoNUVGridVarInfo : public GridObject<CoNUVGridVarInfo, INUVGridVarInfo2, &CLSID_NUVGridVarInfo,
                                           &IID_INUVGridVarInfo> {
public:
    static constexpr const char* kErrorSource = "NUVGridVarInfo";
    void Init(const ColumnRecord* column) { m_column = column; }
    STDMETHOD(get_EngineName)(BSTR* out) override;
    STDMETHOD(get_DisplayName)(BSTR* out) override;
    STDMETHOD(get_ColumnWidth)(ULONG* out) override;
    STDMETHOD(get_Visible)(VARIANT_BOOL* out) override;
    STDMETHOD(get_ReadOnly)(VARIANT_BOOL* out) override;
    STDMETHOD(get_Resize)(VARIANT_BOOL* out) override;
    STDMETHOD(CanQuery)(VARIANT_BOOL* out) override;
    STDMETHOD(get_DefaultControlStyle)(LONG* out) override;
    STDMETHOD(get_DefaultControlType)(NUVControlType* out) override;
    STDMETHOD(get_ModMask)(ULONG* out) override;
    STDMETHOD(TestModMask)(VARIANT mask, BSTR keyword, LONG* out) override;

private:
    const ColumnRecord* m_column = nullptr;
};

class CoNUVGridColumnCollection
    : public GridObject<CoNUVGridColumnCollection, INUVGridColumnCollection, &CLSID_NUVGridColumnCollection> {
public:
    static constexpr const char* kErrorSource = "NUVGridColumnCollection";
    // Fails with E_INVALIDARG for a kind that has no record.
    HRESULT Init(int kind);
    STDMETHOD(Item)(VARIANT index, VARIANT* out) override;
    STDMETHOD(Count)(LONG* out) override;
    STDMETHOD(NewEnum)(IDispatch** out) override;

private:
    HRESULT NewColumn(int position, VARIANT* out) const;
    int m_count = 0;
    const KindRecord* m_record = nullptr;
    std::unordered_map<std::string, int> m_positions;
};

class CoNUVGridStyleCollection
    : public GridObject<CoNUVGridStyleCollection, INUVGridStyleCollection, &CLSID_NUVGridStyleCollection> {
public:
    static constexpr const char* kErrorSource = "NUVGridStyleCollection";
    STDMETHOD(Item)(LONG* index, NUVControlType* type, VARIANT* out) override;
    STDMETHOD(Count)(LONG* out) override;
    STDMETHOD(NewEnum)(IDispatch** out) override;
};

}  // namespace nuv::griddef
