// Grid services: sortable, filterable row views over the variables, equations, parameters or ports of one
// block. The rows are positions in the owner's collection of that kind (from 1, parameters included); the
// items and attribute matrices come from the collection's bodies over the grid's own row list, and only the
// query and the sort cells are read from the engine directly.
#pragma once
#include <servprov.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "atl/nuvatlcom.h"
#include "collections.h"
#include "error_table.h"
#include "grid_sort.h"
#include "nuvclasslib.h"
#include "simulation_use.h"

class CoNUVBlock;

namespace nuv::grid {

template <MemberKind Kind>
struct GridTraits;
template <>
struct GridTraits<MemberKind::Variables> {
    static constexpr const CLSID* kClsid = &CLSID_NUVVariableGrid;
    static constexpr const char* kSource = "NUVVariableGrid";
};
template <>
struct GridTraits<MemberKind::Equations> {
    static constexpr const CLSID* kClsid = &CLSID_NUVEquationGrid;
    static constexpr const char* kSource = "NUVEquationGrid";
};
template <>
struct GridTraits<MemberKind::Parameters> {
    static constexpr const CLSID* kClsid = &CLSID_NUVParameterGrid;
    static constexpr const char* kSource = "NUVParameterGrid";
};
template <>
struct GridTraits<MemberKind::Ports> {
    static constexpr const CLSID* kClsid = &CLSID_NUVPortGrid;
    static constexpr const char* kSource = "NUVPortGrid";
};

inline constexpr HRESULT kBadSortKey = static_cast<HRESULT>(0x80040501);
inline constexpr HRESULT kBadNameValue = static_cast<HRESULT>(0x80040503);
inline constexpr HRESULT kBadNumberValue = static_cast<HRESULT>(0x80040504);
inline constexpr HRESULT kEmptyRowEdit = static_cast<HRESULT>(0x80040505);
inline constexpr HRESULT kStaleRows = static_cast<HRESULT>(0x80040506);

template <MemberKind Kind>
class CoNUVGrid : public CComObjectRootEx<CComMultiThreadModel>,
                  public IDispatchImpl<INUVGridService, &IID_INUVGridService, &LIBID_NUVClassLib380, 38, 0>,
                  public IProvideClassInfo2Impl<GridTraits<Kind>::kClsid, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                  public ISupportErrorInfo,
                  public IServiceProvider {
public:
    static constexpr const char* kErrorSource = GridTraits<Kind>::kSource;
    using ComMap = CComMap<ComEntryChain<INUVGridService>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;

    // A grid over `owner`'s members of the kind, queried for riid. `rows` (client positions, `count` of them)
    // is the initial row set when given; the equation grid takes none.
    static HRESULT Create(CoNUVBlock* owner, REFIID riid, void** ppv, const LONG* rows, LONG count);

    // INUVObjectCollection
    STDMETHOD(get_Item)(LONG index, INUVObject** out) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(Find)(BSTR name, INUVObject** out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(GetAttributes)(VARIANT names, LONG first, LONG count, VARIANT* out) override;
    STDMETHOD(SetAttributes)(VARIANT names, VARIANT values, LONG first) override;
    // INUVGridService
    STDMETHOD(SetSortKeys)(VARIANT keys, VARIANT orders) override;
    STDMETHOD(SetQueryStrings)(VARIANT queries) override;
    STDMETHOD(SetGridColumns)(VARIANT columns) override;
    STDMETHOD(Prepare)() override;
    STDMETHOD(Sort)() override;
    STDMETHOD(SetAttr)(BSTR name, VARIANT value, LONG row) override;
    STDMETHOD(GetIndexPositions)(VARIANT indices, VARIANT* positions) override;
    STDMETHOD(GetPositionIndices)(VARIANT positions, VARIANT* indices) override;
    // ISupportErrorInfo, IServiceProvider
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

private:
    HRESULT ReportError(HRESULT hr) const { return ReportComError(kErrorSource, hr); }
    // Clears an out pointer; a null one is reported with its plain text and answered E_POINTER.
    template <class P>
    HRESULT ClearOut(P** out) const {
        if (!out) return ReportStandardError(kErrorSource, E_POINTER);
        *out = nullptr;
        return S_OK;
    }
    // A row edit the owner's collection refused: codes of the error table keep their text; any other code
    // is reported with a text naming the attribute.
    HRESULT ReportRefusedEdit(HRESULT hr, const std::string& attribute) const;
    bool OwnerValid() const;
    // A use of the owner's simulation (see simulation_use.h): held by every member that reaches the engine.
    SimulationUse Use() const;
    // The owner's structure count: rows taken at one count name other members at another.
    unsigned StructureGeneration() const;
    // Valid owner and rows that still match its members; the failure code otherwise.
    HRESULT CheckRows() const;
    bool RowsStale() const { return taken_ && generation_ != StructureGeneration(); }
    // Checked again once a call has read members by row: another thread may have moved the members after
    // the call's CheckRows, and then what it read by row may be other members'; or the owner may have
    // retired, and then what it read came from a retired engine object (see nuv::AnswerRead). S_OK when
    // both held; else kInvalidObject or kStaleRows.
    HRESULT ReadStillHolds() const;
    // The same, with answer let go and the failure reported.
    template <class Answer>
    HRESULT Overtaken(Answer& answer) const;
    LONG RowCount() const { return static_cast<LONG>(rows_.size()); }
    LONG CollectionCount() const;
    HRESULT RunQueries();
    void LoadCells(GridSortTable& table, const std::vector<int>& ids, const std::vector<int>& types);
    void FillAliasColumn(SAFEARRAY* matrix, LONG rows) const;
    // The row positions answered for `in` through `map`, framed as GetIndexPositions and GetPositionIndices.
    template <class Map>
    HRESULT MapIntegers(const VARIANT& in, VARIANT* out, Map map);

    // Guards the rows, queries, keys and flags: a grid handed to several threads stays consistent.
    mutable std::recursive_mutex lock_;
    CComPtr<IUnknown> ownerRef_;
    CoNUVBlock* owner_ = nullptr;
    std::vector<LONG> initial_;
    bool hasInitial_ = false;
    std::vector<LONG> rows_;
    std::vector<std::string> queries_;
    std::vector<std::string> keys_;
    std::vector<bool> ascending_;
    std::unique_ptr<GridSortTable> table_;
    bool sorted_ = false;
    bool prepared_ = false;
    bool alias_ = false;
    bool taken_ = false;       // rows were taken by Prepare
    unsigned generation_ = 0;  // the owner's structure count when they were taken
};

using CoNUVVariableGrid = CoNUVGrid<MemberKind::Variables>;
using CoNUVEquationGrid = CoNUVGrid<MemberKind::Equations>;
using CoNUVParameterGrid = CoNUVGrid<MemberKind::Parameters>;
using CoNUVPortGrid = CoNUVGrid<MemberKind::Ports>;

// The collections' grid maker: a grid of `kind` over `owner`.
HRESULT MakeGrid(CoNUVBlock* owner, MemberKind kind, const LONG* rows, LONG count, REFIID riid, void** ppv);

}  // namespace nuv::grid
