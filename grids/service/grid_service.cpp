#include "grid_service.h"

#include <cstring>
#include <new>
#include <numeric>
#include <type_traits>
#include <unordered_map>

#include "block.h"
#include "engine_text.h"
#include "grid_vectors.h"
#include "rezoraruz.h"
#include "variant_helpers.h"

namespace nuv::grid {

namespace {

// The engine's code for a value or change it refuses.
constexpr HRESULT kEngineRefused = static_cast<HRESULT>(0x80040623);

template <MemberKind Kind>
bool AttribIdOf(const char* name, int* id) {
    if constexpr (Kind == MemberKind::Variables) return ZEQVariableData::AttribId(name, id);
    if constexpr (Kind == MemberKind::Equations) return ZEQEquationData::AttribId(name, id);
    if constexpr (Kind == MemberKind::Parameters) return ZEQParameterData::AttribId(name, id);
    if constexpr (Kind == MemberKind::Ports) return ZEQPortData::AttribId(name, id);
    return false;
}

template <MemberKind Kind>
int BaseTypeOf(int id) {
    if constexpr (Kind == MemberKind::Variables) return ZEQVariableData::BaseType(id);
    if constexpr (Kind == MemberKind::Equations) return ZEQEquationData::BaseType(id);
    if constexpr (Kind == MemberKind::Parameters) return ZEQParameterData::BaseType(id);
    if constexpr (Kind == MemberKind::Ports) return ZEQPortData::BaseType(id);
    return 0;
}

IZEQQueryEngine* NewQuery(MemberKind kind, ZEQEOCntr* container, ZEQEOBlock* block) {
    switch (kind) {
        case MemberKind::Variables: return ZEQQueryFactory::NewVariableQuery(container, block);
        case MemberKind::Equations: return ZEQQueryFactory::NewEquationQuery(container, block);
        case MemberKind::Parameters: return ZEQQueryFactory::NewParameterQuery(container, block);
        case MemberKind::Ports: return ZEQQueryFactory::NewPortQuery(container, block);
        case MemberKind::Blocks: break;
    }
    return nullptr;
}

// One sort cell of a loaded record by the attribute's base type; a value the record cannot give stores
// nothing, so the cell keeps its column's initial value.
template <class Record>
void PutCell(GridSortTable& table, int key, int row, const Record& record, int id, int type) {
    switch (type) {
        case ZEQ_TYPE_DOUBLE:
            if constexpr (requires(double d) { record.GetValue(id, d); }) {
                double d = 0;
                if (record.GetValue(id, d)) table.SetDouble(key, row, d);
            }
            return;
        case ZEQ_TYPE_INT: {
            int i = 0;
            if (record.GetValue(id, i)) table.SetInt(key, row, i);
            return;
        }
        case ZEQ_TYPE_TEXT:
        case ZEQ_TYPE_ENUM: {
            const char* s = nullptr;
            if (record.GetValue(id, s)) table.SetText(key, row, s);
            return;
        }
        default: return;
    }
}

void SetMask(ZEQAttribMask& mask, const std::vector<int>& ids) {
    mask.word1 = mask.word2 = 0;
    for (int id : ids) mask.Add(id);
}

// One key's column of cells, read in one engine call. Rows that do not load (empty rows, indexes outside
// the collection, members gone) take `missing`.
template <class Record, class T>
void LoadKeyColumn(std::vector<T>& cells, ZEQEOCntr* container, ZEQEOBlock* block, const std::vector<LONG>& rows,
                   LONG count, int id, const T& missing) {
    const size_t n = rows.size();
    // No rows, nothing to load: the empty vectors' data() may be null, which memchr must not be given.
    if (n == 0) return;
    std::vector<unsigned char> got(n);
    Record::LoadColumn(container, block, rows.data(), n, id, cells.data(), got.data());
    T* cell = cells.data();
    if constexpr (std::is_arithmetic_v<T>) {
        // A row is in range when row - 1, taken unsigned, is below the count. Nearly always every row
        // loads, which two quick passes tell; otherwise the cells are chosen without a branch.
        const LONG* row = rows.data();
        const ULONG limit = count > 0 ? static_cast<ULONG>(count) : 0;
        ULONG outside = 0;
        for (size_t r = 0; r < n; ++r) outside |= static_cast<ULONG>(static_cast<ULONG>(row[r]) - 1 >= limit);
        if (!outside && std::memchr(got.data(), 0, n) == nullptr) return;
        for (size_t r = 0; r < n; ++r) {
            const bool loaded = (got[r] != 0) & (static_cast<ULONG>(row[r]) - 1 < limit);
            cell[r] = loaded ? cell[r] : missing;
        }
    } else {
        for (size_t r = 0; r < n; ++r)
            if (!got[r] || rows[r] < 1 || rows[r] > count) cell[r] = missing;
    }
}

// What a row that does not load sorts with: a variable row takes the not-set value of the attribute (false
// when a not-set record has none, nor then has any variable); any other row the column's initial cell.
template <class Record, class T>
bool MissingCell(int id, T& out) {
    out = T{};
    if constexpr (std::is_same_v<Record, ZEQVariableData>) {
        ZEQVariableData not_set;
        not_set.mask.Add(id);
        not_set.SetNotSet();
        if constexpr (std::is_same_v<T, std::string>) {
            const char* text = nullptr;
            if (!not_set.GetValue(id, text)) return false;
            out = text ? text : "";
            return true;
        } else {
            return not_set.GetValue(id, out);
        }
    }
    return true;
}

// The key columns of a grid over variables or equations, each read in one engine call.
template <class Record>
void LoadKeyColumns(GridSortTable& table, ZEQEOCntr* container, ZEQEOBlock* block, const std::vector<LONG>& rows,
                    LONG count, const std::vector<int>& ids, const std::vector<int>& types) {
    for (size_t k = 0; k < ids.size(); ++k) {
        const int key = static_cast<int>(k), id = ids[k];
        switch (types[k]) {
            case ZEQ_TYPE_DOUBLE: {
                double missing = 0;
                if (MissingCell<Record>(id, missing))
                    LoadKeyColumn<Record>(table.Doubles(key), container, block, rows, count, id, missing);
                break;
            }
            case ZEQ_TYPE_INT: {
                int missing = 0;
                if (MissingCell<Record>(id, missing))
                    LoadKeyColumn<Record>(table.Ints(key), container, block, rows, count, id, missing);
                break;
            }
            case ZEQ_TYPE_TEXT:
            case ZEQ_TYPE_ENUM: {
                std::string missing;
                if (!MissingCell<Record>(id, missing)) break;
                std::vector<std::string>& texts = table.Texts(key);
                LoadKeyColumn<Record>(texts, container, block, rows, count, id, missing);
                for (std::string& text : texts) text.resize(strnlen(text.c_str(), GridSortTable::kMaxText));
                break;
            }
            default: break;
        }
    }
}

}  // namespace

template <MemberKind Kind>
HRESULT CoNUVGrid<Kind>::Create(CoNUVBlock* owner, REFIID riid, void** ppv, const LONG* rows, LONG count) {
    if (!ppv) return E_POINTER;
    if (!owner) return E_INVALIDARG;
    CComObject<CoNUVGrid>* object = nullptr;
    HRESULT hr = CComObject<CoNUVGrid>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    object->owner_ = owner;
    object->ownerRef_ = owner->OuterUnknown();
    if (rows && Kind != MemberKind::Equations) {
        object->initial_.assign(rows, rows + (count > 0 ? count : 0));
        object->hasInitial_ = true;
    }
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

template <MemberKind Kind>
bool CoNUVGrid<Kind>::OwnerValid() const {
    return owner_ && owner_->IsValid() == VARIANT_TRUE;
}

template <MemberKind Kind>
SimulationUse CoNUVGrid<Kind>::Use() const {
    return owner_ ? owner_->Use() : SimulationUse();
}

template <MemberKind Kind>
unsigned CoNUVGrid<Kind>::StructureGeneration() const {
    ZEQEOSimulation* sim = owner_ ? owner_->GetEngineSimulation() : nullptr;
    ZEQEOCntr* flowsheet = sim ? sim->GetFlowsheet() : nullptr;
    return flowsheet ? flowsheet->GetStructureGeneration() : 0;
}

template <MemberKind Kind>
HRESULT CoNUVGrid<Kind>::CheckRows() const {
    if (!OwnerValid()) return kInvalidObject;
    // Rows are engine member indexes: once blocks come or go they may name other members, so the grid
    // answers nothing about them until it is prepared again.
    if (RowsStale()) return kStaleRows;
    return S_OK;
}

template <MemberKind Kind>
HRESULT CoNUVGrid<Kind>::ReadStillHolds() const {
    if (!OwnerValid()) return kInvalidObject;
    return RowsStale() ? kStaleRows : S_OK;
}

template <MemberKind Kind>
template <class Answer>
HRESULT CoNUVGrid<Kind>::Overtaken(Answer& answer) const {
    const HRESULT held = ReadStillHolds();
    if (SUCCEEDED(held)) return S_OK;
    if (answer) answer->Release();
    answer = nullptr;
    return ReportError(held);
}

template <MemberKind Kind>
HRESULT CoNUVGrid<Kind>::ReportRefusedEdit(HRESULT hr, const std::string& attribute) const {
    if (LookupErrorMessage(hr).iid != GUID_NULL) return ReportError(hr);
    std::string text = "Unable to set attribute " + attribute;
    if (hr == E_INVALIDARG) text += ": the value is not valid for it";
    else if (hr == kEngineRefused) text += ": the engine refused the value";
    return ReportErrorText(IID_INUVGridService, kErrorSource, text.c_str(), hr);
}

template <MemberKind Kind>
LONG CoNUVGrid<Kind>::CollectionCount() const {
    LONG n = 0;
    coll::Count(owner_, Kind, &n);
    return n;
}

// ---- items ----

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::get_Item(LONG index, INUVObject** out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    if (index < 1 || index > RowCount()) return ReportError(kIndexOutOfRange);
    HRESULT hr = coll::Item(owner_, Kind, rows_[static_cast<size_t>(index - 1)], IID_INUVObject,
                            reinterpret_cast<void**>(out));
    if (HRESULT stale = Overtaken(*out); FAILED(stale)) return stale;
    return FAILED(hr) ? ReportError(hr) : hr;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::get__NewEnum(IUnknown** out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    std::vector<CComVariant> items(rows_.size());
    for (size_t p = 0; p < rows_.size(); ++p) {
        VARIANT& v = items[p];
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        coll::Item(owner_, Kind, rows_[p], IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
    }
    if (HRESULT held = ReadStillHolds(); FAILED(held)) return ReportError(held);
    static_assert(sizeof(CComVariant) == sizeof(VARIANT));
    HRESULT hr = CreateVariantEnumerator(items.data(), static_cast<ULONG>(items.size()), out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::get_Count(LONG* out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!out) return ReportStandardError(kErrorSource, E_POINTER);
    *out = 0;
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    *out = RowCount();
    return S_OK;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::Find(BSTR name, INUVObject** out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    const EngineText text(name);
    if (!text.Whole()) return ReportError(kObjectNotFound);  // no member's name holds a NUL
    LONG index = 0;
    if constexpr (Kind == MemberKind::Parameters) {
        // The rows in order, by the name each one's parameter has now; an unreadable one is passed over.
        for (LONG row : rows_) {
            std::string found;
            if (FAILED(coll::IndexToName(owner_, row, found))) continue;
            if (stred_caseless_cmp(found.c_str(), text.c_str()) == 0) {
                index = row;
                break;
            }
        }
        if (index == 0) return ReportError(kObjectNotFound);
    } else {
        if (HRESULT hr = coll::Name2Index(owner_, Kind, text.c_str(), &index); FAILED(hr)) return ReportError(hr);
        bool shown = false;
        for (LONG row : rows_) shown = shown || row == index;
        if (!shown) return ReportError(kObjectNotFound);
    }
    HRESULT hr = coll::Item(owner_, Kind, index, IID_INUVObject, reinterpret_cast<void**>(out));
    if (HRESULT stale = Overtaken(*out); FAILED(stale)) return stale;
    return FAILED(hr) ? ReportError(hr) : hr;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::GetService(BSTR, IUnknown**) {
    return E_NOTIMPL;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::SetAttributes(VARIANT, VARIANT, LONG) {
    return E_NOTIMPL;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::SetGridColumns(VARIANT) {
    return E_NOTIMPL;
}

// ---- attribute matrix ----

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::GetAttributes(VARIANT names, LONG first, LONG count, VARIANT* out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!out) return ReportStandardError(kErrorSource, E_POINTER);
    VariantInit(out);
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    const LONG total = RowCount();
    if (first < 1 || first > total) return ReportError(kIndexOutOfRange);
    SAFEARRAY* array = coll::ArrayOf(names);
    if (!array) return ReportError(E_INVALIDARG);
    const LONG remaining = total - first + 1;
    if (count <= 0 || count > remaining) count = remaining;
    SAFEARRAY* matrix = nullptr;
    if (HRESULT hr = coll::AttributeMatrix(owner_, Kind, array, first, count, &rows_, &matrix); FAILED(hr))
        return ReportError(hr);
    if constexpr (Kind == MemberKind::Variables)
        if (alias_) FillAliasColumn(matrix, count);
    if (HRESULT held = ReadStillHolds(); FAILED(held)) {
        SafeArrayDestroy(matrix);
        return ReportError(held);
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = matrix;
    return S_OK;
}

template <MemberKind Kind>
void CoNUVGrid<Kind>::FillAliasColumn(SAFEARRAY* matrix, LONG rows) const {
    ZEQEOSimulation* sim = owner_->GetEngineSimulation();
    if (!sim || SafeArrayGetDim(matrix) != 2) return;
    LONG columns_hi = 0;
    if (FAILED(SafeArrayGetUBound(matrix, 2, &columns_hi)) || columns_hi < 2) return;
    const rtotaglst* tags = sim->GetTagList();
    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    const int n = tags ? rtotaglst_inq_ntag(tags) : 0;
    if (n <= 0 || !flowsheet) return;
    for (LONG i = 1; i <= rows; ++i) {
        LONG first_cell[2] = {i, 1};
        VARIANT cell;
        VariantInit(&cell);
        if (FAILED(SafeArrayGetElement(matrix, first_cell, &cell))) continue;
        const bool is_index = cell.vt == VT_I4;
        const LONG index = is_index ? cell.lVal : 0;
        VariantClear(&cell);
        if (!is_index) continue;
        ZEQVariableData record;
        record.SetMask(VA_NAME, 0);
        const char* name = nullptr;
        if (!flowsheet->LoadVariableData(index, &record, true) || !record.GetValue(VA_NAME, name) || !name) continue;
        for (int t = 1; t <= n; ++t) {
            const rtotag* tag = rtotaglst_inq_tag(tags, t);
            if (!tag || !tag->variable || stred_caseless_cmp(tag->variable, name) != 0) continue;
            VARIANT alias;
            VariantInit(&alias);
            alias.bstrVal = bstr_from_utf8(tag->alias ? tag->alias : "");
            alias.vt = alias.bstrVal ? VT_BSTR : VT_EMPTY;
            LONG second_cell[2] = {i, 2};
            SafeArrayPutElement(matrix, second_cell, &alias);
            VariantClear(&alias);
            break;
        }
    }
}

// ---- queries and sorting ----

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::SetSortKeys(VARIANT keys, VARIANT orders) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    SAFEARRAY* key_array = coll::ArrayOf(keys);
    SAFEARRAY* order_array = coll::ArrayOf(orders);
    if (!key_array || !order_array) return E_INVALIDARG;
    VariantVector key_view;
    if (HRESULT hr = key_view.Attach(key_array, false); FAILED(hr)) return ReportError(hr);
    FlagVector order_view;
    if (HRESULT hr = order_view.Attach(order_array, false); FAILED(hr)) return ReportError(hr);
    keys_.clear();
    ascending_.clear();
    HRESULT result = S_OK;
    const ULONG n = key_view.GetCount();
    const ULONG m = order_view.GetCount();
    for (ULONG i = 0; i < n; ++i) {
        std::string key;
        if (FAILED(key_view.GetElement(i, key)) || key.empty()) continue;
        bool ascending = true;
        // The order of key i sits at position i whether or not earlier keys were accepted.
        if (i < m) {
            bool flag = true;
            if (SUCCEEDED(order_view.GetElement(i, &flag))) ascending = flag;
        }
        int id = 0;
        if (AttribIdOf<Kind>(key.c_str(), &id)) {
            keys_.push_back(std::move(key));
            ascending_.push_back(ascending);
        } else {
            result = kBadSortKey;
        }
    }
    sorted_ = false;
    return result;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::SetQueryStrings(VARIANT queries) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const SimulationUse use = Use();
    if (!use || !OwnerValid()) return ReportError(kInvalidObject);
    SAFEARRAY* array = coll::ArrayOf(queries);
    if (!array) return E_INVALIDARG;
    VariantVector view;
    if (HRESULT hr = view.Attach(array, false); FAILED(hr)) return ReportError(hr);
    queries_.clear();
    for (ULONG i = 0; i < view.GetCount(); ++i) {
        std::string text;
        if (SUCCEEDED(view.GetElement(i, text)) && !text.empty()) queries_.push_back(std::move(text));
    }
    prepared_ = false;
    if constexpr (Kind == MemberKind::Variables) sorted_ = false;
    return S_OK;
}

template <MemberKind Kind>
HRESULT CoNUVGrid<Kind>::RunQueries() {
    ZEQEOCntr* container = nullptr;
    ZEQEOBlock* block = nullptr;
    if constexpr (Kind == MemberKind::Parameters || Kind == MemberKind::Ports) {
        // Parameters and ports belong to a block: without one there is nothing to query.
        block = owner_->GetEngineBlock();
        if (!block) return S_OK;
        container = owner_->GetParentContainer();
    } else if (ZEQEOCntr* own = owner_->GetEngineContainer()) {
        container = own;
    } else {
        container = owner_->GetParentContainer();
        block = owner_->GetEngineBlock();
    }
    IZEQQueryEngine* query = NewQuery(Kind, container, block);
    if (!query) return E_OUTOFMEMORY;
    // Engine parameter positions count from 0; the grid's rows from 1 like every collection's.
    constexpr int shift = Kind == MemberKind::Parameters ? 1 : 0;
    if (hasInitial_) {
        std::vector<int> engine_rows(initial_.size());
        for (size_t i = 0; i < initial_.size(); ++i) engine_rows[i] = initial_[i] - shift;
        query->RestrictRows(static_cast<int>(engine_rows.size()), engine_rows.data());
    }
    for (const std::string& text : queries_) {
        if (!query->AddQuery(text.c_str())) continue;
        if constexpr (Kind == MemberKind::Variables) {
            std::string upper = text;
            stred_upper_case(upper.data());
            if (upper.find("ISALIAS(") != std::string::npos) alias_ = true;
        }
        query->Apply();
    }
    const int n = query->GetRowCount();
    rows_.reserve(n > 0 ? static_cast<size_t>(n) : 0);
    for (int i = 0; i < n; ++i) rows_.push_back(query->GetRow(i) + shift);
    query->Destroy();
    return S_OK;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::Prepare() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const SimulationUse use = Use();
    if (!use || !OwnerValid()) return ReportError(kInvalidObject);
    rows_.clear();
    sorted_ = false;
    alias_ = false;
    generation_ = StructureGeneration();
    taken_ = true;
    HRESULT hr = S_OK;
    if (!queries_.empty()) {
        hr = RunQueries();
    } else if (hasInitial_) {
        rows_ = initial_;
    } else {
        const LONG n = CollectionCount();
        rows_.resize(static_cast<size_t>(n > 0 ? n : 0));
        std::iota(rows_.begin(), rows_.end(), 1);
    }
    prepared_ = true;
    return hr;
}

template <MemberKind Kind>
void CoNUVGrid<Kind>::LoadCells(GridSortTable& table, const std::vector<int>& ids, const std::vector<int>& types) {
    const LONG n = CollectionCount();
    const int keys = static_cast<int>(ids.size());
    ZEQEOCntr* own = owner_->GetEngineContainer();
    ZEQEOCntr* container = own ? own : owner_->GetParentContainer();
    ZEQEOBlock* block = own ? nullptr : owner_->GetEngineBlock();
    if constexpr (Kind == MemberKind::Variables) {
        LoadKeyColumns<ZEQVariableData>(table, container, block, rows_, n, ids, types);
        return;
    } else if constexpr (Kind == MemberKind::Equations) {
        LoadKeyColumns<ZEQEquationData>(table, container, block, rows_, n, ids, types);
        return;
    }
    // Parameter values of any type: gathered first, since one column holds cells of one type.
    std::vector<std::vector<CComVariant>> variants(static_cast<size_t>(keys));
    for (int r = 0; r < table.RowCount(); ++r) {
        const LONG index = rows_[static_cast<size_t>(r)];
        const bool in_range = index >= 1 && index <= n;
        auto put = [&](auto& record) {
            for (int k = 0; k < keys; ++k) PutCell(table, k, r, record, ids[static_cast<size_t>(k)], types[static_cast<size_t>(k)]);
        };
        // A row that does not load sorts with the values a fresh record holds, never with a previous row's.
        // Parameters and ports load through the engine block, as the collection shows them, also for a
        // hierarchy block that has a container of its own.
        if constexpr (Kind == MemberKind::Ports) {
            ZEQPortData record;
            SetMask(record.mask, ids);
            if (in_range && record.Load(owner_->GetEngineBlock(), static_cast<int>(index))) put(record);
        } else if constexpr (Kind == MemberKind::Parameters) {
            ZEQParameterData record;
            SetMask(record.mask, ids);
            if (!in_range || !record.Load(owner_->GetEngineBlock(), static_cast<int>(index) - 1, true)) continue;
            for (int k = 0; k < keys; ++k) {
                const int id = ids[static_cast<size_t>(k)];
                if (types[static_cast<size_t>(k)] != ZEQ_TYPE_VARIANT) {
                    PutCell(table, k, r, record, id, types[static_cast<size_t>(k)]);
                    continue;
                }
                if (variants[static_cast<size_t>(k)].empty())
                    variants[static_cast<size_t>(k)].resize(static_cast<size_t>(table.RowCount()));
                VARIANT& v = variants[static_cast<size_t>(k)][static_cast<size_t>(r)];
                if (!record.GetValue(id, v)) VariantClear(&v);
            }
        }
    }
    if constexpr (Kind == MemberKind::Parameters) {
        // A key whose values all read as numbers sorts numerically; otherwise every value sorts as text.
        for (int k = 0; k < keys; ++k) {
            std::vector<CComVariant>& column = variants[static_cast<size_t>(k)];
            if (column.empty()) continue;
            bool numeric = true;
            std::vector<double> numbers(column.size(), 0.0);
            for (size_t r = 0; r < column.size() && numeric; ++r) {
                if (column[r].vt == VT_EMPTY) continue;
                if (column[r].vt == VT_BSTR) {
                    numeric = false;
                    break;
                }
                CComVariant d;
                if (FAILED(VariantChangeType(&d, &column[r], 0, VT_R8))) numeric = false;
                else numbers[r] = d.dblVal;
            }
            for (size_t r = 0; r < column.size(); ++r) {
                const int row = static_cast<int>(r);
                if (numeric) {
                    table.SetDouble(k, row, column[r].vt == VT_EMPTY ? ZEQ_NOT_SET_DOUBLE : numbers[r]);
                    continue;
                }
                CComVariant text;
                if (column[r].vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&text, &column[r], 0, VT_BSTR)))
                    table.SetText(k, row, bstr_to_utf8(text.bstrVal).c_str());
                else
                    table.SetText(k, row, "");
            }
        }
    }
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::Sort() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    // A grid whose owner is gone has nothing to sort, whatever its keys and flags say.
    if (!OwnerValid()) return ReportError(kInvalidObject);
    if (!prepared_) Prepare();
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    if (keys_.empty() || sorted_) return S_OK;
    std::vector<int> ids(keys_.size()), types(keys_.size());
    for (size_t k = 0; k < keys_.size(); ++k) {
        if (!AttribIdOf<Kind>(keys_[k].c_str(), &ids[k])) return ReportError(E_INVALIDARG);
        types[k] = BaseTypeOf<Kind>(ids[k]);
    }
    // The table of the sort before keeps its memory for this one.
    if (table_) table_->Reset(RowCount(), static_cast<int>(keys_.size()));
    else table_ = std::make_unique<GridSortTable>(RowCount(), static_cast<int>(keys_.size()));
    for (size_t k = 0; k < keys_.size(); ++k) table_->SetAscending(static_cast<int>(k), ascending_[k]);
    LoadCells(*table_, ids, types);
    if (HRESULT held = ReadStillHolds(); FAILED(held)) {
        table_.reset();
        return ReportError(held);
    }
    table_->Sort(rows_.data());
    sorted_ = true;
    return S_OK;
}

// ---- row edits and translations ----

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::SetAttr(BSTR name, VARIANT given, LONG row) {
    if constexpr (Kind != MemberKind::Variables && Kind != MemberKind::Parameters) {
        return E_NOTIMPL;
    } else {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        const SimulationUse use = Use();
        if (!use) return ReportError(kInvalidObject);
        // Rows of another numbering would send the edit to another member.
        if (RowsStale()) return ReportError(kStaleRows);
        if (row < 1 || row > RowCount()) return ReportError(kIndexOutOfRange);
        const EngineText attribute(name);
        if (attribute.str().empty() || !attribute.Whole()) return ReportError(kBadAttribute);
        // The value is read from a copy with its references followed: one to nothing is refused here.
        CComVariant value;
        if (HRESULT hr = CopyInVariant(given, &value); FAILED(hr)) return ReportRefusedEdit(hr, attribute.str());
        LONG& target = rows_[static_cast<size_t>(row - 1)];
        if constexpr (Kind == MemberKind::Parameters) {
            std::string parameter;
            HRESULT hr = coll::IndexToName(owner_, target, parameter);
            if (SUCCEEDED(hr)) hr = coll::SetParameterAttribute(owner_, attribute.c_str(), parameter.c_str(), value);
            if (FAILED(hr)) return ReportRefusedEdit(hr, attribute.str());
            sorted_ = false;
            return hr;
        } else {
            if (stred_caseless_cmp(attribute.c_str(), "NAME") == 0) {
                if (value.vt == VT_NULL) {
                    target = coll::kEmptyRow;
                    sorted_ = false;
                    return S_OK;
                }
                const EngineText variable(value.vt == VT_BSTR ? value.bstrVal : nullptr);
                LONG index = 0;
                if (variable.str().empty() || !variable.Whole() ||
                    FAILED(coll::Name2Index(owner_, Kind, variable.c_str(), &index)))
                    return ReportError(kBadNameValue);
                target = index;
                sorted_ = false;
                return S_OK;
            }
            if (stred_caseless_cmp(attribute.c_str(), "NUMBER") == 0) {
                if (value.vt == VT_NULL) {
                    target = coll::kEmptyRow;
                    sorted_ = false;
                    return S_OK;
                }
                LONG n = 0;
                switch (value.vt) {
                    case VT_I2: n = value.iVal; break;
                    case VT_I4: n = value.lVal; break;
                    default: return ReportError(kBadNumberValue);
                }
                if (n < 1 || n > CollectionCount()) return ReportError(kBadNumberValue);
                target = n;
                sorted_ = false;
                return S_OK;
            }
            if (target == coll::kEmptyRow) return ReportError(kEmptyRowEdit);
            HRESULT hr = coll::SetVariableAttribute(owner_, attribute.c_str(), value, target, &generation_);
            if (FAILED(hr) && RowsStale()) return ReportError(kStaleRows);
            if (FAILED(hr)) return ReportRefusedEdit(hr, attribute.str());
            sorted_ = false;
            return hr;
        }
    }
}

template <MemberKind Kind>
template <class Map>
HRESULT CoNUVGrid<Kind>::MapIntegers(const VARIANT& in, VARIANT* out, Map map) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!out) return ReportStandardError(kErrorSource, E_POINTER);
    VariantInit(out);
    const SimulationUse use = Use();
    if (!use) return ReportError(kInvalidObject);
    if (HRESULT hr = CheckRows(); FAILED(hr)) return ReportError(hr);
    SAFEARRAY* array = coll::ArrayOf(in);
    if (!array) return E_INVALIDARG;
    IntVector view;
    if (HRESULT hr = view.Attach(array, false); FAILED(hr)) return ReportError(hr);
    const ULONG n = view.GetCount();
    if (n == 0) return S_OK;
    SAFEARRAYBOUND bound{n, 1};
    SAFEARRAY* result = SafeArrayCreate(VT_I4, 1, &bound);
    if (!result) return E_OUTOFMEMORY;
    std::vector<LONG> given(n, 0);
    for (ULONG j = 0; j < n; ++j)
        if (FAILED(view.GetElement(j, &given[j]))) given[j] = 0;
    std::vector<LONG> answers(n, 0);
    map(given, answers);
    for (ULONG j = 0; j < n; ++j) {
        LONG at = static_cast<LONG>(j) + 1;
        SafeArrayPutElement(result, &at, &answers[j]);
    }
    out->vt = VT_ARRAY | VT_I4;
    out->parray = result;
    return S_OK;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::GetIndexPositions(VARIANT indices, VARIANT* positions) {
    if constexpr (Kind != MemberKind::Variables) {
        return E_NOTIMPL;
    } else {
        return MapIntegers(indices, positions, [this](const std::vector<LONG>& given, std::vector<LONG>& answers) {
            // The last row showing an index gives its position.
            std::unordered_map<LONG, LONG> position;
            for (size_t p = 0; p < rows_.size(); ++p) position[rows_[p]] = static_cast<LONG>(p) + 1;
            for (size_t j = 0; j < given.size(); ++j) {
                if (given[j] == 0) continue;
                auto found = position.find(given[j]);
                if (found != position.end()) answers[j] = found->second;
            }
        });
    }
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::GetPositionIndices(VARIANT positions, VARIANT* indices) {
    if constexpr (Kind != MemberKind::Variables && Kind != MemberKind::Parameters) {
        return E_NOTIMPL;
    } else {
        return MapIntegers(positions, indices, [this](const std::vector<LONG>& given, std::vector<LONG>& answers) {
            for (size_t j = 0; j < given.size(); ++j)
                if (given[j] >= 1 && given[j] <= RowCount()) answers[j] = rows_[static_cast<size_t>(given[j] - 1)];
        });
    }
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_INUVGridService || riid == IID_INUVObjectCollection ? S_OK : S_FALSE;
}

template <MemberKind Kind>
STDMETHODIMP CoNUVGrid<Kind>::QueryService(REFGUID, REFIID, void**) {
    return E_NOTIMPL;
}

template class CoNUVGrid<MemberKind::Variables>;
template class CoNUVGrid<MemberKind::Equations>;
template class CoNUVGrid<MemberKind::Parameters>;
template class CoNUVGrid<MemberKind::Ports>;

HRESULT MakeGrid(CoNUVBlock* owner, MemberKind kind, const LONG* rows, LONG count, REFIID riid, void** ppv) {
    switch (kind) {
        case MemberKind::Variables: return CoNUVVariableGrid::Create(owner, riid, ppv, rows, count);
        case MemberKind::Equations: return CoNUVEquationGrid::Create(owner, riid, ppv, nullptr, 0);
        case MemberKind::Parameters: return CoNUVParameterGrid::Create(owner, riid, ppv, rows, count);
        case MemberKind::Ports: return CoNUVPortGrid::Create(owner, riid, ppv, rows, count);
        case MemberKind::Blocks: break;
    }
    return kNoService;
}

namespace {
// Installs the grid maker when the library loads, keeping whatever grid-information maker is installed.
struct GridMakerRegistration {
    GridMakerRegistration() { SetGridMakers(&MakeGrid, CurrentGridInfoMaker()); }
} g_registration;
}  // namespace

}  // namespace nuv::grid
