// The collections of a block wrapper (blocks, variables, equations, parameters, ports). A collection is
// an alternate identity embedded in its owner: it shares the owner's reference count, validity and error
// source, and every operation runs a body in nuv::coll that takes the owner. The grids call the same
// bodies with row lists of their own.
//
// Client positions count from 1 for every kind; parameters are converted to the engine's 0-based
// positions only where the engine is called. Code that uses the identity classes includes block.h, which
// completes their owner.
#pragma once
#include <climits>
#include <string>
#include <vector>

#include "alt_ident.h"
#include "variant_helpers.h"
#include "wrapper_base.h"

class CoNUVBlock;
class ZEQEOCntr;
class ZEQEOBlock;

enum class MemberKind { Blocks, Variables, Equations, Parameters, Ports };

namespace nuv {

inline constexpr HRESULT kValuesInconsistent = static_cast<HRESULT>(0x80040204);
inline constexpr HRESULT kTooManyValues = static_cast<HRESULT>(0x80040205);
inline constexpr HRESULT kBadAttribute = static_cast<HRESULT>(0x80040502);

// Grid services live in another layer; it installs its makers here. Until then the grid requests of a
// collection answer 0x80040103. `rows` (client positions, or null for all) has `row_count` entries.
using GridMaker = HRESULT (*)(CoNUVBlock* owner, MemberKind kind, const LONG* rows, LONG row_count, REFIID riid,
                              void** ppv);
using GridInfoMaker = HRESULT (*)(int mode, REFIID riid, void** ppv);
void SetGridMakers(GridMaker grid, GridInfoMaker info);
GridMaker CurrentGridMaker();
GridInfoMaker CurrentGridInfoMaker();

namespace coll {

// The id of a name that is no attribute: below every real id, so it selects nothing.
inline constexpr int kUnknownAttribute = INT_MIN;
// A variable row that stands for no object: its cells hold the not-set values.
inline constexpr LONG kEmptyRow = -999;
// The grid-definition mode of a kind.
int GridMode(MemberKind kind);

// Attribute names parsed for one kind: one id per name (kUnknownAttribute when unknown or unreadable)
// with its base type, the text from a '%' on as the name's format, and the mask of every known id.
struct ParsedNames {
    std::vector<int> ids;
    std::vector<int> types;
    std::vector<std::string> formats;
    AttribIdMask mask;
};
void ParseAttributeNames(MemberKind kind, const VariantVector& names, bool with_formats, ParsedNames& out);

// Unreported bodies. The caller has checked the owner's validity and out pointers.
HRESULT Count(CoNUVBlock* owner, MemberKind kind, LONG* count);
HRESULT Item(CoNUVBlock* owner, MemberKind kind, LONG index, REFIID riid, void** ppv);
HRESULT Name2Index(CoNUVBlock* owner, MemberKind kind, const char* name, LONG* index);
HRESULT FindItem(CoNUVBlock* owner, MemberKind kind, const char* name, REFIID riid, void** ppv);
HRESULT NewEnum(CoNUVBlock* owner, MemberKind kind, IUnknown** out);
// Typed item by a VARIANT: a text finds by name, anything else is taken as a position.
HRESULT TypedItem(CoNUVBlock* owner, MemberKind kind, const VARIANT& item, REFIID riid, void** ppv);
// The [row, attribute] matrix (both from 1) of rows start .. start + count - 1: positions of the kind, or,
// with `rows`, the entries rows[start - 1 ..] of that list (client positions; kEmptyRow for an empty row).
HRESULT AttributeMatrix(CoNUVBlock* owner, MemberKind kind, SAFEARRAY* names, LONG start, LONG count,
                        const std::vector<LONG>* rows, SAFEARRAY** out);
// The window checks of GetAttributes and the matrix (names must already be known to hold an array).
HRESULT GetAttributes(CoNUVBlock* owner, MemberKind kind, const VARIANT& names, LONG first, LONG count, VARIANT* out);
// kIndexOutOfRange unless `first` lies in 1 to Count: the first check of SetAttributes, made before its
// arguments' shapes are looked at.
HRESULT CheckFirst(CoNUVBlock* owner, MemberKind kind, LONG first);
// Values is [attribute, row]; S_FALSE when rows matched by name were partly not found.
HRESULT SetAttributes(CoNUVBlock* owner, MemberKind kind, const VARIANT& names, const VARIANT& values, LONG first);
// One attribute of the variable at position `index`. With `generation`, the index is one of the numbering
// at that structure generation: the write reaches the variable that had it then, or, when blocks came or
// went since, fails (kObjectNotFound, or the engine's refusal).
HRESULT SetVariableAttribute(CoNUVBlock* owner, const char* attribute, const VARIANT& value, LONG index,
                             const unsigned* generation = nullptr);
// One attribute of a parameter by name.
HRESULT GetParameterAttribute(CoNUVBlock* owner, const char* attribute, const char* parameter, VARIANT* out);
HRESULT SetParameterAttribute(CoNUVBlock* owner, const char* attribute, const char* parameter, const VARIANT& value);
// The name of the parameter at client position `position`.
HRESULT IndexToName(CoNUVBlock* owner, LONG position, std::string& name);

// The array a VARIANT holds, directly or by reference; null when it holds none.
SAFEARRAY* ArrayOf(const VARIANT& v);

}  // namespace coll
}  // namespace nuv

// A collection identity of one kind over a block wrapper.
template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
class BlockCollectionIdent : public NUVAlternateIdentBase<CoNUVBlock, Ident, Itf, pclsid> {
public:
    using ComMap = CComMap<ComEntryChain<Itf>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;
    static constexpr MemberKind kKind = Kind;

    STDMETHOD(get_Item)(LONG index, INUVObject** out) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(Find)(BSTR name, INUVObject** out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(GetAttributes)(VARIANT names, LONG first, LONG count, VARIANT* out) override;
    STDMETHOD(SetAttributes)(VARIANT names, VARIANT values, LONG first) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;
    // The last, internal operation: unreported.
    virtual HRESULT Name2Index(BSTR name, LONG* index);

protected:
    // The typed item (get_Block, get_Variable ...) queried for riid; out is cleared first.
    template <class I>
    HRESULT TypedItem(const VARIANT& item, REFIID riid, I** out);
};

// The helper identity of a kind: name-to-index lookups for the grids.
template <MemberKind Kind, const CLSID* pclsid>
class CollectionHelperIdent final
    : public NUVAlternateIdentBase<CoNUVBlock, CollectionHelperIdent<Kind, pclsid>, INUVObjectCollectionHelper,
                                   pclsid> {
public:
    using ComMap = CComMap<ComEntryChain<INUVObjectCollectionHelper>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;
    STDMETHOD(Name2Index)(BSTR name, LONG* index) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;
};

class D_AltIdentBlockColl final : public BlockCollectionIdent<D_AltIdentBlockColl, INUVBlockCollection,
                                                              &CLSID_NUVBlockCollection, MemberKind::Blocks> {
public:
    STDMETHOD(get_Block)(VARIANT item, INUVBlock** out) override;
};
class D_AltIdentVariableColl final
    : public BlockCollectionIdent<D_AltIdentVariableColl, INUVVariableCollection, &CLSID_NUVVariableCollection,
                                  MemberKind::Variables> {
public:
    STDMETHOD(get_Variable)(VARIANT item, INUVVariable** out) override;
};
class D_AltIdentEquationColl final
    : public BlockCollectionIdent<D_AltIdentEquationColl, INUVEquationCollection, &CLSID_NUVEquationCollection,
                                  MemberKind::Equations> {
public:
    STDMETHOD(get_Equation)(VARIANT item, INUVEquation** out) override;
};
class D_AltIdentParameterColl final
    : public BlockCollectionIdent<D_AltIdentParameterColl, INUVParameterCollection,
                                  &CLSID_NUVParameterCollection, MemberKind::Parameters> {
public:
    STDMETHOD(get_Parameter)(VARIANT item, INUVParameter** out) override;
};
class D_AltIdentPortsColl final : public BlockCollectionIdent<D_AltIdentPortsColl, INUVPortCollection,
                                                              &CLSID_NUVPortCollection, MemberKind::Ports> {
public:
    STDMETHOD(get_Port)(VARIANT item, INUVPort** out) override;
};
using D_AltIdentVarColHelper = CollectionHelperIdent<MemberKind::Variables, &CLSID_NUVVariableCollection>;
using D_AltIdentEqnColHelper = CollectionHelperIdent<MemberKind::Equations, &CLSID_NUVEquationCollection>;
using D_AltIdentParamColHelper = CollectionHelperIdent<MemberKind::Parameters, &CLSID_NUVParameterCollection>;
using D_AltIdentPortColHelper = CollectionHelperIdent<MemberKind::Ports, &CLSID_NUVPortCollection>;

// The nine identities a block wrapper embeds, each pointed back at the owner.
struct BlockCollections {
    explicit BlockCollections(CoNUVBlock* owner) {
        variables.m_owner = variableHelper.m_owner = equations.m_owner = equationHelper.m_owner = owner;
        ports.m_owner = portHelper.m_owner = parameters.m_owner = parameterHelper.m_owner = blocks.m_owner = owner;
    }
    D_AltIdentVariableColl variables;
    D_AltIdentVarColHelper variableHelper;
    D_AltIdentEquationColl equations;
    D_AltIdentEqnColHelper equationHelper;
    D_AltIdentPortsColl ports;
    D_AltIdentPortColHelper portHelper;
    D_AltIdentParameterColl parameters;
    D_AltIdentParamColHelper parameterHelper;
    D_AltIdentBlockColl blocks;
};
