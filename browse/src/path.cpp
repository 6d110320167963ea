#include "browse/path.h"

#include <cstring>

#include "browse/error.h"
#include "delimiters.h"

namespace {
bool IsDelimiter(char c) { return FI::detail::IsPathDelimiter(c); }
}  // namespace

// ---- tokens ----

const PathToken* ValueList::Next() {
    if (position_ >= tokens_.size()) return nullptr;
    return &tokens_[position_++];
}

const PathToken* ValueList::Peek(int offset) const {
    int64_t at = static_cast<int64_t>(position_) + offset;
    if (at < 0 || at >= static_cast<int64_t>(tokens_.size())) return nullptr;
    return &tokens_[static_cast<size_t>(at)];
}

void ValueList::Clear() {
    source_.Clear();
    position_ = 0;
    tokens_.clear();
}

void TokenizePath(ValueList& list, const FIValue& value) {
    list.Clear();
    list.source_ = value;
    if (value.IsNumber()) {
        list.source_.ConvertTo(FIValue::kInlineText);
        list.tokens_.push_back(PathToken{false, 0, list.source_.ToStdString()});
        return;
    }
    const char* text = list.source_.GetString();
    size_t n = list.source_.Length();
    // Room for every token up front: each delimiter is one, with at most one text between two of them.
    // A long path then fills its list in one pass instead of copying it at each growth.
    size_t delimiters = 0;
    for (size_t k = 0; k < n; ++k) delimiters += IsDelimiter(text[k]);
    list.tokens_.reserve(2 * delimiters + 1);
    size_t i = 0;
    while (i < n) {
        char c = text[i];
        if (c == '"') {
            PathToken token;
            token.quoted = true;
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        token.text.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;  // the closing quote
                    break;
                }
                token.text.push_back(text[i++]);
            }
            list.tokens_.push_back(std::move(token));
        } else if (IsDelimiter(c)) {
            list.tokens_.push_back(PathToken{true, c, {}});
            ++i;
        } else {
            size_t start = i;
            while (i < n && !IsDelimiter(text[i])) ++i;
            list.tokens_.push_back(PathToken{false, 0, std::string(text + start, i - start)});
        }
    }
}

// ---- elements ----

namespace FI {

void FIPathDeleter::operator()(FIPathBase* p) const {
    if (p != nullptr) p->Delete();
}

FIPathBase::~FIPathBase() = default;

void FIPathBase::Delete() {
    // The successor chain can be as long as the path: free it without recursion.
    FIPathBase* p = this;
    while (p != nullptr) {
        FIPathBase* next = p->next_;
        p->next_ = nullptr;
        delete p;
        p = next;
    }
}

FIPathBase* FIPathBase::GetNext() { return next_; }
void FIPathBase::GetName(FIValue& out) { out.SetString(name_); }
const char* FIPathBase::GetNameText() { return name_.c_str(); }
int32_t FIPathBase::GetCount() { return count_.IsEmpty() ? -1 : count_.ToInt(); }
const char* FIPathBase::GetAttributeLabel() { return attributeLabel_.c_str(); }
void FIPathBase::SetAttributeLabel(const char* label) { attributeLabel_ = label == nullptr ? "" : label; }
bool FIPathBase::GetQuoteFlag() { return quoted_; }

void FIPathBase::Dump(int indent) {
    DumpLines(indent, [](const char* line) { DebugOutput(line); });
}

void FIPathBase::DumpTo(int indent, void (*sink)(void*, const char*), void* context) {
    constexpr size_t kLineSize = 100;
    char line[kLineSize];
    // Each line is cut to the buffer and still ends in a line feed.
    auto emit = [&](size_t width, const std::string& text) {
        std::string full(width < kLineSize ? width : kLineSize, ' ');
        full += text;
        if (full.size() > kLineSize - 2) full.resize(kLineSize - 2);
        full += '\n';
        std::memcpy(line, full.c_str(), full.size() + 1);
        sink(context, line);
    };
    size_t level = indent < 0 ? 0 : static_cast<size_t>(indent);
    for (FIPathBase* e = this; e != nullptr; e = e->next_, ++level) {
        emit(level, e->name_);
        for (const FIPathPredicate& p : e->predicates_) {
            if (p.flags & FIPathPredicate::kAnd) emit(0, "  &");
            if (p.flags & FIPathPredicate::kOr) emit(0, "  |");
            if (p.flags & FIPathPredicate::kNot) emit(0, "  !");
            emit(0, "  [");
            if (p.path) p.path->DumpTo(static_cast<int>(level < kLineSize ? level : kLineSize) + 3, sink, context);
            if (p.compared) {
                emit(0, "  =");
                emit(0, "   " + p.compared->ToStdString());
            }
            emit(0, "  ]");
        }
    }
}

// Recursive descent over the token list. Successors are parsed in a loop; only predicates recurse,
// and their nesting is limited.
struct PathParser {
    ValueList& list;
    FIValue& error;

    void Fail(const char* message) {
        error.SetString(message);
        error.AppendValue(list.Source());
    }

    static bool IsPredicateStart(const PathToken* t) {
        return t != nullptr && t->punctuation && std::strchr("[|!&", t->ch) != nullptr;
    }

    // Parses element and its successors; returns the token that ended the chain (null at the end).
    const PathToken* Parse(FIPathBase* element, int nesting) {
        if (nesting > kMaxPathNesting) {
            Fail("Parse error, predicates nested too deeply in: ");
            return nullptr;
        }
        for (FIPathBase* e = element;;) {
            e->name_.clear();
            e->literalName_ = false;
            if (list.Peek() == nullptr) return nullptr;
            if (list.Peek()->Is('\'')) {
                e->quoted_ = true;
                list.Next();
            }
            if (const PathToken* t = list.Peek(); t != nullptr && t->IsString()) {
                e->name_ = t->text;
                e->literalName_ = t->quoted;
                list.Next();
            }
            if (const PathToken* t = list.Peek(); t != nullptr && t->Is('#')) {
                list.Next();
                const PathToken* count = list.Next();
                if (count == nullptr) {
                    Fail("Parse error, count expected following # in: ");
                    return nullptr;
                }
                e->count_.SetInt(count->IsString() ? FIParseInt(count->text.c_str()) : 0);
            }
            while (IsPredicateStart(list.Peek())) {
                if (!ParsePredicate(e, nesting)) return nullptr;
            }
            const PathToken* tail = list.Next();
            if (tail == nullptr) return nullptr;
            if (tail->Is('(')) {
                const PathToken* attribute = list.Next();
                if (attribute == nullptr || !attribute->IsString()) {
                    Fail("Parse error, string expected in: ");
                    return nullptr;
                }
                e->selectedAttribute_.SetString(attribute->text);
                const PathToken* close = list.Next();
                if (close == nullptr || !close->Is(')')) {
                    Fail("Parse error, ) expected in: ");
                    return nullptr;
                }
                return close;
            }
            if (!tail->Is('.')) return tail;
            e->next_ = new FIPathBase;
            e = e->next_;
        }
    }

    bool ParsePredicate(FIPathBase* e, int nesting) {
        FIPathPredicate predicate;
        predicate.flags = 0;
        if (list.Peek()->Is('|')) {
            predicate.flags = FIPathPredicate::kOr;
            list.Next();
        } else if (list.Peek()->Is('&')) {
            predicate.flags = FIPathPredicate::kAnd;
            list.Next();
        }
        if (const PathToken* t = list.Peek(); t != nullptr && t->Is('!')) {
            predicate.flags |= FIPathPredicate::kNot;
            list.Next();
        }
        if ((predicate.flags & (FIPathPredicate::kOr | FIPathPredicate::kAnd)) == 0) {
            predicate.flags |= FIPathPredicate::kAnd;
        }
        const PathToken* open = list.Next();
        if (open == nullptr || !open->Is('[')) {
            Fail("Parse error, [ expected in: ");
            return false;
        }
        predicate.path.reset(new FIPathBase);
        FIPathBase* inner = predicate.path.get();
        e->predicates_.push_back(std::move(predicate));
        const PathToken* end = Parse(inner, nesting + 1);
        if (!error.IsEmpty()) return false;
        if (end != nullptr && end->Is('=')) {
            const PathToken* compared = list.Next();
            if (compared == nullptr || !compared->IsString()) {
                Fail("Parse error, string expected in: ");
                return false;
            }
            e->predicates_.back().compared = std::make_unique<FIValue>(compared->text);
            end = list.Next();
        }
        if (end == nullptr || !end->Is(']')) {
            Fail("Parse error, ] expected in: ");
            return false;
        }
        return true;
    }
};

}  // namespace FI

void ParsePathElement(FI::FIPathBase* element, ValueList& list, FIValue& error) {
    error.Clear();
    if (element == nullptr) return;
    FI::PathParser parser{list, error};
    parser.Parse(element, 0);
}

FI::FIPathBase* ParsePath(ValueList& list, FIValue& error) {
    auto* element = new FI::FIPathBase;
    ParsePathElement(element, list, error);
    return element;
}
