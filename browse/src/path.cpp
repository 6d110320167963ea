#include "browse/path.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <forward_list>
#include <memory>
#include <new>

#include "browse/error.h"
#include "delimiters.h"

namespace {
bool IsDelimiter(char c) { return FI::detail::IsPathDelimiter(c); }
}  // namespace

// ---- tokens ----

namespace {

// Cuts the token starting at text[i] (i < n) and returns the index after it. The token's text is a view
// of `text`, but for a quoted string with a doubled quote inside, whose text (the quote once) is written
// into a new string of `unquoted`.
size_t CutToken(const char* text, size_t n, size_t i, PathToken& token, std::forward_list<std::string>& unquoted) {
    const char c = text[i];
    if (c == '"') {
        const size_t start = ++i;
        bool doubled = false;
        while (i < n) {
            if (text[i] == '"') {
                if (i + 1 < n && text[i + 1] == '"') {
                    doubled = true;
                    i += 2;
                    continue;
                }
                break;  // the closing quote
            }
            ++i;
        }
        std::string_view quoted(text + start, i - start);
        if (doubled) {
            std::string& once = unquoted.emplace_front();
            once.reserve(quoted.size());
            for (size_t k = 0; k < quoted.size(); ++k) {
                once.push_back(quoted[k]);
                if (quoted[k] == '"') ++k;  // a quote inside is always doubled
            }
            quoted = once;
        }
        token = PathToken{false, 0, true, quoted};
        return i < n ? i + 1 : n;
    }
    if (IsDelimiter(c)) {
        token = PathToken{true, c, false, {}};
        return i + 1;
    }
    const size_t start = i;
    while (i < n && !IsDelimiter(text[i])) ++i;
    token = PathToken{false, 0, false, std::string_view(text + start, i - start)};
    return i;
}

}  // namespace

bool ValueList::CutNext() const {
    const size_t n = source_.Length();
    if (cut_ >= n) return false;
    // Tokens read before the last one are not wanted again: drop them rather than grow the window.
    if (window_.size() == window_.capacity() && position_ > first_ + 1) {
        const uint32_t drop = position_ - 1 - first_;
        window_.erase(window_.begin(), window_.begin() + drop);
        first_ += drop;
    }
    window_.emplace_back();
    cut_ = CutToken(source_.GetString(), n, cut_, window_.back(), unquoted_);
    return true;
}

const PathToken* ValueList::CutTo(int offset) const {
    const int64_t at = static_cast<int64_t>(position_) + offset;
    if (at < static_cast<int64_t>(first_)) return nullptr;
    // Cutting may drop read tokens from the window's front: the index is taken afresh after each.
    while (static_cast<size_t>(at - first_) >= window_.size()) {
        if (!CutNext()) return nullptr;
    }
    return &window_[static_cast<size_t>(at - first_)];
}

void ValueList::Clear() {
    source_.Clear();
    whole_ = false;
    cut_ = 0;
    position_ = 0;
    first_ = 0;
    window_.clear();
    unquoted_.clear();
    all_.reset();
}

const std::vector<PathToken>& ValueList::Tokens() const {
    if (!all_) {
        all_ = std::make_unique<All>();
        const char* text = source_.GetString();
        const size_t n = source_.Length();
        if (whole_) {
            all_->tokens.push_back(PathToken{false, 0, false, std::string_view(text, n)});
        } else {
            for (size_t i = 0; i < n;) {
                all_->tokens.emplace_back();
                i = CutToken(text, n, i, all_->tokens.back(), all_->unquoted);
            }
        }
    }
    return all_->tokens;
}

void TokenizePath(ValueList& list, const FIValue& value) {
    list.Clear();
    list.source_ = value;
    list.whole_ = value.IsNumber();
    list.window_.reserve(16);
    if (list.whole_) {
        list.source_.ConvertTo(FIValue::kInlineText);
        list.cut_ = list.source_.Length();
        list.window_.push_back(PathToken{false, 0, false, std::string_view(list.source_.GetString(), list.cut_)});
    }
}

// ---- elements ----

namespace FI {

// Memory for the parts of one parsed path: blocks taken from the heap, all freed together. The parser
// reserves at the start what the whole text can need, so a parse usually takes one block; blocks taken
// later are each larger than the last. Objects placed here are destroyed by their owners
// (FIPathBase::Release); the arena only hands out and frees bytes.
class PathArena {
public:
    PathArena() = default;
    PathArena(const PathArena&) = delete;
    PathArena& operator=(const PathArena&) = delete;
    ~PathArena() { Rewind(Mark{}); }

    // A point of the arena: what is placed after it can be freed again (Rewind).
    struct Mark {
        const void* block = nullptr;
        char* cursor = nullptr;
    };
    Mark Here() const { return {blocks_, cursor_}; }
    // Frees every block taken after mark and reuses the rest of the mark's block: everything placed after
    // mark must be gone. The empty mark frees every block.
    void Rewind(const Mark& mark) {
        while (blocks_ != nullptr && blocks_ != mark.block) {
            Block* next = blocks_->next;
            ::operator delete(blocks_);
            blocks_ = next;
        }
        nextSize_ = kFirstBlock;
        if (blocks_ == nullptr) {
            cursor_ = end_ = nullptr;
            return;
        }
        cursor_ = mark.cursor;
        end_ = blocks_->end;
    }

    void* Allocate(size_t size, size_t align) {
        auto at = (reinterpret_cast<uintptr_t>(cursor_) + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
        if (cursor_ == nullptr || at + size > reinterpret_cast<uintptr_t>(end_)) {
            Grow(size + align);
            at = (reinterpret_cast<uintptr_t>(cursor_) + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
        }
        cursor_ = reinterpret_cast<char*>(at + size);
        return reinterpret_cast<void*>(at);
    }

    // Makes room for `bytes` more in one piece (with the alignment of what is placed in them).
    void Reserve(size_t bytes) {
        if (static_cast<size_t>(end_ - cursor_) < bytes) Grow(bytes);
    }

    // A NUL-terminated copy of text.
    const char* CopyText(std::string_view text) {
        auto* copy = static_cast<char*>(Allocate(text.size() + 1, 1));
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
        return copy;
    }

private:
    struct alignas(std::max_align_t) Block {
        Block* next;
        char* end;
    };
    static constexpr size_t kFirstBlock = 256;
    static constexpr size_t kLargestBlock = 64 * 1024;

    void Grow(size_t needed) {
        const size_t size = std::max(nextSize_, needed + sizeof(Block));
        nextSize_ = std::min(nextSize_ * 2, kLargestBlock);
        auto* block = static_cast<Block*>(::operator new(size));
        block->next = blocks_;
        block->end = reinterpret_cast<char*>(block) + size;
        blocks_ = block;
        cursor_ = reinterpret_cast<char*>(block + 1);
        end_ = block->end;
    }

    Block* blocks_ = nullptr;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
    size_t nextSize_ = kFirstBlock;
};

struct FIPathBase::Extra {
    PathArena arena;
    // Where a parse into the element starts again: after the element itself when it lives in this arena
    // (a new path's first element), else at the start.
    PathArena::Mark parseStart;
    FIValue selectedAttribute;
    std::string attributeLabel;
    // While a chain of successors is destroyed: the extras of elements already destroyed, kept until the
    // whole chain is gone, since successors of an element parsed into live in that element's arena.
    std::unique_ptr<Extra> retired;
};

void FIPathDeleter::operator()(FIPathBase* p) const {
    if (p != nullptr) p->Delete();
}

FIPathBase::FIPathBase() : name_("") {}

FIPathBase::~FIPathBase() {
    static_assert(sizeof(FIPathBase) <= 7 * sizeof(void*), "a path element fits in 56 bytes");
    Reset();
}

void FIPathBase::Reset() {
    // The successor chain can be as long as the path: destroy it without recursion, each element
    // detached from its own successor before it goes. An element that was parsed into keeps its new
    // successors in its own arena: the arenas of the destroyed elements are freed once the whole chain
    // is gone, never while later elements that live in them are still to be destroyed.
    std::unique_ptr<Extra> retired;
    FIPathBase* p = next_;
    next_ = nullptr;
    while (p != nullptr) {
        FIPathBase* next = p->next_;
        p->next_ = nullptr;
        if (p->inArena_) {
            std::unique_ptr<Extra> extra = std::move(p->extra_);
            p->~FIPathBase();
            if (extra) {
                extra->retired = std::move(retired);
                retired = std::move(extra);
            }
        } else {
            delete p;
        }
        p = next;
    }
    while (retired) retired = std::move(retired->retired);
    // Predicates always live in an arena: destroyed here, their bytes freed with it.
    std::destroy_n(predicates_, predicateCount_);
    predicates_ = nullptr;
    predicateCount_ = 0;
    name_ = "";
    nameLength_ = 0;
    hasCount_ = false;
    count_ = 0;
    quoted_ = false;
    literalName_ = false;
    if (extra_) extra_->selectedAttribute.Clear();
}

void FIPathBase::Release() {
    if (!inArena_) {
        delete this;
        return;
    }
    // The element's own arena may be the one it lives in (a new path's first element): it goes after
    // the element.
    std::unique_ptr<Extra> extra = std::move(extra_);
    this->~FIPathBase();
}

void FIPathBase::Delete() { Release(); }

FIPathBase::Extra& FIPathBase::Extras() {
    if (!extra_) extra_ = std::make_unique<Extra>();
    return *extra_;
}

const FIValue& FIPathBase::SelectedAttribute() const {
    static const FIValue kNone;
    return extra_ ? extra_->selectedAttribute : kNone;
}

FIPathBase* FIPathBase::GetNext() { return next_; }
void FIPathBase::GetName(FIValue& out) { out.SetString(std::string(Name())); }
const char* FIPathBase::GetNameText() { return name_; }
int32_t FIPathBase::GetCount() { return hasCount_ ? count_ : -1; }
const char* FIPathBase::GetAttributeLabel() { return extra_ ? extra_->attributeLabel.c_str() : ""; }
void FIPathBase::SetAttributeLabel(const char* label) { Extras().attributeLabel = label == nullptr ? "" : label; }
bool FIPathBase::GetQuoteFlag() { return quoted_; }

void FIPathBase::Dump(int indent) {
    DumpLines(indent, [](const char* line) { DebugOutput(line); });
}

void FIPathBase::DumpTo(int indent, void (*sink)(void*, const char*), void* context) {
    constexpr size_t kLineSize = 100;
    char line[kLineSize];
    // Each line is cut to the buffer and still ends in a line feed.
    auto emit = [&](size_t width, std::string_view text) {
        std::string full(width < kLineSize ? width : kLineSize, ' ');
        full += text;
        if (full.size() > kLineSize - 2) full.resize(kLineSize - 2);
        full += '\n';
        std::memcpy(line, full.c_str(), full.size() + 1);
        sink(context, line);
    };
    size_t level = indent < 0 ? 0 : static_cast<size_t>(indent);
    for (FIPathBase* e = this; e != nullptr; e = e->next_, ++level) {
        emit(level, e->Name());
        for (const FIPathPredicate& p : e->Predicates()) {
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
// and their nesting is limited. Every element, predicate and name the parse makes is placed in the
// arena of the element it started from.
struct PathParser {
    ValueList& list;
    FIValue& error;
    PathArena& arena;
    // Predicates being parsed, innermost last: an element's predicates are moved to one array in the
    // arena once they are all known, so that they sit together.
    std::vector<FIPathPredicate> pending;

    void Fail(const char* message) {
        error.SetString(message);
        error.AppendValue(list.Source());
    }

    static bool IsPredicateStart(const PathToken* t) {
        return t != nullptr && t->punctuation && std::strchr("[|!&", t->ch) != nullptr;
    }

    FIPathBase* NewElement() {
        auto* e = new (arena.Allocate(sizeof(FIPathBase), alignof(FIPathBase))) FIPathBase;
        e->inArena_ = true;
        return e;
    }

    // Moves the predicates pending since `mark` to the element.
    void Attach(FIPathBase* e, size_t mark) {
        const size_t n = pending.size() - mark;
        if (n == 0) return;
        auto* array = static_cast<FIPathPredicate*>(arena.Allocate(n * sizeof(FIPathPredicate), alignof(FIPathPredicate)));
        std::uninitialized_move(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end(), array);
        pending.resize(mark);
        e->predicates_ = array;
        e->predicateCount_ = static_cast<uint32_t>(n);
    }

    // Parses element and its successors; returns the token that ended the chain (null at the end).
    const PathToken* Parse(FIPathBase* element, int nesting) {
        if (nesting > kMaxPathNesting) {
            Fail("Parse error, predicates nested too deeply in: ");
            return nullptr;
        }
        for (FIPathBase* e = element;;) {
            if (list.Peek() == nullptr) return nullptr;
            if (list.Peek()->Is('\'')) {
                e->quoted_ = true;
                list.Next();
            }
            if (const PathToken* t = list.Peek(); t != nullptr && t->IsString()) {
                if (!t->text.empty()) {
                    e->name_ = arena.CopyText(t->text);
                    e->nameLength_ = static_cast<uint32_t>(t->text.size());
                }
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
                e->count_ = count->IsString() ? FIParseInt(std::string(count->text).c_str()) : 0;
                e->hasCount_ = true;
            }
            const size_t mark = pending.size();
            bool parsed = true;
            while (parsed && IsPredicateStart(list.Peek())) parsed = ParsePredicate(nesting);
            Attach(e, mark);
            if (!parsed) return nullptr;
            const PathToken* tail = list.Next();
            if (tail == nullptr) return nullptr;
            if (tail->Is('(')) {
                const PathToken* attribute = list.Next();
                if (attribute == nullptr || !attribute->IsString()) {
                    Fail("Parse error, string expected in: ");
                    return nullptr;
                }
                e->Extras().selectedAttribute.SetString(std::string(attribute->text));
                const PathToken* close = list.Next();
                if (close == nullptr || !close->Is(')')) {
                    Fail("Parse error, ) expected in: ");
                    return nullptr;
                }
                return close;
            }
            if (!tail->Is('.')) return tail;
            e->next_ = NewElement();
            e = e->next_;
        }
    }

    // At most the arena bytes a parse of the list's text takes: every "." may start a successor and
    // every "[" a predicate with an element of its own; the names are at most the text's bytes, each
    // with its NUL, and anything placed after a name may need up to an alignment of padding.
    static size_t Budget(const ValueList& list) {
        const char* text = list.Source().GetString();
        const size_t n = text == nullptr ? 0 : list.Source().Length();
        size_t dots = 0, opens = 0;
        for (size_t i = 0; i < n; ++i) {
            dots += text[i] == '.';
            opens += text[i] == '[';
        }
        const size_t elements = dots + opens;
        constexpr size_t kPad = alignof(std::max_align_t);
        return elements * (sizeof(FIPathBase) + kPad + 1) + opens * (sizeof(FIPathPredicate) + kPad) + n + 1 + kPad;
    }

    // Parses into element (forgetting what it held) with the element's own arena, whose space for what
    // the element held is taken again: parsing into one element again and again holds no more than the
    // last parse needs.
    static void Run(FIPathBase* element, ValueList& list, FIValue& error) {
        element->Reset();
        FIPathBase::Extra& extra = element->Extras();
        PathArena& arena = extra.arena;
        arena.Rewind(extra.parseStart);
        arena.Reserve(Budget(list));
        PathParser parser{list, error, arena, {}};
        parser.Parse(element, 0);
    }

    // A new path, its first element placed in its own arena with the rest.
    static FIPathBase* RunNew(ValueList& list, FIValue& error) {
        auto extra = std::make_unique<FIPathBase::Extra>();
        extra->arena.Reserve(Budget(list) + sizeof(FIPathBase) + alignof(FIPathBase));
        auto* element = new (extra->arena.Allocate(sizeof(FIPathBase), alignof(FIPathBase))) FIPathBase;
        element->inArena_ = true;
        extra->parseStart = extra->arena.Here();
        element->extra_ = std::move(extra);
        PathParser parser{list, error, element->extra_->arena, {}};
        parser.Parse(element, 0);
        return element;
    }

    // Parses one predicate onto the pending list (kept there on failure too, as far as it got).
    bool ParsePredicate(int nesting) {
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
        FIPathBase* inner = NewElement();
        predicate.path.reset(inner);
        pending.push_back(std::move(predicate));
        const size_t index = pending.size() - 1;
        const PathToken* end = Parse(inner, nesting + 1);
        if (!error.IsEmpty()) return false;
        if (end != nullptr && end->Is('=')) {
            const PathToken* compared = list.Next();
            if (compared == nullptr || !compared->IsString()) {
                Fail("Parse error, string expected in: ");
                return false;
            }
            pending[index].compared.emplace(std::string(compared->text));
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
    FI::PathParser::Run(element, list, error);
}

FI::FIPathBase* ParsePath(ValueList& list, FIValue& error) {
    error.Clear();
    return FI::PathParser::RunNew(list, error);
}
