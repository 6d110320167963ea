// Browsing paths: the tokenizer, the parsed element chain and the parser.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "browse/value.h"

// One token of a path: a single delimiter character, or a text.
struct PathToken {
    bool punctuation = false;
    char ch = 0;
    std::string text;
    bool quoted = false;  // a string written in double quotes: a name taken literally

    bool Is(char c) const { return punctuation && ch == c; }
    bool IsString() const { return !punctuation; }
};

class ValueList {
public:
    // The token at the read position, advancing; null at the end.
    const PathToken* Next();
    // The token at read position + offset without moving (-1: the one consumed last); null outside.
    const PathToken* Peek(int offset = 0) const;
    void Clear();

    const FIValue& Source() const { return source_; }
    const std::vector<PathToken>& Tokens() const { return tokens_; }
    uint32_t Position() const { return position_; }

private:
    friend void TokenizePath(ValueList& list, const FIValue& value);
    FIValue source_;
    uint32_t position_ = 0;
    std::vector<PathToken> tokens_;
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
    std::unique_ptr<FIValue> compared;  // null when the predicate has no "="
};

// One element of a parsed path; owns its successor and its predicates.
class FIPathBase {
public:
    FIPathBase() = default;
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

    const std::string& Name() const { return name_; }
    const FIValue& Count() const { return count_; }
    const FIValue& SecondCount() const { return secondCount_; }
    const std::vector<FIPathPredicate>& Predicates() const { return predicates_; }
    const FIValue& SelectedAttribute() const { return selectedAttribute_; }

protected:
    virtual ~FIPathBase();

private:
    friend struct PathParser;
    void DumpTo(int indent, void (*sink)(void*, const char*), void* context);

    std::string name_;
    FIValue count_;
    FIValue secondCount_{int32_t{1}};
    bool quoted_ = false;
    bool literalName_ = false;
    FIPathBase* next_ = nullptr;
    std::vector<FIPathPredicate> predicates_;
    FIValue selectedAttribute_;
    std::string attributeLabel_;
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
