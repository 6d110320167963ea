// Browsing paths: the tokenizer, the parsed element chain and the parser.
#pragma once
#include <cstdint>
#include <forward_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "browse/value.h"

// One token of a path: a single delimiter character, or a text. The text is a view into the list that
// holds the token (not NUL-terminated), valid until the list is refilled or destroyed.
struct PathToken {
    bool punctuation = false;
    char ch = 0;
    bool quoted = false;  // a string written in double quotes: a name taken literally
    std::string_view text;

    bool Is(char c) const { return punctuation && ch == c; }
    bool IsString() const { return !punctuation; }
};

// The tokens of one path, read in order. They are cut from the text as reading reaches them and those
// read before the last one are dropped, so a path of any length is read with a few tokens in memory.
class ValueList {
public:
    ValueList() = default;
    // The tokens' texts point into the list itself.
    ValueList(const ValueList&) = delete;
    ValueList& operator=(const ValueList&) = delete;

    // The token at the read position, advancing; null at the end. A token returned by Next or Peek
    // stays valid until the next call of either.
    const PathToken* Next() {
        const PathToken* token = Peek();
        if (token != nullptr) ++position_;
        return token;
    }
    // The token at read position + offset without moving (-1: the one consumed last; earlier ones are
    // not kept); null outside.
    const PathToken* Peek(int offset = 0) const {
        const int64_t at = static_cast<int64_t>(position_) + offset - first_;
        if (at >= 0 && static_cast<uint64_t>(at) < window_.size()) return &window_[static_cast<size_t>(at)];
        return CutTo(offset);
    }
    void Clear();

    const FIValue& Source() const { return source_; }
    // Every token of the source, cut afresh from it (the reading position is not moved).
    const std::vector<PathToken>& Tokens() const;
    uint32_t Position() const { return position_; }

private:
    friend void TokenizePath(ValueList& list, const FIValue& value);
    // Cuts the next token from the text into the window; false at the text's end.
    bool CutNext() const;
    // Peek for a token not yet cut: cuts up to it.
    const PathToken* CutTo(int offset) const;

    FIValue source_;
    bool whole_ = false;  // the source is a number: its text is one token
    mutable size_t cut_ = 0;  // bytes of the source's text cut into tokens so far
    uint32_t position_ = 0;
    mutable uint32_t first_ = 0;  // the index of window_[0] among all tokens
    mutable std::vector<PathToken> window_;
    // The texts of quoted strings with a doubled quote inside, once unquoted; other texts are views of
    // the source.
    mutable std::forward_list<std::string> unquoted_;
    struct All {
        std::vector<PathToken> tokens;
        std::forward_list<std::string> unquoted;
    };
    mutable std::unique_ptr<All> all_;  // what Tokens() returned, kept until the list is refilled
};

// Fills the list (cleared first) from the value; a number becomes one string token.
void TokenizePath(ValueList& list, const FIValue& value);

namespace FI {

class FIPathBase;

// Owns a parsed path and deletes it through Delete.
struct FIPathDeleter {
    void operator()(FIPathBase* p) const;
};
using FIPathPtr = std::unique_ptr<FIPathBase, FIPathDeleter>;

struct FIPathPredicate {
    enum Flags : uint32_t { kOr = 1, kAnd = 2, kNot = 4 };
    uint32_t flags = kAnd;
    FIPathPtr path;
    std::optional<FIValue> compared;  // empty when the predicate has no "="
};

// One element of a parsed path; owns its successor and its predicates. The element the parser starts
// from keeps the successors, predicates and names it parses in an arena of its own (a new path lives
// there too), so that a path of any length costs a few allocations rather than several per element.
class FIPathBase {
public:
    FIPathBase();
    FIPathBase(const FIPathBase&) = delete;
    FIPathBase& operator=(const FIPathBase&) = delete;

    // Writes an outline of the element to the debugger output.
    virtual void Dump(int indent);
    // Destroys the element with its successors and predicates.
    virtual void Delete();
    virtual FIPathBase* GetNext();
    virtual void GetName(FIValue& out);
    virtual const char* GetNameText();
    // The count after "#", or -1 when absent.
    virtual int32_t GetCount();
    virtual const char* GetAttributeLabel();
    virtual void SetAttributeLabel(const char* label);
    virtual bool GetQuoteFlag();
    // The name was written in double quotes: "*" then names a child called so, not any child.
    bool IsLiteralName() const { return literalName_; }

    // The outline lines of Dump, each ending in a line feed, handed to sink one by one.
    template <class Sink>
    void DumpLines(int indent, Sink&& sink);

    // The name; its data() is NUL-terminated.
    std::string_view Name() const { return {name_, nameLength_}; }
    // The count after "#" as an integer value, empty when absent.
    FIValue Count() const { return hasCount_ ? FIValue(count_) : FIValue(); }
    FIValue SecondCount() const { return FIValue(int32_t{1}); }
    std::span<const FIPathPredicate> Predicates() const { return {predicates_, predicateCount_}; }
    // The attribute named in "(...)" after the last element, empty when none.
    const FIValue& SelectedAttribute() const;

protected:
    virtual ~FIPathBase();

private:
    friend struct PathParser;
    // What few elements carry: the arena of an element parsed into, an attribute selection, a label.
    struct Extra;
    void DumpTo(int indent, void (*sink)(void*, const char*), void* context);
    // Destroys the successors and predicates and forgets what was parsed (not the label).
    void Reset();
    // Destroys the element: in place when it lives in an arena, freeing it otherwise.
    void Release();
    Extra& Extras();

    const char* name_;
    FIPathBase* next_ = nullptr;
    FIPathPredicate* predicates_ = nullptr;
    std::unique_ptr<Extra> extra_;  // destroyed after the parts in its arena (the destructor's body)
    uint32_t nameLength_ = 0;
    uint32_t predicateCount_ = 0;
    int32_t count_ = 0;
    bool hasCount_ = false;
    bool quoted_ = false;
    bool literalName_ = false;
    bool inArena_ = false;
};

template <class Sink>
void FIPathBase::DumpLines(int indent, Sink&& sink) {
    DumpTo(
        indent, [](void* c, const char* line) { (*static_cast<std::remove_reference_t<Sink>*>(c))(line); }, &sink);
}

// How deeply predicates may nest inside predicates before the parser refuses the path.
constexpr int kMaxPathNesting = 64;

}  // namespace FI

// Parses one element (with its successors and predicates) into element; error receives the message.
void ParsePathElement(FI::FIPathBase* element, ValueList& list, FIValue& error);
// Allocates and parses a new element; returned also on error (the caller checks error and deletes it).
FI::FIPathBase* ParsePath(ValueList& list, FIValue& error);
