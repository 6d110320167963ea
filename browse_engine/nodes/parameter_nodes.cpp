// A block's parameter list and the parameter leaf: value, unit, bounds and description through one
// parameter record per access; values written as text or numbers take the kind the parameter holds.
#include <strings.h>
#include <zeq_objects.h>
#include <zeq_records.h>

#include <cstring>
#include <string>

#include "nodes/engine_nodes.h"
#include "nodes/engine_values.h"
#include "nodes/node_cursors.h"

namespace FI {

namespace {

constexpr const char* kTypeMismatch = "Attribute value was not set - possibly due to a type mismatch";

struct ParamRecord {
    ZEQParameterData data;
    bool loaded;
    ParamRecord(ZEQEOBlock* block, uint32_t index, uint32_t mask) {
        data.SetMask(mask, 0);
        loaded = block != nullptr && data.Load(block, static_cast<int>(index), true);
    }
};

// The units the call's display asks for when they are not the parameter's own: parameter quantities are
// never converted, so a read or write in them fails. Empty when the call may go on: no units asked for,
// the parameter's own, or a parameter without a unit.
std::string ForeignUnits(Display* display, ZEQEOBlock* block, uint32_t position) {
    if (display == nullptr) return {};
    FIValue wanted;
    display->GetUnits(wanted);
    if (!wanted.IsText() || wanted.Length() == 0) return {};
    ParamRecord unit(block, position, PA_UOM);
    const char* own = nullptr;
    if (!unit.loaded || !unit.data.GetValue(PA_UOM, own) || own == nullptr || *own == '\0') return {};
    std::string text = wanted.ToStdString();
    return text != own ? text : std::string();
}

class ParameterSource {
public:
    ParameterSource(FIHandle<FIVORNNodeBase> node, EngineAnchor block) : node_(std::move(node)), block_(std::move(block)) {}
    void NameAt(int32_t pos, FIValue& out) {
        ZEQEOBlock* block = Block();
        if (block == nullptr || pos >= block->GetParameterCount()) {
            out.Clear();
            return;
        }
        const char* name = block->GetParameterName(pos);
        if (name != nullptr && *name != '\0') {
            out.SetString(name);
        } else {
            out.SetString("#" + std::to_string(pos));
        }
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        ZEQEOBlock* block = Block();
        if (block == nullptr || pos >= block->GetParameterCount()) {
            out.Reset();
            return;
        }
        FIValue name;
        NameAt(pos, name);
        const char* engineName = block->GetParameterName(pos);
        out = EntryHandle(new FIVORNParameterNode(node_->document, name, block_, engineName != nullptr ? engineName : "",
                                                  static_cast<uint32_t>(pos)));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<ParameterSource>::FindByName(*this, name, first, end);
    }

private:
    ZEQEOBlock* Block() const {
        EngineAnchor::Place place;
        return block_.Resolve(place) ? place.block : nullptr;
    }
    FIHandle<FIVORNNodeBase> node_;
    EngineAnchor block_;
};

// Splits a list text into elements: quoted elements run to the closing quote, others to the next comma
// with trailing blanks dropped; a comma at the very end adds nothing.
bool FillList(const char* text, value_t* target) {
    ScopedList items;
    const char* p = text;
    auto skipBlanks = [&p] {
        while (*p == ' ' || *p == '\t') ++p;
    };
    skipBlanks();
    while (*p != '\0') {
        std::string element;
        if (*p == '"') {
            const char* close = std::strchr(p + 1, '"');
            const char* stop = close != nullptr ? close : p + std::strlen(p);
            element.assign(p + 1, stop);
            p = close != nullptr ? close + 1 : stop;
        } else {
            const char* comma = std::strchr(p, ',');
            const char* stop = comma != nullptr ? comma : p + std::strlen(p);
            element.assign(p, stop);
            while (!element.empty() && (element.back() == ' ' || element.back() == '\t')) element.pop_back();
            p = stop;
        }
        value_t* item = value_create_from_string(element.c_str(), 1);
        if (item == nullptr) return false;
        items.Add(item);
        skipBlanks();
        if (*p == ',') {
            ++p;
            skipBlanks();
        }
    }
    value_assign_list(target, items.release());
    return true;
}

// Fills next from the incoming value by the kind of current; false when the value does not fit.
bool ConvertForKind(const value_t& current, const FIValue& in, value_t* next) {
    switch (current.kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM: {
            const bool bounded = current.kind == VALUE_BOUNDEDNUM;
            if (bounded) value_copy(next, &current);
            if (current.is_int) {
                int64_t i = 0;
                if (!ReadInteger(in, i)) return false;
                if (bounded) return boundednumSetValAsInt(next, i) == 0;
                value_assign_int(next, i);
                return true;
            }
            double d = 0;
            if (!ReadNumber(in, d)) return false;
            if (bounded) return boundednumSetValAsReal(next, d) == 0;
            value_assign_double(next, d);
            return true;
        }
        case VALUE_STRING:
            if (!in.IsText()) return false;
            value_assign_string(next, DupEngineText(in.GetString()));
            return true;
        case VALUE_ID:
            if (!in.IsText()) return false;
            value_assign_id(next, DupEngineText(in.GetString()));
            return true;
        case VALUE_LOGICAL: value_assign_logical(next, in.ToBool(false) ? 1 : 0); return true;
        case VALUE_LIST:
            if (!in.IsText()) return false;
            return FillList(in.GetString(), next);
        case VALUE_ENUM: {
            // The options come with the current value; the chosen one is looked up by its text.
            value_copy(next, &current);
            const std::string text = in.ToStdString();
            return value_enum_setvalue_asString(next, DupEngineText(text.c_str())) == 0;
        }
        default: return false;
    }
}

}  // namespace

void FIVORNParamListNode::CreateCursor(CursorHandle& out) {
    EngineAnchor::Place place;
    const int count = anchor_.Resolve(place) ? place.block->GetParameterCount() : 0;
    out = CursorHandle(new RangeCursor<ParameterSource>(ParameterSource(FIHandle<FIVORNNodeBase>(this), anchor_), 0,
                                                        count > 0 ? count : 0));
}

bool FIVORNParameterNode::Locate(ZEQEOBlock*& block, uint32_t& position) const {
    EngineAnchor::Place place;
    if (!anchor_.Resolve(place)) return false;
    block = place.block;
    const int count = block->GetParameterCount();
    // A parameter without a name is known only by its position.
    if (paramName_.empty()) {
        position = position_;
        return static_cast<int64_t>(position_) < count;
    }
    const auto matches = [&](int at) {
        const char* name = block->GetParameterName(at);
        return name != nullptr && strcasecmp(name, paramName_.c_str()) == 0;
    };
    if (static_cast<int64_t>(position_) < count && matches(static_cast<int>(position_))) {
        position = position_;
        return true;
    }
    for (int at = 0; at < count; ++at) {
        if (!matches(at)) continue;
        position = static_cast<uint32_t>(at);
        return true;
    }
    return false;
}

void FIVORNParameterNode::GetTypeName(FIValue& out) {
    ZEQEOBlock* block = nullptr;
    uint32_t position = 0;
    if (!Locate(block, position)) return;
    ParamRecord r(block, position, PA_TYPE);
    int type = -1;
    if (!r.loaded || !r.data.GetValue(PA_TYPE, type)) return;
    switch (type) {
        case PT_REAL: out.SetString("Real"); break;
        case PT_INTEGER: out.SetString("Integer"); break;
        case PT_TEXT:
        case PT_CHOICE: out.SetString("String"); break;
        case PT_BOOLEAN: out.SetString("EnumBoolean"); break;
        default: break;
    }
}

bool FIVORNParameterNode::IsAttributeValid(const char* name, uint32_t id) {
    switch (id) {
        case attr::kValue:
        case attr::kUpperLimit:
        case attr::kLowerLimit:
        case attr::kDescription: return true;
        case attr::kUom: {
            ZEQEOBlock* block = nullptr;
            uint32_t position = 0;
            if (!Locate(block, position)) return false;
            ParamRecord r(block, position, PA_UOM);
            const char* text = nullptr;
            return r.loaded && r.data.GetValue(PA_UOM, text) && text != nullptr && *text != '\0';
        }
        default: return Entry::IsAttributeValid(name, id);
    }
}

void FIVORNParameterNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    ZEQEOBlock* block = nullptr;
    uint32_t position = 0;
    const bool located = Locate(block, position);
    if (!located) block = nullptr;  // records of a null block load nothing
    if (id == attr::kValue || id == attr::kUpperLimit || id == attr::kLowerLimit) {
        const std::string foreign = ForeignUnits(GetDisplay(), block, position);
        if (!foreign.empty()) throw FIError(("Unable to convert to unit " + foreign).c_str());
    }
    switch (id) {
        case attr::kValue: {
            ParamRecord r(block, position, PA_VALUE | PA_TYPE);
            int type = -1;
            if (!r.loaded || !r.data.GetValue(PA_TYPE, type)) return;
            switch (type) {
                case PT_REAL: {
                    double d = 0;
                    if (r.data.GetValue(PA_VALUE, d)) out.SetDouble(d);
                    break;
                }
                case PT_INTEGER: {
                    int i = 0;
                    if (r.data.GetValue(PA_VALUE, i)) out.SetInt(i);
                    break;
                }
                case PT_BOOLEAN: {
                    int i = 0;
                    if (r.data.GetValue(PA_VALUE, i)) out.SetString(i != 0 ? "true" : "false");
                    break;
                }
                case PT_TEXT:
                case PT_CHOICE: {
                    const char* text = nullptr;
                    if (r.data.GetValue(PA_VALUE, text) && text != nullptr) out.SetString(text);
                    break;
                }
                default: break;
            }
            return;
        }
        case attr::kUom:
        case attr::kDescription: {
            const int mask = id == attr::kUom ? PA_UOM : PA_DESCRIPTION;
            ParamRecord r(block, position, static_cast<uint32_t>(mask));
            const char* text = nullptr;
            if (r.loaded && r.data.GetValue(mask, text) && text != nullptr && (*text != '\0' || id == attr::kDescription)) {
                out.SetString(text);
            }
            return;
        }
        case attr::kUpperLimit:
        case attr::kLowerLimit: {
            const int mask = id == attr::kUpperLimit ? PA_UPPER : PA_LOWER;
            ParamRecord r(block, position, static_cast<uint32_t>(mask));
            double d = 0;
            if (r.loaded && r.data.GetValue(mask, d)) out.SetDouble(d);
            return;
        }
        default: Entry::GetAttribute(name, id, out); return;
    }
}

void FIVORNParameterNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    ZEQEOBlock* block = nullptr;
    uint32_t position = 0;
    if ((id != attr::kValue && id != attr::kUom) || !Locate(block, position)) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    if (id == attr::kValue) WriteValue(block, position, value, error);
    else WriteUnits(block, position, value, error);
}

void FIVORNParameterNode::WriteValue(ZEQEOBlock* block, uint32_t position, const FIValue& value, FIError& error) {
    // Parameter values are not converted: one given in units other than the parameter's own is refused
    // rather than stored as if it were in them.
    if (const std::string foreign = ForeignUnits(GetDisplay(), block, position); !foreign.empty()) {
        error.SetMessage("Unable to convert from unit " + foreign);
        return;
    }
    ParamRecord r(block, position, PA_VALUE);
    ScopedValue current;
    ScopedValue next;
    if (!r.loaded || !r.data.GetValue(PA_VALUE, current.get()) || !ConvertForKind(*current.get(), value, next.get())) {
        error.SetMessage(kTypeMismatch);
        return;
    }
    if (!r.data.SetValue(PA_VALUE, next.get()) || r.data.Commit(block, static_cast<int>(position), true) < 0) {
        error.SetMessage("Unable to set attribute");
    }
}

void FIVORNParameterNode::WriteUnits(ZEQEOBlock* block, uint32_t position, const FIValue& value, FIError& error) {
    // The parameter's unit text changes for good: every client write comes with a display installed, so a
    // unit kept on the display would be dropped when the call ends.
    ParamRecord r(block, position, PA_UOM);
    const std::string text = value.ToStdString();
    if (!r.loaded || !r.data.SetValue(PA_UOM, text.c_str()) ||
        r.data.Commit(block, static_cast<int>(position), true) < 0) {
        error.SetMessage("Unable to set attribute");
    }
}

}  // namespace FI
