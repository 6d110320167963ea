// The grid definition object: one grid kind's layout as properties, its columns and control styles as
// collections, and the whole description as an XML document saved to a stream.
#pragma once
#include <atomic>

#include <msxml2.h>

#include "grid_object.h"
#include "grid_tables.h"

namespace nuv::griddef {

class CoNUVGridInfo : public GridObject<CoNUVGridInfo, INUVGridInfo, &CLSID_NUVGridInfo>, public IPersistStream {
public:
    static constexpr const char* kErrorSource = "NUVGridInfo";
    using ComMap = CComMap<ComEntryChain<INUVGridInfo>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IPersistStream>, ComEntry2<IPersist, IPersistStream>, ComSelfEntry>;

    STDMETHOD(get_ColHeaderHeight)(INT* out) override;
    STDMETHOD(get_RowHeight)(INT* out) override;
    STDMETHOD(get_FrozenCols)(INT* out) override;
    STDMETHOD(get_FrozenRows)(INT* out) override;
    STDMETHOD(get_Columns)(INUVGridColumnCollection** out) override;
    STDMETHOD(get_ControlStyles)(INUVGridStyleCollection** out) override;
    STDMETHOD(get_ColCount)(INT* out) override;
    STDMETHOD(get_PrimaryCol)(INT* out) override;
    STDMETHOD(get_ShowRowHdr)(VARIANT_BOOL* out) override;
    STDMETHOD(get_AllowQueries)(VARIANT_BOOL* out) override;
    STDMETHOD(get_HelpFile)(BSTR* out) override;
    // Kinds outside 0..7 are refused with E_INVALIDARG and the kind stays as it was.
    STDMETHOD(put_Mode)(INT value) override;
    STDMETHOD(get_PreSortedCols)(BSTR name, VARIANT* out) override;

    STDMETHOD(GetClassID)(CLSID* out) override;
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(Load)(IStream*) override { return E_NOTIMPL; }
    STDMETHOD(Save)(IStream* stream, BOOL clear_dirty) override;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER*) override { return E_NOTIMPL; }

    // The definition as a DOM document (what Save writes).
    HRESULT BuildDocument(IXMLDOMDocument** out) const;

private:
    const KindRecord& Record() const { return *FindKind(m_kind.load(std::memory_order_relaxed)); }
    std::atomic<int> m_kind{0};
};

// A new definition of `*kind` queried for riid: what a block collection hands out for its grid
// definition request.
HRESULT CreateGridInfo(const int* kind, REFIID riid, void** ppv);

}  // namespace nuv::griddef
