#include "collections.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "block.h"
#include "class_factory.h"
#include "engine_text.h"
#include "indexed_object.h"
#include "parameter.h"
#include "port.h"
#include "rezoraruz.h"

namespace nuv {

namespace {
std::atomic<GridMaker> g_gridMaker{nullptr};
std::atomic<GridInfoMaker> g_gridInfoMaker{nullptr};
}  // namespace

void SetGridMakers(GridMaker grid, GridInfoMaker info) {
    g_gridMaker.store(grid);
    g_gridInfoMaker.store(info);
}
GridMaker CurrentGridMaker() { return g_gridMaker.load(); }
GridInfoMaker CurrentGridInfoMaker() { return g_gridInfoMaker.load(); }

namespace coll {

namespace {

int BaseTypeOf(MemberKind kind, int id) {
    switch (kind) {
        case MemberKind::Variables: return ZEQVariableData::BaseType(id);
        case MemberKind::Equations: return ZEQEquationData::BaseType(id);
        case MemberKind::Parameters: return ZEQParameterData::BaseType(id);
        case MemberKind::Ports: return ZEQPortData::BaseType(id);
        case MemberKind::Blocks: break;
    }
    return 0;
}

bool AttribIdOf(MemberKind kind, const char* name, int* id) {
    switch (kind) {
        case MemberKind::Variables: return ZEQVariableData::AttribId(name, id);
        case MemberKind::Equations: return ZEQEquationData::AttribId(name, id);
        case MemberKind::Parameters: return ZEQParameterData::AttribId(name, id);
        case MemberKind::Ports: return ZEQPortData::AttribId(name, id);
        case MemberKind::Blocks: break;
    }
    return false;
}

// A BSTR of an engine text: plain ASCII is widened straight into the string, anything else converted.
BSTR TextCell(const char* s) {
    if (!s) s = "";
    size_t n = 0;
    bool ascii = true;
    for (; s[n]; ++n) ascii = ascii && static_cast<unsigned char>(s[n]) < 0x80;
    if (!ascii) return bstr_from_utf8(s);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (b)
        for (size_t i = 0; i < n; ++i) b[i] = static_cast<OLECHAR>(s[i]);
    return b;
}

bool WantsText(const std::string& format) { return format.size() >= 2 && format[1] == 's'; }

void ToText(VARIANT* cell) {
    if (cell->vt != VT_EMPTY && cell->vt != VT_BSTR) VariantChangeType(cell, cell, 0, VT_BSTR);
}

// One cell of a loaded record by the attribute's base type; a value the record cannot give stays empty.
template <class Record>
void FillCell(const Record& record, int type, int id, const std::string& format, VARIANT* cell) {
    const bool text = WantsText(format);
    switch (type) {
        case ZEQ_TYPE_DOUBLE:
            if constexpr (requires(double d) { record.GetValue(id, d); }) {
                double d = 0;
                if (!record.GetValue(id, d)) return;
                cell->vt = VT_R8;
                cell->dblVal = d;
                if (text) ToText(cell);
            }
            return;
        case ZEQ_TYPE_TEXT: {
            const char* s = nullptr;
            if (!record.GetValue(id, s)) return;
            cell->bstrVal = TextCell(s);
            cell->vt = cell->bstrVal ? VT_BSTR : VT_EMPTY;
            return;
        }
        case ZEQ_TYPE_INT: {
            int i = 0;
            if (!record.GetValue(id, i)) return;
            cell->vt = VT_I4;
            cell->lVal = i;
            if (text) ToText(cell);
            return;
        }
        case ZEQ_TYPE_ENUM: {
            if (text) {
                const char* s = nullptr;
                if (!record.GetValue(id, s)) return;
                cell->bstrVal = TextCell(s);
                cell->vt = cell->bstrVal ? VT_BSTR : VT_EMPTY;
            } else {
                int i = 0;
                if (!record.GetValue(id, i)) return;
                cell->vt = VT_I4;
                cell->lVal = i;
            }
            return;
        }
        case ZEQ_TYPE_VARIANT:
            if constexpr (requires(VARIANT* v) { record.GetValue(id, v); }) {
                if (!record.GetValue(id, cell)) {
                    VariantClear(cell);
                    return;
                }
                if (text) ToText(cell);
            }
            return;
        default: return;
    }
}

// Cells are filled in place: the matrix is new, so every cell starts empty and owns nothing.
template <class Record>
void FillRow(const Record& record, const ParsedNames& parsed, VariantMatrix& matrix, ULONG row) {
    for (ULONG c = 0; c < parsed.ids.size(); ++c) {
        LONG index[2] = {static_cast<LONG>(row) + 1, static_cast<LONG>(c) + 1};
        VARIANT* cell = nullptr;
        if (FAILED(SafeArrayPtrOfIndex(matrix.Array(), index, reinterpret_cast<void**>(&cell))) || !cell) continue;
        const int id = parsed.ids[c];
        if (id == kUnknownAttribute) {
            // no such attribute: the cell stays empty
        } else if (id < -8) {
            cell->vt = VT_ERROR;
            cell->scode = E_INVALIDARG;
        } else {
            FillCell(record, parsed.types[c], id, parsed.formats[c], cell);
        }
    }
}

// Where variable and equation records of the owner load from: its container, or the parent with its block.
struct LoadPlace {
    ZEQEOCntr* container = nullptr;
    ZEQEOBlock* block = nullptr;
};
LoadPlace PlaceOf(CoNUVBlock* owner) {
    if (ZEQEOCntr* own = owner->GetEngineContainer()) return {own, nullptr};
    return {owner->GetParentContainer(), owner->GetEngineBlock()};
}

HRESULT CheckIndex(LONG index, LONG count) { return index >= 1 && index <= count ? S_OK : kIndexOutOfRange; }

// A name looked up in the parent container as "<block>.<name>", else as given; the parent's index is
// turned into the block's own position and must fall inside the block.
LONG LeafPosition(CoNUVBlock* owner, const char* name, bool equations) {
    ZEQEOBlock* block = owner->GetEngineBlock();
    ZEQEOCntr* parent = owner->GetParentContainer();
    if (!block || !parent || !name) return 0;
    const int first = equations ? block->GetFirstEquationIndex() : block->GetFirstIndex();
    const int count = equations ? block->GetEquationCount() : block->GetCount();
    const char* own = block->GetName();
    std::string joined = std::string(own ? own : "") + "." + name;
    for (const char* candidate : {joined.c_str(), name}) {
        const int p = equations ? parent->FindEquationIndex(candidate) : parent->FindIndex(candidate);
        if (p < 1) continue;
        const int64_t position = static_cast<int64_t>(p) - first + 1;
        if (position >= 1 && position <= count) return static_cast<LONG>(position);
    }
    return 0;
}

// Variables and equations are made by index: an index found in one engine call (a name looked up, a
// block's first member) names another member once blocks came or went before the next call. `make` runs
// again until the numbering held from before it to after it; what an overtaken run made is let go.
template <class Make>
HRESULT MakeMemberSteadily(CoNUVBlock* owner, void** ppv, Make&& make) {
    ZEQEOCntr* numbering = PlaceOf(owner).container;
    if (!numbering) return make();
    for (int attempt = 0; attempt < kNumberingAttempts; ++attempt) {
        const unsigned generation = numbering->GetStructureGeneration();
        const HRESULT hr = make();
        if (numbering->GetStructureGeneration() == generation) return hr;
        if (SUCCEEDED(hr) && *ppv) {
            static_cast<IUnknown*>(*ppv)->Release();
            *ppv = nullptr;
        }
    }
    return E_FAIL;
}

}  // namespace

int GridMode(MemberKind kind) {
    switch (kind) {
        case MemberKind::Variables: return 0;
        case MemberKind::Ports: return 1;
        case MemberKind::Parameters: return 2;
        case MemberKind::Equations: return 3;
        case MemberKind::Blocks: break;
    }
    return -1;
}

SAFEARRAY* ArrayOf(const VARIANT& v) { return ArrayIn(v); }

void ParseAttributeNames(MemberKind kind, const VariantVector& names, bool with_formats, ParsedNames& out) {
    out.mask.Assign(0);
    const ULONG n = names.GetCount();
    out.ids.assign(n, kUnknownAttribute);
    out.types.assign(n, 0);
    out.formats.assign(n, std::string());
    for (ULONG i = 0; i < n; ++i) {
        std::string name;
        if (FAILED(names.GetElement(i, name))) continue;
        const size_t percent = name.find('%');
        if (percent != std::string::npos && percent + 1 < name.size()) {
            if (with_formats) out.formats[i] = name.substr(percent);
            name.resize(percent);
        }
        int id = 0;
        if (AttribIdOf(kind, name.c_str(), &id)) {
            out.ids[i] = id;
            out.types[i] = BaseTypeOf(kind, id);
            out.mask.Add(id);
        }
    }
}

HRESULT Count(CoNUVBlock* owner, MemberKind kind, LONG* count) {
    *count = 0;
    ZEQEOCntr* container = owner->GetEngineContainer();
    ZEQEOBlock* block = owner->GetEngineBlock();
    switch (kind) {
        case MemberKind::Blocks: *count = container ? container->GetBlockCount() : 0; break;
        case MemberKind::Variables: *count = container ? container->GetCount() : block ? block->GetCount() : 0; break;
        case MemberKind::Equations:
            *count = container ? container->GetEquationCount() : block ? block->GetEquationCount() : 0;
            break;
        case MemberKind::Parameters: *count = block ? block->GetParameterCount() : 0; break;
        case MemberKind::Ports: *count = block ? block->GetPortCount() : 0; break;
    }
    if (*count < 0) *count = 0;
    return S_OK;
}

HRESULT Item(CoNUVBlock* owner, MemberKind kind, LONG index, REFIID riid, void** ppv) {
    ZEQEOSimulation* sim = owner->GetEngineSimulation();
    if (!sim) return kInvalidObject;
    LONG count = 0;
    Count(owner, kind, &count);
    if (HRESULT hr = CheckIndex(index, count); FAILED(hr)) return hr;
    ZEQEOCntr* container = owner->GetEngineContainer();
    ZEQEOBlock* block = owner->GetEngineBlock();
    switch (kind) {
        case MemberKind::Blocks: {
            ZEQEOBlock* member = container ? container->GetBlock(index) : nullptr;
            if (!member) return kIndexOutOfRange;
            return NUVClassFactory::QueryCreateWrapper(sim, member, riid, ppv);
        }
        case MemberKind::Variables:
        case MemberKind::Equations: {
            const bool equations = kind == MemberKind::Equations;
            HRESULT hr = E_INVALIDARG;
            if (container) {
                hr = equations ? container->GetEquationItem(index, riid, ppv) : container->GetItem(index, riid, ppv);
            } else {
                ZEQEOCntr* parent = owner->GetParentContainer();
                if (!parent || !block) return owner->GetEngineSimulation() ? kObjectNotFound : kInvalidObject;
                hr = MakeMemberSteadily(owner, ppv, [&] {
                    const int first = equations ? block->GetFirstEquationIndex() : block->GetFirstIndex();
                    const int at = first + index - 1;
                    return equations ? parent->GetEquationItem(at, riid, ppv) : parent->GetItem(at, riid, ppv);
                });
            }
            // The engine has no member there any more (another thread removed members since the count was
            // taken): the owner has gone, or has fewer members now.
            if (hr == E_INVALIDARG) return owner->GetEngineSimulation() ? kIndexOutOfRange : kInvalidObject;
            return hr;
        }
        case MemberKind::Parameters: return owner->Parameters().Item(owner, index - 1, riid, ppv);
        case MemberKind::Ports: {
            zeq_port* port = block ? block->GetPort(index) : nullptr;
            if (!port) return kIndexOutOfRange;
            return CoNUVPort::CreateOrFind(sim, owner, port, riid, ppv);
        }
    }
    return E_UNEXPECTED;
}

HRESULT Name2Index(CoNUVBlock* owner, MemberKind kind, const char* name, LONG* index) {
    *index = 0;
    if (!name) return kObjectNotFound;
    ZEQEOCntr* container = owner->GetEngineContainer();
    ZEQEOBlock* block = owner->GetEngineBlock();
    LONG found = 0;
    switch (kind) {
        case MemberKind::Blocks: return E_NOTIMPL;
        case MemberKind::Variables:
        case MemberKind::Equations: {
            const bool equations = kind == MemberKind::Equations;
            if (container) {
                found = equations ? container->FindEquationIndex(name) : container->FindIndex(name);
                break;
            }
            // A leaf's position takes several engine calls (its first index, its count, the name's index):
            // read again until the numbering held throughout, so that a live member is never missed.
            ZEQEOCntr* numbering = owner->GetParentContainer();
            bool steady = false;
            for (int attempt = 0; attempt < kNumberingAttempts && !steady; ++attempt) {
                const unsigned generation = numbering ? numbering->GetStructureGeneration() : 0;
                found = LeafPosition(owner, name, equations);
                steady = !numbering || numbering->GetStructureGeneration() == generation;
            }
            if (!steady) return E_FAIL;  // the numbering moved during every attempt
            break;
        }
        case MemberKind::Parameters: {
            const int n = block ? block->GetParameterCount() : 0;
            for (int i = 0; i < n && !found; ++i) {
                const char* p = block->GetParameterName(i);
                if (p && stred_caseless_cmp(p, name) == 0) found = i + 1;
            }
            break;
        }
        case MemberKind::Ports: found = block ? block->FindPort(name) : 0; break;
    }
    if (found < 1) return kObjectNotFound;
    *index = found;
    return S_OK;
}

HRESULT FindItem(CoNUVBlock* owner, MemberKind kind, const char* name, REFIID riid, void** ppv) {
    ZEQEOSimulation* sim = owner->GetEngineSimulation();
    if (!sim) return kInvalidObject;
    if (kind == MemberKind::Blocks) {
        ZEQEOCntr* container = owner->GetEngineContainer();
        ZEQEOBlock* found = container && name ? container->FindBlock(name) : nullptr;
        if (!found) return kObjectNotFound;
        return NUVClassFactory::QueryCreateWrapper(sim, found, riid, ppv);
    }
    if (kind == MemberKind::Parameters) return owner->Parameters().Find(owner, name, riid, ppv);
    const auto find = [&] {
        LONG index = 0;
        if (HRESULT hr = Name2Index(owner, kind, name, &index); FAILED(hr)) return hr;
        return Item(owner, kind, index, riid, ppv);
    };
    if (kind != MemberKind::Variables && kind != MemberKind::Equations) return find();
    return MakeMemberSteadily(owner, ppv, find);
}

namespace {

// Variables and equations are enumerated as the client fetches them: a container of a million members
// makes each wrapper when it is reached, not all of them (and two arrays of them) before the first Next.
// The count is taken when the enumeration starts, as a list would be.
class MemberEnum : public CComObjectRootEx<CComMultiThreadModel>, public IEnumVARIANT {
public:
    using ComMap = CComMap<ComEntry<IEnumVARIANT>, ComEntryIID<&IID_IEnumVARIANT, IEnumVARIANT>>;

    void Init(CoNUVBlock* owner, MemberKind kind, LONG count, LONG pos) {
        m_owner = owner;
        static_cast<INUVBlock2*>(owner)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&m_keep));
        m_kind = kind;
        m_count = count;
        m_pos = pos;
    }
    static HRESULT Make(CoNUVBlock* owner, MemberKind kind, LONG count, LONG pos, IEnumVARIANT** out) {
        CComObject<MemberEnum>* e = nullptr;
        HRESULT hr = CComObject<MemberEnum>::CreateInstance(&e);
        if (FAILED(hr)) return hr;
        e->AddRef();
        e->Init(owner, kind, count, pos);
        *out = e;
        return S_OK;
    }

    STDMETHOD(Next)(ULONG celt, VARIANT* rgelt, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!rgelt || (celt > 1 && !fetched)) return E_POINTER;
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        // Nothing is fetched once the owner's simulation has gone.
        const SimulationUse use = m_owner->Use();
        ULONG n = 0;
        for (; use && n < celt && m_pos < m_count; ++n, ++m_pos) {
            VARIANT& v = rgelt[n];
            VariantInit(&v);
            IDispatch* item = nullptr;
            // The collection ends where its members end now: its owner has gone, or members were removed
            // since the count was taken. No empty object is handed out.
            // An owner that retired during the fetch may have answered from its retired engine object.
            const HRESULT hr = Item(m_owner, m_kind, m_pos + 1, IID_IDispatch, reinterpret_cast<void**>(&item));
            if (FAILED(AnswerRead(m_owner->IsValid() != VARIANT_FALSE, hr, &item)) || !item) {
                m_pos = m_count;
                break;
            }
            v.vt = VT_DISPATCH;
            v.pdispVal = item;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override {
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        if (celt > static_cast<ULONG>(m_count - m_pos)) {
            m_pos = m_count;
            return S_FALSE;
        }
        m_pos += static_cast<LONG>(celt);
        return S_OK;
    }
    STDMETHOD(Reset)() override {
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        m_pos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumVARIANT** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        return Make(m_owner, m_kind, m_count, m_pos, pp);
    }

private:
    CComPtr<IUnknown> m_keep;  // the owner stays alive as long as its enumerators
    CoNUVBlock* m_owner = nullptr;
    MemberKind m_kind = MemberKind::Variables;
    LONG m_count = 0, m_pos = 0;
};

}  // namespace

HRESULT NewEnum(CoNUVBlock* owner, MemberKind kind, IUnknown** out) {
    LONG n = 0;
    Count(owner, kind, &n);
    if (kind == MemberKind::Variables || kind == MemberKind::Equations) {
        if (!out) return E_POINTER;
        *out = nullptr;
        IEnumVARIANT* e = nullptr;
        HRESULT hr = MemberEnum::Make(owner, kind, n, 0, &e);
        if (FAILED(hr)) return hr;
        hr = e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
        e->Release();
        return hr;
    }
    std::vector<CComVariant> items(static_cast<size_t>(n));
    for (LONG i = 0; i < n; ++i) {
        VARIANT& v = items[static_cast<size_t>(i)];
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        Item(owner, kind, i + 1, IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
    }
    static_assert(sizeof(CComVariant) == sizeof(VARIANT));
    return CreateVariantEnumerator(items.data(), static_cast<ULONG>(items.size()), out);
}

HRESULT TypedItem(CoNUVBlock* owner, MemberKind kind, const VARIANT& item, REFIID riid, void** ppv) {
    ItemKey key;
    if (HRESULT hr = ReadItemKey(item, key); FAILED(hr)) return hr == E_INVALIDARG ? hr : kBadIndexType;
    return key.by_name ? FindItem(owner, kind, key.name.c_str(), riid, ppv) : Item(owner, kind, key.position, riid, ppv);
}

HRESULT AttributeMatrix(CoNUVBlock* owner, MemberKind kind, SAFEARRAY* names, LONG start, LONG count,
                        const std::vector<LONG>* rows, SAFEARRAY** out) {
    *out = nullptr;
    VariantVector vector;
    if (HRESULT hr = vector.Attach(names, false); FAILED(hr)) return hr;
    ParsedNames parsed;
    ParseAttributeNames(kind, vector, true, parsed);
    if (count < 0) count = 0;
    if (rows && (start < 1 || static_cast<int64_t>(start) - 1 + count > static_cast<int64_t>(rows->size())))
        return kIndexOutOfRange;
    const LoadPlace place = PlaceOf(owner);
    ZEQEOBlock* block = owner->GetEngineBlock();
    VariantMatrix matrix(static_cast<ULONG>(count), static_cast<ULONG>(parsed.ids.size()), 1, 1);
    if (!matrix.Array()) return E_OUTOFMEMORY;
    for (LONG r = 0; r < count; ++r) {
        const LONG index = rows ? (*rows)[static_cast<size_t>(start + r - 1)] : start + r;
        const ULONG row = static_cast<ULONG>(r);
        switch (kind) {
            case MemberKind::Variables: {
                ZEQVariableData record;
                record.SetMask(parsed.mask.First(), parsed.mask.Second());
                if (index == kEmptyRow)
                    record.SetNotSet();
                else
                    record.Load(place.container, place.block, index, true);
                FillRow(record, parsed, matrix, row);
                break;
            }
            case MemberKind::Equations: {
                ZEQEquationData record;
                record.SetMask(parsed.mask.First(), parsed.mask.Second());
                record.Load(place.container, place.block, index);
                FillRow(record, parsed, matrix, row);
                break;
            }
            case MemberKind::Parameters: {
                ZEQParameterData record;
                record.SetMask(parsed.mask.First(), parsed.mask.Second());
                record.Load(block, static_cast<int>(index) - 1, true);
                FillRow(record, parsed, matrix, row);
                break;
            }
            case MemberKind::Ports: {
                ZEQPortData record;
                record.SetMask(parsed.mask.First(), parsed.mask.Second());
                record.Load(block, static_cast<int>(index));
                FillRow(record, parsed, matrix, row);
                break;
            }
            case MemberKind::Blocks: return E_NOTIMPL;
        }
    }
    *out = matrix.Detach();
    return S_OK;
}

HRESULT GetAttributes(CoNUVBlock* owner, MemberKind kind, const VARIANT& names, LONG first, LONG count, VARIANT* out) {
    // Each row loads in an engine call of its own: a matrix some of whose rows were read before blocks
    // came or went and some after is read again, so that it shows the members at one numbering. While
    // another thread keeps adding and removing blocks no reading may see one numbering throughout: the
    // last one is answered then, each row whole, rather than a failure the caller could do nothing about.
    ZEQEOCntr* numbering = kind == MemberKind::Variables || kind == MemberKind::Equations ? PlaceOf(owner).container
                                                                                           : nullptr;
    const LONG asked = count;
    for (int attempt = 0; attempt < kNumberingAttempts; ++attempt) {
        const unsigned generation = numbering ? numbering->GetStructureGeneration() : 0;
        LONG total = 0;
        Count(owner, kind, &total);
        if (HRESULT hr = CheckIndex(first, total); FAILED(hr)) return hr;
        const LONG remaining = total - first + 1;
        count = asked <= 0 || asked > remaining ? remaining : asked;
        SAFEARRAY* matrix = nullptr;
        if (HRESULT hr = AttributeMatrix(owner, kind, ArrayOf(names), first, count, nullptr, &matrix); FAILED(hr))
            return hr;
        if (numbering && numbering->GetStructureGeneration() != generation && attempt + 1 < kNumberingAttempts) {
            SafeArrayDestroy(matrix);
            continue;
        }
        out->vt = VT_ARRAY | VT_VARIANT;
        out->parray = matrix;
        return S_OK;
    }
    return E_UNEXPECTED;  // not reached: the last attempt answers
}

namespace {

// How a base unit given as text is taken: a single attribute set names the unit the variable is shown in
// with it; a values row only sets the attribute.
enum class BaseUnitText { SetsShownUnit, AttributeOnly };

// A cell converted for a variable record and set; false results become E_INVALIDARG.
HRESULT SetVariableCell(ZEQVariableData& record, int id, const VARIANT& given, BaseUnitText baseUnit) {
    CComVariant cell, v;
    HRESULT hr = CopyInVariant(given, &cell);
    if (FAILED(hr)) return hr;
    bool ok = false;
    switch (ZEQVariableData::BaseType(id)) {
        case ZEQ_TYPE_DOUBLE:
            if (FAILED(hr = VariantChangeType(&v, &cell, 0, VT_R8))) return hr;
            ok = record.SetValue(id, v.dblVal);
            break;
        case ZEQ_TYPE_TEXT: {
            if (FAILED(hr = VariantChangeType(&v, &cell, 0, VT_BSTR))) return hr;
            const EngineText text(v.bstrVal);
            if (FAILED(hr = text.Check())) return hr;
            if (id == VA_BASEUOM && baseUnit == BaseUnitText::SetsShownUnit) {
                ok = record.SetValue(VA_UOM, text.c_str());
                if (ok) record.mask.Add(VA_UOM);
                record.SetValue(id, text.c_str());
            } else {
                ok = record.SetValue(id, text.c_str());
            }
            break;
        }
        case ZEQ_TYPE_INT:
            if (FAILED(hr = VariantChangeType(&v, &cell, 0, VT_I4))) return hr;
            ok = record.SetValue(id, static_cast<int>(v.lVal));
            break;
        case ZEQ_TYPE_ENUM:
            if (cell.vt == VT_BSTR) {
                const EngineText text(cell.bstrVal);
                if (FAILED(hr = text.Check())) return hr;
                ok = record.SetValue(id, text.c_str());
            } else {
                if (FAILED(hr = VariantChangeType(&v, &cell, 0, VT_I4))) return hr;
                ok = record.SetValue(id, static_cast<int>(v.lVal));
            }
            break;
        default: return kBadAttribute;
    }
    if (!ok) return E_INVALIDARG;
    record.mask.Add(id);
    return S_OK;
}

HRESULT SetParameterCell(ZEQEOBlock* block, const char* parameter, int id, const VARIANT& cell) {
    // The engine reads a copy with its references followed: a reference to nothing never reaches it.
    CComVariant copy;
    if (HRESULT hr = CopyInVariant(cell, &copy); FAILED(hr)) return hr;
    ZEQParameterData record;
    record.mask.Set(id);
    if (!record.Load(block, parameter, true)) return kObjectNotFound;
    bool ok = false;
    if (ZEQParameterData::BaseType(id) == ZEQ_TYPE_TEXT) {
        if (HRESULT hr = copy.ChangeType(VT_BSTR); FAILED(hr)) return hr;
        const EngineText text(copy.bstrVal);
        if (HRESULT hr = text.Check(); FAILED(hr)) return hr;
        ok = record.SetValue(id, text.c_str());
    } else {
        ok = record.SetValue(id, static_cast<const VARIANT&>(copy));
    }
    if (!ok) return E_INVALIDARG;
    const int result = record.Commit(block, parameter, true);
    return result < 0 ? static_cast<HRESULT>(result) : S_OK;
}

}  // namespace

HRESULT CheckFirst(CoNUVBlock* owner, MemberKind kind, LONG first) {
    LONG total = 0;
    Count(owner, kind, &total);
    return CheckIndex(first, total);
}

HRESULT SetAttributes(CoNUVBlock* owner, MemberKind kind, const VARIANT& names, const VARIANT& values, LONG first) {
    if (kind != MemberKind::Variables && kind != MemberKind::Parameters) return E_NOTIMPL;
    LONG total = 0;
    Count(owner, kind, &total);
    if (HRESULT hr = CheckIndex(first, total); FAILED(hr)) return hr;
    VariantVector vector;
    if (HRESULT hr = vector.Attach(ArrayOf(names), false); FAILED(hr)) return hr;
    VariantMatrix matrix;
    if (HRESULT hr = matrix.Attach(ArrayOf(values), false); FAILED(hr)) return hr;
    if (matrix.Rows() != vector.GetCount()) return kValuesInconsistent;
    ParsedNames parsed;
    ParseAttributeNames(kind, vector, false, parsed);
    const ULONG columns = static_cast<ULONG>(parsed.ids.size());
    const ULONG value_rows = matrix.Columns();

    // Each values row goes to one object: matched by its NAME cell, or in order from `first`.
    std::vector<LONG> targets(value_rows, 0);
    HRESULT result = S_OK;
    ULONG name_column = columns;
    if (kind == MemberKind::Variables)
        for (ULONG c = 0; c < columns; ++c)
            if (parsed.ids[c] == VA_NAME) {
                name_column = c;
                break;
            }
    std::vector<std::string> row_names(name_column < columns ? value_rows : 0);
    if (name_column < columns) {
        ULONG matched = 0;
        for (ULONG r = 0; r < value_rows; ++r) {
            CComVariant cell, text;
            if (FAILED(matrix.GetElement(name_column, r, &cell)) ||
                FAILED(VariantChangeType(&text, &cell, 0, VT_BSTR)))
                continue;
            const EngineText name(text.bstrVal);
            if (!name.Whole()) continue;  // names no variable
            row_names[r] = name.str();
            LONG index = 0;
            const HRESULT hr = Name2Index(owner, kind, row_names[r].c_str(), &index);
            if (SUCCEEDED(hr)) {
                targets[r] = index;
                ++matched;
            } else if (hr != kObjectNotFound) {
                return hr;  // not known to be missing: never answered as a row not found
            }
        }
        if (matched == 0 && value_rows > 0) return kObjectNotFound;
        if (matched < value_rows) result = S_FALSE;
    } else {
        if (static_cast<int64_t>(value_rows) > static_cast<int64_t>(total) - first + 1) return kTooManyValues;
        for (ULONG r = 0; r < value_rows; ++r) targets[r] = first + static_cast<LONG>(r);
    }

    const LoadPlace place = PlaceOf(owner);
    ZEQEOBlock* block = owner->GetEngineBlock();
    // The cells of values row r into a variable record or to the parameter's cells.
    auto set_cells = [&](ULONG r, ZEQVariableData& record, const std::string& parameter) {
        for (ULONG c = 0; c < columns; ++c) {
            const int id = parsed.ids[c];
            if (id < 0) return E_INVALIDARG;
            if (id == VA_NAME) continue;  // names are matched (variables) or fixed (parameters), never written
            CComVariant cell;
            if (HRESULT hr = matrix.GetElement(c, r, &cell); FAILED(hr)) return hr;
            HRESULT hr = kind == MemberKind::Variables ? SetVariableCell(record, id, cell, BaseUnitText::AttributeOnly)
                                                       : SetParameterCell(block, parameter.c_str(), id, cell);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    };
    for (ULONG r = 0; r < value_rows; ++r) {
        if (targets[r] < 1) continue;
        if (kind == MemberKind::Parameters) {
            std::string parameter;
            if (HRESULT hr = IndexToName(owner, targets[r], parameter); FAILED(hr)) return hr;
            ZEQVariableData unused;
            if (HRESULT hr = set_cells(r, unused, parameter); FAILED(hr)) return hr;
            continue;
        }
        // A row matched by name goes to the variable of that name: its index is found again with the
        // record's load, and both made again when blocks came or went in between. The record is loaded
        // (with no attribute: only what is set is written) so that the engine commits it to the variable
        // it was loaded from only.
        HRESULT written = E_FAIL;  // the numbering moved during every attempt
        for (int attempt = 0; attempt < kNumberingAttempts; ++attempt) {
            const unsigned generation = place.container ? place.container->GetStructureGeneration() : 0;
            const auto moved = [&] {
                return place.container && place.container->GetStructureGeneration() != generation;
            };
            LONG index = targets[r];
            if (!row_names.empty()) {
                const HRESULT found = Name2Index(owner, kind, row_names[r].c_str(), &index);
                if (found == kObjectNotFound) {
                    written = S_OK;  // gone since it was matched: as a row not found
                    result = S_FALSE;
                    break;
                }
                if (FAILED(found)) return found;
            }
            ZEQVariableData record;
            record.SetMask(0, 0);
            record.Load(place.container, place.block, index, true);
            if (moved()) continue;
            if (HRESULT hr = set_cells(r, record, std::string()); FAILED(hr)) return hr;
            const int committed = record.Commit(place.container, place.block, index, true);
            written = committed < 0 ? static_cast<HRESULT>(committed) : S_OK;
            if (committed >= 0 || !moved()) break;
        }
        if (FAILED(written)) return written;
    }
    return result;
}

HRESULT SetVariableAttribute(CoNUVBlock* owner, const char* attribute, const VARIANT& value, LONG index,
                             const unsigned* generation) {
    int id = 0;
    if (!attribute || !ZEQVariableData::AttribId(attribute, &id)) return kBadAttribute;
    const LoadPlace place = PlaceOf(owner);
    // The record is loaded first (with no attribute: only what is set is written): the engine commits a
    // loaded record only to the variable it was loaded from, which is the one at index while the
    // numbering still is the given one. An index that names no variable leaves the record unloaded, and
    // the commit refuses it.
    ZEQVariableData record;
    record.SetMask(0, 0);
    record.Load(place.container, place.block, index, true);
    if (generation && (!place.container || place.container->GetStructureGeneration() != *generation))
        return kObjectNotFound;
    if (HRESULT hr = SetVariableCell(record, id, value, BaseUnitText::SetsShownUnit); FAILED(hr)) return hr;
    const int committed = record.Commit(place.container, place.block, index, true);
    return committed < 0 ? static_cast<HRESULT>(committed) : S_OK;
}

HRESULT GetParameterAttribute(CoNUVBlock* owner, const char* attribute, const char* parameter, VARIANT* out) {
    VariantInit(out);
    int id = 0;
    if (!attribute || !ZEQParameterData::AttribId(attribute, &id)) return kBadAttribute;
    ZEQParameterData record;
    record.mask.Set(id);
    if (!record.Load(owner->GetEngineBlock(), parameter, true)) return kObjectNotFound;
    FillCell(record, ZEQParameterData::BaseType(id), id, std::string(), out);
    return out->vt == VT_EMPTY ? E_INVALIDARG : S_OK;
}

HRESULT SetParameterAttribute(CoNUVBlock* owner, const char* attribute, const char* parameter, const VARIANT& value) {
    int id = 0;
    if (!attribute || !ZEQParameterData::AttribId(attribute, &id)) return kBadAttribute;
    return SetParameterCell(owner->GetEngineBlock(), parameter, id, value);
}

HRESULT IndexToName(CoNUVBlock* owner, LONG position, std::string& name) {
    ZEQEOBlock* block = owner->GetEngineBlock();
    const char* found = block && position >= 1 ? block->GetParameterName(static_cast<int>(position) - 1) : nullptr;
    if (!found) return kObjectNotFound;
    name = found;
    return S_OK;
}

}  // namespace coll
}  // namespace nuv

// ---- identities ----

namespace {
bool SameText(BSTR name, const char* text) {
    const nuv::EngineText given(name);
    return given.Whole() && stred_caseless_cmp(given.c_str(), text) == 0;
}
}  // namespace

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::get_Item(LONG index, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    HRESULT hr = nuv::coll::Item(this->m_owner, Kind, index, IID_INUVObject, reinterpret_cast<void**>(out));
    return this->Answer(hr, out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::get__NewEnum(IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    HRESULT hr = nuv::coll::NewEnum(this->m_owner, Kind, out);
    return this->Answer(hr, out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = 0;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    return this->Answer(nuv::coll::Count(this->m_owner, Kind, out), out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::Find(BSTR name, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    const nuv::EngineText text(name);
    HRESULT hr = text.Check();
    if (SUCCEEDED(hr))
        hr = nuv::coll::FindItem(this->m_owner, Kind, text.c_str(), IID_INUVObject, reinterpret_cast<void**>(out));
    return this->Answer(hr, out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::GetService(BSTR name, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    if (Kind == MemberKind::Blocks) return this->ReportError(nuv::kNoService);
    HRESULT hr = nuv::kNoService;
    if (SameText(name, "GridService")) {
        if (nuv::GridMaker make = nuv::CurrentGridMaker())
            hr = make(this->m_owner, Kind, nullptr, 0, IID_IUnknown, reinterpret_cast<void**>(out));
    } else if (SameText(name, "GridInfoService")) {
        if (nuv::GridInfoMaker make = nuv::CurrentGridInfoMaker())
            hr = make(nuv::coll::GridMode(Kind), IID_IUnknown, reinterpret_cast<void**>(out));
    } else if (SameText(name, "NUVObjectCollectionHelper")) {
        hr = this->m_owner->QueryHelper(Kind, IID_IUnknown, reinterpret_cast<void**>(out));
    }
    return this->Answer(hr, out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::GetAttributes(VARIANT names, LONG first, LONG count,
                                                                           VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    if (Kind == MemberKind::Blocks) return this->ReportError(E_NOTIMPL);
    if (!nuv::coll::ArrayOf(names)) return E_INVALIDARG;
    HRESULT hr = nuv::coll::GetAttributes(this->m_owner, Kind, names, first, count, out);
    return this->Answer(hr, out);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::SetAttributes(VARIANT names, VARIANT values,
                                                                           LONG first) {
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    // Only the block collection refuses without error information.
    if (Kind == MemberKind::Blocks) return E_NOTIMPL;
    if (Kind != MemberKind::Variables && Kind != MemberKind::Parameters) return this->ReportError(E_NOTIMPL);
    // The first position before the arguments' shapes: a position out of range is reported even for
    // arguments that are no arrays, which are refused unreported.
    if (HRESULT hr = nuv::coll::CheckFirst(this->m_owner, Kind, first); FAILED(hr)) return this->Answer(hr);
    if (!nuv::coll::ArrayOf(names) || !nuv::coll::ArrayOf(values)) return E_INVALIDARG;
    HRESULT hr = nuv::coll::SetAttributes(this->m_owner, Kind, names, values, first);
    return this->Answer(hr);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObjectCollection || riid == __uuidof(Itf)) ? S_OK : S_FALSE;
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
STDMETHODIMP BlockCollectionIdent<Ident, Itf, pclsid, Kind>::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (HRESULT hr = nuv::ClearOut(ppv); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    if (Kind == MemberKind::Blocks) return this->ReportError(nuv::kNoService);
    if (!nuv::IsClientInterface(riid)) return this->ReportError(E_NOINTERFACE);
    HRESULT hr = E_NOINTERFACE;
    if (service == IID_INUVGridService) {
        nuv::GridMaker make = nuv::CurrentGridMaker();
        hr = make ? make(this->m_owner, Kind, nullptr, 0, riid, ppv) : nuv::kNoService;
    } else if (service == IID_INUVObjectCollectionHelper) {
        hr = this->m_owner->QueryHelper(Kind, riid, ppv);
    }
    return this->Answer(hr, ppv);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
HRESULT BlockCollectionIdent<Ident, Itf, pclsid, Kind>::Name2Index(BSTR name, LONG* index) {
    if (!index) return E_POINTER;
    *index = 0;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return nuv::kInvalidObject;
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return hr;
    return nuv::AnswerRead(this->IsValid(), nuv::coll::Name2Index(this->m_owner, Kind, text.c_str(), index), index);
}

template <class Ident, class Itf, const CLSID* pclsid, MemberKind Kind>
template <class I>
HRESULT BlockCollectionIdent<Ident, Itf, pclsid, Kind>::TypedItem(const VARIANT& item, REFIID riid, I** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    HRESULT hr = nuv::coll::TypedItem(this->m_owner, Kind, item, riid, reinterpret_cast<void**>(out));
    return this->Answer(hr, out);
}

template <MemberKind Kind, const CLSID* pclsid>
STDMETHODIMP CollectionHelperIdent<Kind, pclsid>::Name2Index(BSTR name, LONG* index) {
    if (!index) return E_POINTER;
    *index = 0;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return nuv::kInvalidObject;
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return hr;
    return nuv::AnswerRead(this->IsValid(), nuv::coll::Name2Index(this->m_owner, Kind, text.c_str(), index), index);
}

template <MemberKind Kind, const CLSID* pclsid>
STDMETHODIMP CollectionHelperIdent<Kind, pclsid>::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObjectCollection || riid == IID_INUVObjectCollectionHelper) ? S_OK : S_FALSE;
}

template <MemberKind Kind, const CLSID* pclsid>
STDMETHODIMP CollectionHelperIdent<Kind, pclsid>::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (HRESULT hr = nuv::ClearOut(ppv); FAILED(hr)) return hr;
    const nuv::SimulationUse use = this->m_owner->Use();
    if (!this->IsValid() || !use) return this->ReportError(nuv::kInvalidObject);
    if (!nuv::IsClientInterface(riid)) return this->ReportError(E_NOINTERFACE);
    HRESULT hr = E_NOINTERFACE;
    if (service == IID_INUVGridService) {
        nuv::GridMaker make = nuv::CurrentGridMaker();
        hr = make ? make(this->m_owner, Kind, nullptr, 0, riid, ppv) : nuv::kNoService;
    } else if (service == IID_INUVObjectCollectionHelper) {
        hr = this->m_owner->QueryHelper(Kind, riid, ppv);
    }
    return this->Answer(hr, ppv);
}

template class BlockCollectionIdent<D_AltIdentBlockColl, INUVBlockCollection, &CLSID_NUVBlockCollection,
                                    MemberKind::Blocks>;
template class BlockCollectionIdent<D_AltIdentVariableColl, INUVVariableCollection, &CLSID_NUVVariableCollection,
                                    MemberKind::Variables>;
template class BlockCollectionIdent<D_AltIdentEquationColl, INUVEquationCollection, &CLSID_NUVEquationCollection,
                                    MemberKind::Equations>;
template class BlockCollectionIdent<D_AltIdentParameterColl, INUVParameterCollection,
                                    &CLSID_NUVParameterCollection, MemberKind::Parameters>;
template class BlockCollectionIdent<D_AltIdentPortsColl, INUVPortCollection, &CLSID_NUVPortCollection,
                                    MemberKind::Ports>;
template class CollectionHelperIdent<MemberKind::Variables, &CLSID_NUVVariableCollection>;
template class CollectionHelperIdent<MemberKind::Equations, &CLSID_NUVEquationCollection>;
template class CollectionHelperIdent<MemberKind::Parameters, &CLSID_NUVParameterCollection>;
template class CollectionHelperIdent<MemberKind::Ports, &CLSID_NUVPortCollection>;

STDMETHODIMP D_AltIdentBlockColl::get_Block(VARIANT item, INUVBlock** out) {
    return TypedItem(item, IID_INUVBlock, out);
}
STDMETHODIMP D_AltIdentVariableColl::get_Variable(VARIANT item, INUVVariable** out) {
    return TypedItem(item, IID_INUVVariable, out);
}
STDMETHODIMP D_AltIdentEquationColl::get_Equation(VARIANT item, INUVEquation** out) {
    return TypedItem(item, IID_INUVEquation, out);
}
STDMETHODIMP D_AltIdentParameterColl::get_Parameter(VARIANT item, INUVParameter** out) {
    return TypedItem(item, IID_INUVParameter, out);
}
STDMETHODIMP D_AltIdentPortsColl::get_Port(VARIANT item, INUVPort** out) {
    return TypedItem(item, IID_INUVPort, out);
}
