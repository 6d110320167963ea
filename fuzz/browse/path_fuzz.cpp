// Fuzzes the path tokenizer, the parser, the light splitter and value appends.
// Property: a name appended with the quote flag tokenizes (and splits) back to that name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browse/entry.h"
#include "browse/iterator.h"
#include "browse/path.h"
#include "browse/value.h"
#include "support/memory_document.h"

namespace {

bool IsCountText(const std::string& s) {
    if (s.size() < 2 || s[0] != '#') return false;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

void CheckRoundTrip(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return;
    FIValue quoted;
    quoted.Append(name, true, false);
    FIValue split;
    const char* rest = nullptr;
    FI::SplitFirstPathElement(quoted.GetString(), split, &rest);
    if (split.ToStdString() != name || rest == nullptr || *rest != '\0') std::abort();
    if (IsCountText(name)) return;  // a count stays bare by design and reads back as "#" and digits
    ValueList list;
    TokenizePath(list, quoted);
    if (list.Tokens().size() != 1 || !list.Tokens()[0].IsString() || list.Tokens()[0].text != name) std::abort();
}

// A small document whose entries carry values, so walks evaluate predicates.
fitest::MemoryDocument* Document() {
    static fitest::MemoryDocument* doc = [] {
        fitest::MemoryHandle top = fitest::MemoryEntry::Make("Top");
        fitest::MemoryEntry* blocks = top->Add("Blocks");
        for (int i = 0; i < 3; ++i) {
            fitest::MemoryEntry* b = blocks->Add("B" + std::to_string(i));
            b->AddLeaf("T", FIValue(i));
            b->AddLeaf("S", FIValue("x.y"));
        }
        top->Add("a.b")->Add("");
        return fitest::MemoryDocument::Create(top);
    }();
    return doc;
}

void Walk(const std::string& text) {
    FI::FIIteratorBase it(Document());
    it.Select(text);
    it.MoveTo(text);
    FIValue path;
    it.GetPath(path);
    // Wherever the walk ended, its printed path leads back there.
    if (it.Depth() > 0) {
        std::string printed = path.ToStdString();
        FI::FIIteratorBase again(Document());
        if (!again.MoveTo(printed.substr(printed.find('.') + 1)) || again.Current().Get() == nullptr) std::abort();
    }
    FIValue canonical;
    Document()->GetCanonicalPath(text.c_str(), canonical);
    const char* rest = nullptr;
    Document()->ResolvePath(text.c_str(), &rest);
}

// Parses the second half of the text into an element of the path the input chose (along successors and
// into predicate paths), twice, as a client parsing again would; the caller then destroys the path.
void ParseIntoAnElement(FI::FIPathBase* path, const std::string& text, size_t size) {
    FI::FIPathBase* target = path;
    for (size_t step = 0; step < 8 && target != nullptr; ++step) {
        const unsigned char choice = size > step ? static_cast<unsigned char>(text[step]) : 0;
        FI::FIPathBase* next = nullptr;
        if (choice % 3 == 1) next = target->GetNext();
        if (choice % 3 == 2 && !target->Predicates().empty())
            next = target->Predicates()[choice % target->Predicates().size()].path.get();
        if (next == nullptr) break;
        target = next;
    }
    for (int again = 0; again < 2; ++again) {
        ValueList list;
        TokenizePath(list, FIValue(text.substr(size / (2 + again))));
        FIValue error;
        ParsePathElement(target, list, error);
        if (!error.IsEmpty() && error.ToStdString().find("Parse error, ") != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    ValueList list;
    TokenizePath(list, FIValue(text));
    FIValue error;
    FI::FIPathPtr path(ParsePath(list, error));
    if (!error.IsEmpty() && error.ToStdString().find("Parse error, ") != 0) std::abort();
    size_t lines = 0;
    path->DumpLines(static_cast<int>(size % 120), [&](const char* line) {
        if (std::strlen(line) >= 100) std::abort();
        ++lines;
    });

    ParseIntoAnElement(path.get(), text, size);

    std::string terminated = text.substr(0, text.find('\0'));
    FIValue element;
    const char* rest = nullptr;
    FI::SplitFirstPathElement(terminated.c_str(), element, &rest);
    if (rest == nullptr || rest < terminated.c_str() || rest > terminated.c_str() + terminated.size()) std::abort();

    CheckRoundTrip(terminated);
    Walk(terminated);

    FIValue escaped;
    escaped.Append(text, size % 2 == 0, true);
    FIValue v(terminated);
    (void)v.ToInt();
    (void)v.ToDouble();
    int c = FIValue::Compare(v, FIValue(terminated));
    if (c != 0) std::abort();
    char buf[16];
    escaped.CopyTo(buf, size % sizeof buf);
    return 0;
}
