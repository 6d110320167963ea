#include "modelfile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <unordered_set>
#include <algorithm>
#include <array>
#include <cstdint>

#include "expr.h"
#include "nuv_file_replace.h"
#include "names.h"
#include "number_text.h"
#include "zeq_objects.h"
#include "zeq_units.h"

namespace zeq {

namespace {

constexpr int kMaxDepth = 32;
// The word of a block line after which the block holds only the members its body lists, none of its type's.
constexpr const char* kOwnMembers = "own-members";
// owned: the string that holds text, freed once the text is read.
bool ParseModelAt(std::string_view text, ModelDef& out, std::string& error, int library_depth,
                  const MergeTarget* into = nullptr, std::vector<ParsedEquation>* parsed = nullptr,
                  std::string* owned = nullptr);

// Where a word stands in its line: [begin, end) and whether any of it was quoted.
struct Span {
    size_t begin = 0, end = 0;
    bool quoted = false;
};

// What the tokenizer makes of each character: part of a word, a blank between words, a quote, or a comment
// start (part of a word within one). Blanks and quotes, which end an unquoted run, have the low bit set.
enum CharClass : unsigned char { kWordChar = 0, kBlank = 1, kHash = 2, kQuote = 3 };
constexpr std::array<unsigned char, 256> kCharClasses = [] {
    std::array<unsigned char, 256> t{};
    t[static_cast<unsigned char>(' ')] = t[static_cast<unsigned char>('\t')] = t[static_cast<unsigned char>('\r')] = kBlank;
    t[static_cast<unsigned char>('"')] = kQuote;
    t[static_cast<unsigned char>('#')] = kHash;
    return t;
}();
inline unsigned char ClassOf(char c) { return kCharClasses[static_cast<unsigned char>(c)]; }

// The character that a backslash and c stand for in quoted text: a line feed for n, a carriage return for r
// (which a line cannot hold, or which would end a word), else c itself.
inline char Escaped(char c) { return c == 'n' ? '\n' : c == 'r' ? '\r' : c; }

// Splits a line into words; double-quoted words may hold blanks and \" or \\ escapes (\n and \r stand for a
// line feed and a carriage return). A '#' where a word would start begins a comment. The words are written
// over the strings `out` holds from the line before, so that their buffers serve again. Words after the
// first `kept` are read (their spans given, a quote left open refused) but not kept.
bool tokenize(std::string_view line, std::vector<std::string>& out, std::string& error,
              std::vector<Span>* spans = nullptr, size_t kept = SIZE_MAX) {
    if (spans) spans->clear();
    size_t count = 0;
    const char* const text = line.data();
    const size_t n = line.size();
    size_t i = 0;
    for (;;) {
        while (i < n && ClassOf(text[i]) == kBlank) ++i;
        if (i >= n || text[i] == '#') break;
        if (count == kept) {
            // A word not kept: its end, and whether its quotes close, as a kept one's.
            Span span{i, i, false};
            while (i < n && ClassOf(text[i]) != kBlank) {
                if (text[i] != '"') {
                    ++i;
                    continue;
                }
                span.quoted = true;
                bool closed = false;
                for (++i; i < n;) {
                    const char c = text[i++];
                    if (c == '\\' && i < n) {
                        ++i;
                    } else if (c == '"') {
                        closed = true;
                        break;
                    }
                }
                if (!closed) {
                    out.resize(count);
                    error = "unterminated quoted text";
                    return false;
                }
            }
            span.end = i;
            if (spans) spans->push_back(span);
            continue;
        }
        if (count == out.size()) out.emplace_back();
        std::string& word = out[count++];
        word.clear();
        Span span{i, i, false};
        while (i < n && ClassOf(text[i]) != kBlank) {
            if (text[i] == '"') {
                span.quoted = true;
                ++i;
                bool closed = false;
                while (i < n) {
                    char c = text[i++];
                    if (c == '\\' && i < n) {
                        word += Escaped(text[i++]);
                    } else if (c == '"') {
                        closed = true;
                        break;
                    } else {
                        word += c;
                    }
                }
                if (!closed) {
                    out.resize(count - 1);
                    error = "unterminated quoted text";
                    return false;
                }
            } else {
                size_t run = i + 1;
                while (run < n && (ClassOf(text[run]) & 1) == 0) ++run;
                word.append(text + i, run - i);
                i = run;
            }
        }
        span.end = i;
        if (spans) spans->push_back(span);
    }
    out.resize(count);
    return true;
}

// Where the first ':' outside quotes stands in a word (whose quotes close), or npos.
size_t ColonOutsideQuotes(std::string_view word) {
    bool quoted = false;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (quoted && c == '\\') ++i;
        else if (c == '"') quoted = !quoted;
        else if (!quoted && c == ':') return i;
    }
    return std::string_view::npos;
}

// Quoted text that the tokenizer reads back as s, line feeds and carriage returns included.
std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\' || c == '\n' || c == '\r') out += '\\';
        out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
    }
    return out + "\"";
}

// A name or other positional word as the tokenizer reads it back: bare when it can be, else quoted.
// Equation names are quoted when they hold ':', which would end them.
std::string word(const std::string& s, bool colon_ends = false) {
    bool bare = !s.empty();
    for (char c : s)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '#' || (colon_ends && c == ':'))
            bare = false;
    return bare ? s : quote(s);
}

std::string num(double d) { return NumberText(d); }

// Numbers are read exactly (see ReadNumber); "inf" and "-inf" give infinities, which only the values that
// may be unbounded keep (see parse_finite_number).
bool parse_double(const std::string& s, double& out) { return ReadNumber(s, out); }

// A number that is finite: a variable's quantities, a real parameter's value, a solver setting. "inf" and
// "-inf" stand for +-1e20, the engine's "no bound": an earlier writer wrote every number at or beyond +-1e20
// so, and its files keep opening as its reader took them.
bool parse_finite_number(const std::string& s, double& out) {
    if (!ReadNumber(s, out)) return false;
    if (std::isinf(out)) out = out > 0 ? 1e20 : -1e20;
    return true;
}

// Whether two numbers differ in any bit (-0 from 0 included): what decides that a number is written.
bool differs(double a, double b) { return std::memcmp(&a, &b, sizeof a) != 0; }

bool parse_int(const std::string& s, long long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(s.c_str(), &end, 10);
    return !s.empty() && end && *end == 0 && errno == 0;
}

int spec_from(const std::string& s) {
    static const char* const names[] = {"CALC", "CONST", "INDEP", "MEAS", "PARAM", "OPTIM", "RECON", "INITIAL"};
    for (int i = 0; i < 8; ++i)
        if (iequals(s, names[i])) return i;
    if (iequals(s, "FIXED")) return 1;
    if (iequals(s, "FREE")) return 0;
    return -1;
}
const char* spec_name(int s) {
    static const char* const names[] = {"CALC", "CONST", "INDEP", "MEAS", "PARAM", "OPTIM", "RECON", "INITIAL"};
    return s >= 0 && s < 8 ? names[s] : "CALC";
}

const char* const kConnKinds[] = {"spec-change", "equality", "measurement", "measurement-spec-change",
                                  "measurement-equality"};

// key=value pairs after the positional words.
bool split_key(const std::string& w, std::string& key, std::string& value) {
    size_t eq = w.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    key.assign(w, 0, eq);
    value.assign(w, eq + 1);
    return true;
}

std::vector<std::string> split_commas(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t c = s.find(',', start);
        if (c == std::string::npos) c = s.size();
        out.push_back(s.substr(start, c - start));
        start = c + 1;
    }
    return out;
}

// Whether a list item's text reads as an integer (value_create_from_string takes it so).
bool ReadsAsInteger(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    std::strtoll(text.c_str(), &end, 10);
    return *end == 0 && errno == 0;
}

// Whether a bare list item's text is meant as a number: all of it reads as one to the C library, which also
// takes hexadecimal numbers, not-a-numbers and numbers beyond a double's range (that a file refuses).
bool LooksLikeNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == 0;
}

// The characters that a backslash escapes within a list's text; before any other one it stands for itself.
bool ListEscaped(char c) { return c == '\\' || c == '"' || c == ','; }

// A bare list item without escapes: a number (read as every number of a file is, after any leading blanks),
// a logical or an identifier. A negative zero ("-0"), which an integer cannot hold, is kept as the real
// number it is. Null, with the reason in error, for a number that a file refuses.
value_t* ReadBareListItem(const std::string& text, std::string& error) {
    const bool integer = ReadsAsInteger(text);
    if (!integer && LooksLikeNumber(text)) {
        size_t from = 0;
        while (from < text.size() && std::isspace(static_cast<unsigned char>(text[from]))) ++from;
        double unused;
        if (!ReadNumber(std::string_view(text).substr(from), unused)) {
            error = "bad number " + text + " in list";
            return nullptr;
        }
    }
    if (integer && text.find('-') != std::string::npos && std::strtoll(text.c_str(), nullptr, 10) == 0) {
        auto* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
        value_init(v);
        value_assign_double(v, -0.0);
        return v;
    }
    return value_create_from_string(text.c_str(), 1);
}

value_t* NewTextItem(const std::string& text, bool id) {
    auto* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
    value_init(v);
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    if (id) value_assign_id(v, copy);
    else value_assign_string(v, copy);
    return v;
}

// Adds the items of a list's or an enumeration's text to list; false with the reason in error. Items are
// separated by commas. A quoted item is text, which ends at the first unescaped quote that a comma or the
// end follows. In any item a backslash takes a backslash, a quote or a comma after it as it is; a bare item
// with such an escape, or one that starts with a backslash that escapes nothing (which is dropped), is an
// identifier. No text at all is a list of no items.
bool ReadListItems(const std::string& text, gl_list* list, std::string& error) {
    const size_t n = text.size();
    if (n == 0) return true;
    for (size_t i = 0;;) {
        std::string item;
        value_t* v = nullptr;
        if (i < n && text[i] == '"') {
            bool closed = false;
            for (++i; i < n;) {
                const char c = text[i++];
                if (c == '\\' && i < n && ListEscaped(text[i])) {
                    item += text[i++];
                } else if (c == '"' && (i == n || text[i] == ',')) {
                    closed = true;
                    break;
                } else {
                    item += c;
                }
            }
            if (!closed) {
                error = "unterminated text in list";
                return false;
            }
            v = NewTextItem(item, false);
        } else {
            bool identifier = false;
            if (i < n && text[i] == '\\' && (i + 1 == n || !ListEscaped(text[i + 1]))) {
                identifier = true;
                ++i;
            }
            while (i < n && text[i] != ',') {
                if (text[i] == '\\' && i + 1 < n && ListEscaped(text[i + 1])) {
                    item += text[i + 1];
                    i += 2;
                    identifier = true;
                } else {
                    item += text[i++];
                }
            }
            v = identifier ? NewTextItem(item, true) : ReadBareListItem(item, error);
            if (!v) return false;
        }
        gl_addtoend(list, v);
        if (i >= n) return true;
        ++i;  // the comma
    }
}

// A list or enumeration item as text, in full (value_to_text shortens real numbers).
std::string ItemText(const value_t* item) {
    char buf[256];
    const int n = value_to_text(item, buf, sizeof buf);
    if (n < static_cast<int>(sizeof buf)) return buf;
    std::string text(static_cast<size_t>(n) + 1, '\0');
    value_to_text(item, text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

// A list item's text that ReadListItems reads back as the same item: a real number that its shortest text
// would give back as an integer gets a decimal point; text is quoted, its quotes and backslashes escaped;
// an identifier has its backslashes, quotes and commas escaped, and a leading backslash when it would read
// as something else (a number, a logical, or nothing when it is the list's only item). Items of other kinds
// are written as the identifiers of their text.
std::string ListItemText(const value_t* item, bool only) {
    if (item->kind == VALUE_NUMBER && !item->is_int) {
        std::string text = num(item->u.d);
        return ReadsAsInteger(text) ? text + ".0" : text;
    }
    if (item->kind == VALUE_NUMBER || item->kind == VALUE_LOGICAL) return ItemText(item);
    const std::string text = item->kind == VALUE_STRING || item->kind == VALUE_ID ? (item->u.s ? item->u.s : "") : ItemText(item);
    std::string out = item->kind == VALUE_STRING ? "\"" : "";
    bool escaped = false;
    for (char c : text) {
        if (c == '\\' || c == '"' || (c == ',' && item->kind != VALUE_STRING)) {
            out += '\\';
            escaped = true;
        }
        out += c;
    }
    if (item->kind == VALUE_STRING) return out + "\"";
    const bool plain = text.empty() ? !only : !LooksLikeNumber(text) && !ReadsAsInteger(text) && !iequals(text, "true") && !iequals(text, "false");
    return escaped || plain ? out : "\\" + out;
}

// A parameter value: kind word, then its data from w[at]. Returns words used, 0 on error.
size_t parse_value(const std::vector<std::string>& w, size_t at, Value& out, std::string& error) {
    if (at >= w.size()) {
        error = "value expected";
        return 0;
    }
    const std::string& kind = w[at];
    auto need = [&](size_t n) {
        if (at + n >= w.size()) {
            error = "value of kind " + kind + " is incomplete";
            return false;
        }
        return true;
    };
    if (iequals(kind, "missing")) {
        out = Value();
        return 1;
    }
    if (iequals(kind, "real") || iequals(kind, "int")) {
        if (!need(1)) return 0;
        if (iequals(kind, "int")) {
            long long i;
            if (!parse_int(w[at + 1], i)) return error = "bad integer " + w[at + 1], 0;
            out = Value::Int(i);
        } else {
            double d;
            if (!parse_finite_number(w[at + 1], d)) return error = "bad number " + w[at + 1], 0;
            out = Value::Real(d);
        }
        return 2;
    }
    if (iequals(kind, "bounded") || iequals(kind, "boundedint")) {
        if (!need(3)) return 0;
        const bool whole = iequals(kind, "boundedint");
        double d, lo, hi;
        // A bounded integer written as one is read exactly, as a save writes it; otherwise it must be a whole
        // number within int64_t's range (checked before converting, which is undefined beyond it).
        long long i = 0;
        const bool integer_text = whole && parse_int(w[at + 1], i);
        if (integer_text) {
            d = static_cast<double>(i);
        } else if (whole && parse_double(w[at + 1], d) && !(d == std::floor(d) && std::fabs(d) < 0x1p63)) {
            return error = "bad bounded integer " + w[at + 1], 0;
        }
        // The number is finite; its bounds may be infinite (unbounded).
        if (!(integer_text || (whole ? parse_double(w[at + 1], d) : parse_finite_number(w[at + 1], d))) ||
            !std::isfinite(d) || !parse_double(w[at + 2], lo) || !parse_double(w[at + 3], hi) || lo > hi || d < lo ||
            d > hi)
            return error = "bad bounded number", 0;
        value_assign_boundednum(out.get(), d, lo, hi, whole);
        if (integer_text) out.get()->u.i = i;
        return 4;
    }
    if (iequals(kind, "text") || iequals(kind, "id")) {
        if (!need(1)) return 0;
        out = iequals(kind, "text") ? Value::Text(w[at + 1]) : Value::Id(w[at + 1]);
        return 2;
    }
    if (iequals(kind, "bool")) {
        if (!need(1)) return 0;
        if (!iequals(w[at + 1], "true") && !iequals(w[at + 1], "false")) return error = "bad logical " + w[at + 1], 0;
        out = Value::Logical(iequals(w[at + 1], "true"));
        return 2;
    }
    if (iequals(kind, "list") || iequals(kind, "enum")) {
        bool is_enum = iequals(kind, "enum");
        if (!need(is_enum ? 2 : 1)) return 0;
        gl_list* list = gl_create(0);
        if (!ReadListItems(w[at + (is_enum ? 2 : 1)], list, error)) {
            gl_destroy(list, gl_value_free);
            return 0;
        }
        if (is_enum) {
            // The first option of the choice's text (in any case); a parameter's choice= key may name a later
            // one. An enumeration of no options has the choice "".
            value_assign_enum(out.get(), list);
            const int count = gl_length(list);
            int chosen = -1;
            for (int p = 1; p <= count && chosen < 0; ++p)
                if (iequals(ItemText(static_cast<const value_t*>(gl_get(list, p))), w[at + 1])) chosen = p - 1;
            if (chosen < 0 && !(count == 0 && w[at + 1].empty()))
                return error = "enumeration choice " + w[at + 1] + " is not among its options", 0;
            out.get()->enum_index = std::max(chosen, 0);
            return 3;
        }
        value_assign_list(out.get(), list);
        return 2;
    }
    error = "unknown value kind " + kind;
    return 0;
}

std::string write_value(const Value& v) {
    const value_t* x = v.get();
    switch (x->kind) {
        case VALUE_NUMBER: return x->is_int ? "int " + std::to_string(x->u.i) : "real " + num(x->u.d);
        case VALUE_BOUNDEDNUM:
            return std::string(x->is_int ? "boundedint " : "bounded ") +
                   (x->is_int ? std::to_string(x->u.i) : num(x->u.d)) + " " + num(x->lower) + " " + num(x->upper);
        case VALUE_STRING: return "text " + quote(x->u.s ? x->u.s : "");
        case VALUE_ID: return "id " + quote(x->u.s ? x->u.s : "");
        case VALUE_LOGICAL: return std::string("bool ") + (x->u.logical ? "true" : "false");
        case VALUE_LIST:
        case VALUE_ENUM: {
            std::string items;
            // Real items in full (value_to_text shortens them); the enumeration's choice is matched against its
            // items' shortened texts when read, so it stays in that form, and its position is given too when
            // an earlier item reads alike.
            const int count = gl_length(x->u.list);
            for (int p = 1; p <= count; ++p) {
                if (p > 1) items += ",";
                items += ListItemText(static_cast<const value_t*>(gl_get(x->u.list, p)), count == 1);
            }
            if (x->kind == VALUE_LIST) return "list " + quote(items);
            const int index = x->enum_index;
            const std::string choice = index >= 0 && index < count ? ItemText(static_cast<const value_t*>(gl_get(x->u.list, index + 1))) : "";
            std::string text = "enum " + quote(choice) + " " + quote(items);
            for (int p = 1; p <= index; ++p)
                if (iequals(ItemText(static_cast<const value_t*>(gl_get(x->u.list, p))), choice))
                    return text + " choice=" + std::to_string(index + 1);
            return text;
        }
        default: return "missing";
    }
}

// Lists of at most this many members are searched from end to end instead of through a name index: most
// blocks' lists are that short, and a model of many small blocks then keeps no table of its own per block.
// Such tables, kept from the parse for the check, would lie among the blocks' members on the heap and hold
// their pages after the build has freed the members.
constexpr size_t kScannedList = 16;

// Position of the member named `name` in a list, through its index when it has one (-1 when none).
template <class T>
int FindMember(const NameIndex& index, const std::vector<T>& list, std::string_view name) {
    if (index.Built())
        return index.FindWith(name, [&list](int p) { return std::string_view(list[static_cast<size_t>(p)].name); });
    for (size_t p = 0; p < list.size(); ++p)
        if (iequals(list[p].name, name)) return static_cast<int>(p);
    return -1;
}

// Indexes a list by name when it is longer than kScannedList; a shorter one is left without an index.
template <class T>
void IndexLongList(NameIndex& index, const std::vector<T>& list) {
    if (list.size() > kScannedList)
        index.Rebuild(static_cast<int>(list.size()),
                      [&list](int p) { return std::string_view(list[static_cast<size_t>(p)].name); });
}

// Positions by name of one list of members, so that each new member's name is checked in constant time. A
// short list has no index (see kScannedList) until it grows past that length.
template <class T>
struct ListIndex {
    std::vector<T>* list;
    NameIndex index;
    explicit ListIndex(std::vector<T>& l) : list(&l) { IndexLongList(index, l); }
    std::string_view NameOf(int p) const { return (*list)[static_cast<size_t>(p)].name; }
    bool Has(std::string_view name) const { return FindMember(index, *list, name) >= 0; }
    // Room for `more` members beyond those the list holds.
    void Reserve(size_t more) {
        const size_t n = list->size() + more;
        list->reserve(n);
        if (n <= kScannedList) return;
        if (!index.Built()) index.Rebuild(static_cast<int>(list->size()), [this](int p) { return NameOf(p); });
        index.Reserve(static_cast<int>(n), [this](int p) { return NameOf(p); });
    }
    // A member named like one the list already has (from the block's type) replaces it.
    void Put(T item) {
        if (!index.Built()) {
            const int at = FindMember(index, *list, item.name);
            if (at >= 0) {
                (*list)[static_cast<size_t>(at)] = std::move(item);
                return;
            }
            list->push_back(std::move(item));
            IndexLongList(index, *list);
            return;
        }
        list->push_back(std::move(item));
        int at = index.Add([this](int p) { return NameOf(p); });
        if (static_cast<size_t>(at) + 1 != list->size()) {
            (*list)[static_cast<size_t>(at)] = std::move(list->back());
            list->pop_back();
        }
    }
    // As Put, for a list of many members: the member is indexed by Finish, which takes the members appended
    // since in their order and fetches each one's slot a few members ahead (slots of a large index lie far
    // apart).
    void Append(T item) { list->push_back(std::move(item)); }
    void Finish() {
        const size_t n = list->size();
        if (!index.Built() && n <= kScannedList) {
            // The members before those appended are all different; each appended one joins them or replaces
            // the one of its name.
            size_t kept = 0;
            for (size_t next = 0; next < n; ++next) {
                size_t at = 0;
                while (at < kept && !iequals((*list)[at].name, (*list)[next].name)) ++at;
                if (at == kept) ++kept;
                if (at != next) (*list)[at] = std::move((*list)[next]);
            }
            list->erase(list->begin() + static_cast<std::ptrdiff_t>(kept), list->end());
            return;
        }
        index.Reserve(static_cast<int>(n), [this](int p) { return NameOf(p); });
        constexpr size_t kAhead = 8;
        size_t kept = static_cast<size_t>(index.Count());
        for (size_t next = kept; next < n; ++next) {
            if (next + kAhead < n) index.Prefetch((*list)[next + kAhead].name);
            if (next != kept) (*list)[kept] = std::move((*list)[next]);
            int at = index.Add([this](int p) { return NameOf(p); });
            if (static_cast<size_t>(at) == kept)
                ++kept;
            else
                (*list)[static_cast<size_t>(at)] = std::move((*list)[kept]);
        }
        list->erase(list->begin() + static_cast<std::ptrdiff_t>(kept), list->end());
    }
};

// The name indexes of a parsed block's variables and of its blocks, kept from the parse for the check that
// follows it; kids[i] stands for the block's blocks[i]. A short list has no index (see kScannedList).
struct NameTree {
    NameIndex vars, blocks;
    std::vector<NameTree> kids;
    // Where the build puts the block's members (see ModelCheck::Place): its variables from var_first, its
    // equations from eqn_first, and the variables of all it holds in [var_begin, var_end).
    int var_begin = 0, var_first = 0, var_end = 0, eqn_first = 0;

    // For a block the parse did not index (the members a hierarchy block takes from its type).
    static NameTree Of(const BlockDef& b) {
        NameTree t;
        IndexLongList(t.vars, b.vars);
        IndexLongList(t.blocks, b.blocks);
        for (const BlockDef& c : b.blocks) t.kids.push_back(Of(c));
        return t;
    }
};

// The name indexes of one block's member lists while its body is read.
struct MemberIndex {
    ListIndex<VarDef> vars;
    ListIndex<EqnDef> eqns;
    ListIndex<ParamDef> params;
    ListIndex<PortDef> ports;
    ListIndex<ConnDef> conns;
    ListIndex<BlockDef> blocks;
    explicit MemberIndex(BlockDef& b)
        : vars(b.vars), eqns(b.eqns), params(b.params), ports(b.ports), conns(b.conns), blocks(b.blocks) {}
};

// The plain number a variable attribute sets, or null when the attribute is not one of those.
double VarDef::*RealField(std::string_view key) {
    static constexpr std::pair<const char*, double VarDef::*> kFields[] = {
        {"lower", &VarDef::lower},         {"upper", &VarDef::upper},
        {"step", &VarDef::step},           {"scale", &VarDef::scale},
        {"intscale", &VarDef::intscale},   {"sbweight", &VarDef::sbweight},
        {"initial", &VarDef::initial},     {"threshold", &VarDef::threshold},
        {"homotarget", &VarDef::homo_target},
    };
    for (const auto& [name, field] : kFields)
        if (iequals(key, name)) return field;
    return nullptr;
}

// A variable's quantities that a line can give in base units (VarDef::in_base, bit q for entry q): the
// key, where the quantity is kept and how a number of its unit stands for it.
struct BaseQuantity {
    const char* key;
    double VarDef::*field;
    Quantity kind;
};
constexpr BaseQuantity kBaseQuantities[] = {{"basevalue", &VarDef::value, Quantity::kValue},
                                            {"baselower", &VarDef::lower, Quantity::kLower},
                                            {"baseupper", &VarDef::upper, Quantity::kUpper},
                                            {"baseinitial", &VarDef::initial, Quantity::kValue}};

int BaseQuantityOf(std::string_view key) {
    for (int q = 0; q < 4; ++q)
        if (iequals(key, kBaseQuantities[q].key)) return q;
    return -1;
}

// The unit a variable line's numbers are in, as the engine keeps it: entry 0 is the base unit.
void UnitOf(const VarDef& v, int& ptype, int& entry) {
    ptype = v.ptype.empty() ? 0 : pt_lookup(v.ptype.c_str());
    if (ptype < 0) ptype = 0;
    if (v.uom.empty() || rtouom_ptype_locate(v.uom.c_str(), ptype, &entry) != 0 ||
        entry == rtouom_get_default(ptype))
        entry = 0;
}

// Adds block types to a list; a type named exactly like one already there replaces it.
void MergeTypes(std::vector<BlockDef>& types, std::vector<BlockDef> added) {
    for (BlockDef& t : added) {
        auto same = std::find_if(types.begin(), types.end(), [&](const BlockDef& old) { return old.name == t.name; });
        if (same != types.end())
            *same = std::move(t);
        else
            types.push_back(std::move(t));
    }
}

struct Parser {
    int library_depth = 0;
    std::vector<std::string_view> lines;
    size_t at = 0;
    std::string error;
    ModelDef* model = nullptr;
    std::unordered_set<std::string> untyped;  // block types that named no type when the block was read
    ListIndex<ParamDef> globals;
    std::string known_ptype_;  // a physical type name that Var found

    explicit Parser(ModelDef* m) : model(m), globals(m->globals) {}

    bool Fail(const std::string& m) {
        if (error.empty()) error = "line " + std::to_string(at) + ": " + m;
        return false;
    }

    // The variable is read in its place at the end of the list, and taken off again when refused.
    bool Var(const std::vector<std::string>& w, ListIndex<VarDef>& vars) {
        if (ReadVar(w, vars.list->emplace_back())) return true;
        vars.list->pop_back();
        return false;
    }

    bool ReadVar(const std::vector<std::string>& w, VarDef& v) {
        if (w.size() < 3) return Fail("var needs a name and a value");
        v.name = w[1];
        if (v.name.find('.') != std::string::npos) return Fail("variable names may not contain '.'");
        if (!parse_finite_number(w[2], v.value)) return Fail("bad value " + w[2]);
        double base[4] = {};
        unsigned char in_base = 0;
        for (size_t i = 3; i < w.size(); ++i) {
            // key=value, read in place.
            const size_t eq = w[i].find('=');
            if (eq == std::string::npos || eq == 0) return Fail("expected key=value, got " + w[i]);
            const std::string_view k = std::string_view(w[i]).substr(0, eq), val = std::string_view(w[i]).substr(eq + 1);
            double d = 0;
            if (iequals(k, "spec")) {
                v.spec = spec_from(std::string(val));
                if (v.spec < 0) return Fail("unknown variable spec " + std::string(val));
            } else if (iequals(k, "uom")) {
                v.uom = val;
            } else if (iequals(k, "ptype")) {
                // Most variables of a model share a few physical types: the last one found needs no lookup.
                // An empty one is none (UNTYPED), as an empty unit is none.
                if (!val.empty() && val != known_ptype_) {
                    if (pt_lookup(std::string(val).c_str()) < 0) return Fail("unknown physical type " + std::string(val));
                    known_ptype_ = val;
                }
                v.ptype = val;
            } else if (iequals(k, "desc")) {
                v.description = val;
            } else if (iequals(k, "profile")) {
                v.profile = iequals(val, "on") || iequals(val, "true") || val == "1";
            } else if (!parse_finite_number(std::string(val), d)) {
                return Fail("bad number for " + std::string(k) + ": " + std::string(val));
            } else if (double VarDef::*field = RealField(k)) {
                v.*field = d;
                if (field == &VarDef::initial) v.initial_set = true;
            } else if (iequals(k, "bound") || iequals(k, "quality") || iequals(k, "marked") || iequals(k, "vtype") ||
                       iequals(k, "homo") || iequals(k, "ramped") || iequals(k, "conntype")) {
                // The range is checked on the number itself: converting one outside int's range is undefined.
                if (!(d >= 0 && d <= 255) || d != std::floor(d)) return Fail("bad value for " + std::string(k));
                const int n = static_cast<int>(d);
                (iequals(k, "bound") ? v.bound : iequals(k, "quality") ? v.quality : iequals(k, "marked") ? v.marked
                 : iequals(k, "vtype") ? v.variable_type : iequals(k, "homo") ? v.homo_param
                 : iequals(k, "ramped") ? v.ramped : v.conn_type) = n;
            } else if (const int q = BaseQuantityOf(k); q >= 0) {
                // A quantity in base units is finite, as every quantity the engine keeps.
                if (!ReadNumber(val, d) || !std::isfinite(d))
                    return Fail("bad number for " + std::string(k) + ": " + std::string(val));
                base[q] = d;
                in_base |= static_cast<unsigned char>(1 << q);
            } else {
                return Fail("unknown variable attribute " + std::string(k));
            }
        }
        if (!v.uom.empty()) {
            int entry = 0;
            int pt = v.ptype.empty() ? 0 : pt_lookup(v.ptype.c_str());
            if (rtouom_ptype_locate(v.uom.c_str(), pt, &entry) != 0)
                return Fail("unit " + v.uom + " does not belong to physical type " + (v.ptype.empty() ? "UNTYPED" : v.ptype));
            // Quantities are kept in base units: one that overflows there is refused.
            const double in_unit[] = {v.value, v.lower > -1e20 ? v.lower : 0.0, v.upper < 1e20 ? v.upper : 0.0,
                                      v.initial};
            for (int q = 0; q < 4; ++q)
                if (!(in_base & (1 << q)) && !std::isfinite(rtouom_to_base(pt, entry, in_unit[q]))) {
                    char shown[32];
                    std::snprintf(shown, sizeof shown, "%g", in_unit[q]);
                    return Fail("value " + std::string(shown) + " " + v.uom + " is out of range in base units");
                }
        }
        return !in_base || TakeBaseQuantities(v, base, in_base);
    }

    // Quantities the line gives in base units replace the numbers shown for them, which must be the numbers
    // a save shows for them in the unit: a number changed in the unit and its stale base quantity are refused.
    bool TakeBaseQuantities(VarDef& v, const double (&base)[4], unsigned char in_base) {
        int pt = 0, entry = 0;
        UnitOf(v, pt, entry);
        for (int q = 0; q < 4; ++q) {
            if (!(in_base & (1 << q))) continue;
            const BaseQuantity& b = kBaseQuantities[q];
            bool exact = true;
            if (differs(ShownQuantity(pt, entry, base[q], b.kind, exact), v.*b.field))
                return Fail(std::string(b.key) + "=" + num(base[q]) + " is not the quantity " + num(v.*b.field) +
                            (v.uom.empty() ? "" : " " + v.uom) + " stands for; remove it when the number is changed");
            v.*b.field = base[q];
        }
        v.in_base = in_base;
        if (in_base & VarDef::kBaseInitial) v.initial_set = true;
        return true;
    }

    // "eqn NAME : TEXT" (or "NAME: TEXT"); a name ends at its first ':' outside quotes. The text runs to the
    // end of the line's last word, so a trailing comment is not part of it.
    bool Eqn(std::string_view line, const std::vector<std::string>& w, const std::vector<Span>& spans,
             ListIndex<EqnDef>& eqns) {
        if (w.size() < 2) return Fail("eqn needs a name, ':' and an equation");
        EqnDef e;
        e.line = static_cast<int>(at);
        size_t after = spans[1].end;
        const std::string_view raw = line.substr(spans[1].begin, spans[1].end - spans[1].begin);
        const size_t colon = spans[1].quoted ? ColonOutsideQuotes(raw) : raw.find(':');
        if (colon == std::string_view::npos) {
            e.name = w[1];
        } else if (!spans[1].quoted) {
            e.name = std::string(raw.substr(0, colon));
        } else {
            // The word up to the colon, its quotes read as the tokenizer reads them (they close: the whole
            // word's did).
            std::vector<std::string> name;
            std::string unused;
            tokenize(raw.substr(0, colon), name, unused);
            if (name.size() == 1) e.name = std::move(name[0]);
        }
        if (colon != std::string_view::npos) after = spans[1].begin + colon;
        while (after < line.size() && (line[after] == ' ' || line[after] == '\t')) ++after;
        // An unnamed equation's name is written "".
        if ((e.name.empty() && !spans[1].quoted) || after >= line.size() || line[after] != ':')
            return Fail("eqn needs a name, ':' and an equation");
        size_t last = std::max(spans.back().end, after + 1);
        std::string_view text = line.substr(after + 1, last - after - 1);
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
        e.text = std::string(text);
        if (e.text.find('=') == std::string::npos) return Fail("equation " + e.name + " has no '='");
        eqns.Append(std::move(e));
        return true;
    }

    bool Param(const std::vector<std::string>& w, ListIndex<ParamDef>& out) {
        if (w.size() < 3) return Fail("param needs a name and a value");
        ParamDef p;
        p.name = w[1];
        size_t used = parse_value(w, 2, p.value, error);
        if (!used) {
            std::string m = error;
            error.clear();
            return Fail(m);
        }
        for (size_t i = 2 + used; i < w.size(); ++i) {
            std::string k, val;
            if (!split_key(w[i], k, val)) return Fail("expected key=value, got " + w[i]);
            double d;
            if (iequals(k, "uom")) p.uom = val;
            else if (iequals(k, "desc")) p.description = val;
            else if (iequals(k, "ptype")) p.ptype = val;
            else if (iequals(k, "access")) p.access = iequals(val, "ro") ? 0 : 1;
            else if (iequals(k, "choice") && p.value.kind() == VALUE_ENUM) {
                // The position of the chosen option, from 1, when an earlier option's text reads alike: it
                // must be one of that text.
                value_t* e = p.value.get();
                auto option = [e](long long at) { return static_cast<const value_t*>(gl_get(e->u.list, static_cast<int>(at))); };
                const std::string choice = ItemText(option(e->enum_index + 1));
                long long at = 0;
                if (!parse_int(val, at) || at < 1 || at > gl_length(e->u.list) || !iequals(ItemText(option(at)), choice))
                    return Fail("choice=" + val + " is not an option named " + choice);
                e->enum_index = static_cast<int32_t>(at - 1);
            }
            else if ((iequals(k, "lower") || iequals(k, "upper")) && parse_double(val, d))
                (iequals(k, "lower") ? p.lower : p.upper) = Value::Real(d);
            else return Fail("unknown parameter attribute " + k);
        }
        out.Put(std::move(p));
        return true;
    }

    bool Port(const std::vector<std::string>& w, ListIndex<PortDef>& ports) {
        if (w.size() < 3) return Fail("port needs a name and a direction");
        PortDef p;
        p.name = w[1];
        p.direction = to_upper(w[2]);
        for (size_t i = 3; i < w.size(); ++i) {
            std::string k, val;
            if (!split_key(w[i], k, val)) return Fail("expected key=value, got " + w[i]);
            if (iequals(k, "type")) p.type = val;
            else if (iequals(k, "basis")) p.basis = val;
            else if (iequals(k, "phase")) p.phase = val;
            else if (iequals(k, "stream")) p.stream = val;
            else if (iequals(k, "vars")) {
                // The names of variables, separated by commas; vars="" names none (an unnamed variable
                // is named among others: vars=",A").
                p.vars.clear();
                if (!val.empty()) p.vars = split_commas(val);
            }
            else return Fail("unknown port attribute " + k);
        }
        ports.Put(std::move(p));
        return true;
    }

    bool Connection(const std::vector<std::string>& w, ListIndex<ConnDef>& conns) {
        if (w.size() < 5) return Fail("connection needs a name, a kind and two variables");
        ConnDef c;
        c.name = w[1];
        c.line = static_cast<int>(at);
        c.kind = -1;
        for (int k = 0; k < 5; ++k)
            if (iequals(w[2], kConnKinds[k])) c.kind = k;
        if (c.kind < 0) return Fail("unknown connection kind " + w[2]);
        c.from = w[3];
        c.to = w[4];
        for (size_t i = 5; i < w.size(); ++i) {
            if (iequals(w[i], "disabled")) c.enabled = false;
            else return Fail("unexpected " + w[i]);
        }
        conns.Put(std::move(c));
        return true;
    }

    // A line's first word as the tokenizer splits it, when it has three characters (the keywords that
    // ReserveMembers counts), packed with ASCII letters in lower case: equal to Keyword("var") for "var",
    // "VAR", "Var" ... and for no other word; else 0.
    static constexpr uint32_t Keyword(const char (&word)[4]) {
        return uint32_t{static_cast<unsigned char>(word[0])} << 16 | uint32_t{static_cast<unsigned char>(word[1])} << 8 |
               static_cast<unsigned char>(word[2]);
    }
    static uint32_t ThreeLetterKeyword(std::string_view line) {
        size_t from = 0;
        while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) ++from;
        size_t to = from;
        while (to < line.size() && line[to] != ' ' && line[to] != '\t' && line[to] != '\r') ++to;
        if (to - from != 3) return 0;
        // Setting bit 5 turns an ASCII capital into its small letter, and no other byte into a small letter.
        auto lower = [&](size_t i) { return uint32_t{static_cast<unsigned char>(line[from + i]) | 0x20u}; };
        return lower(0) << 16 | lower(1) << 8 | lower(2);
    }
    static bool StartsWithEqn(std::string_view line) { return ThreeLetterKeyword(line) == Keyword("eqn"); }

    // Room for the variables and equations of the plain block whose body starts at the current line, so
    // that a block of millions of members is not copied at every doubling: counts the lines up to the
    // block's first "end" by their first word.
    void ReserveMembers(MemberIndex& index) const {
        size_t vars = 0, eqns = 0;
        for (size_t i = at; i < lines.size(); ++i) {
            const uint32_t word = ThreeLetterKeyword(lines[i]);
            if (word == 0) continue;
            if (word == Keyword("end")) break;
            vars += word == Keyword("var");
            eqns += word == Keyword("eqn");
        }
        index.vars.Reserve(vars);
        index.eqns.Reserve(eqns);
    }

    // Type names are matched as written: a type of the file's own is not taken for a library's.
    const BlockDef* FindType(const std::string& name) const {
        for (const BlockDef& t : model->types)
            if (t.name == name) return &t;
        return nullptr;
    }

    // A type defined after a block named it would give that block its members only when the file is read
    // again (libraries and types are written first), so it is refused.
    bool DefineTypes(std::vector<BlockDef>& types) {
        for (const BlockDef& t : types)
            if (untyped.count(t.name)) return Fail("type " + t.name + " is defined after a block of that type");
        MergeTypes(model->types, std::move(types));
        return true;
    }

    // Body of a block, hierarchy, type or the flowsheet, up to its "end" (or the end of the text at top).
    // tree, when given, receives the name indexes of the block's variables and blocks.
    bool Body(BlockDef& b, int depth, bool top, NameTree* tree = nullptr) {
        if (depth > kMaxDepth) return Fail("blocks nested too deeply");
        std::vector<std::string> w;
        std::vector<Span> spans;
        MemberIndex index(b);
        if (tree)
            for (const BlockDef& c : b.blocks) tree->kids.push_back(NameTree::Of(c));
        // The blocks a hierarchy block takes from its type, which a block of the same name in its body
        // replaces in place (as a saved model writes them), each once.
        std::vector<bool> from_type(b.blocks.size(), true);
        auto keep = [&] {
            index.vars.Finish();
            index.eqns.Finish();
            if (!tree) return;
            tree->vars = std::move(index.vars.index);
            tree->blocks = std::move(index.blocks.index);
        };
        if (!top && !b.aggregate) ReserveMembers(index);
        while (at < lines.size()) {
            std::string_view line = lines[at++];
            std::string terr;
            // An equation needs its first two words kept; the rest only spanned.
            if (!tokenize(line, w, terr, &spans, StartsWithEqn(line) ? 2 : SIZE_MAX)) return Fail(terr);
            if (w.empty()) continue;
            const std::string& key = w[0];
            if (iequals(key, "end")) {
                if (top) return Fail("'end' without a block");
                keep();
                // A large model holds many blocks: each keeps only the room its members take.
                b.vars.shrink_to_fit();
                b.eqns.shrink_to_fit();
                return true;
            }
            if (iequals(key, "var")) {
                if (!Var(w, index.vars)) return false;
            } else if (iequals(key, "eqn")) {
                if (!Eqn(line, w, spans, index.eqns)) return false;
            } else if (iequals(key, "param")) {
                if (top) return Fail("param outside a block (use global)");
                if (!Param(w, index.params)) return false;
            } else if (iequals(key, "port")) {
                if (top) return Fail("port outside a block");
                if (!Port(w, index.ports)) return false;
            } else if (iequals(key, "connection")) {
                if (!top && !b.aggregate) return Fail("connections belong to the flowsheet or a hierarchy block");
                if (!Connection(w, index.conns)) return false;
            } else if (iequals(key, "block") || iequals(key, "hierarchy")) {
                if (!top && !b.aggregate) return Fail("blocks can only be placed in a hierarchy block");
                if (w.size() < 2) return Fail(key + " needs a name and an optional type");
                // After the name: the type, unless the word is one of the line's own unquoted, then those.
                bool excluded = false, own_members = false, typed = false;
                for (size_t i = 2; i < w.size(); ++i) {
                    const bool bare = !spans[i].quoted;
                    if (bare && !excluded && iequals(w[i], "excluded")) excluded = true;
                    else if (bare && !own_members && iequals(w[i], kOwnMembers)) own_members = true;
                    else if (i == 2) typed = true;
                    else return Fail("unexpected " + w[i] + " after " + key + " " + w[1]);
                }
                BlockDef child;
                if (typed) {
                    // A block of its own members takes none from its type, whenever that is defined.
                    const BlockDef* t = own_members ? nullptr : FindType(w[2]);
                    if (t) child = *t;
                    else if (!own_members) untyped.insert(w[2]);
                    child.type = w[2];
                }
                child.name = w[1];
                child.library.clear();
                if (child.type.empty()) child.type = iequals(key, "hierarchy") ? "HIERARCHY" : "BLOCK";
                child.aggregate = child.aggregate || iequals(key, "hierarchy");
                child.included = !excluded;
                if (child.name.find('.') != std::string::npos) return Fail("block names may not contain '.'");
                const int replaced = FindMember(index.blocks.index, b.blocks, child.name);
                if (replaced >= 0 && !from_type[static_cast<size_t>(replaced)])
                    return Fail("block " + child.name + " is defined twice");
                NameTree kid;
                if (!Body(child, depth + 1, false, tree ? &kid : nullptr)) return false;
                index.blocks.Put(std::move(child));
                if (replaced >= 0) {
                    from_type[static_cast<size_t>(replaced)] = false;
                    if (tree) tree->kids[static_cast<size_t>(replaced)] = std::move(kid);
                } else {
                    from_type.push_back(false);
                    if (tree) tree->kids.push_back(std::move(kid));
                }
            } else if (!top) {
                return Fail("unexpected " + key + " inside a block");
            } else if (iequals(key, "model") && w.size() == 2) {
                model->name = w[1];
            } else if (iequals(key, "mode") && w.size() == 2) {
                long long m;
                if (!parse_int(w[1], m) || m < 0 || m > 3) return Fail("run mode must be 0..3");
                model->mode = static_cast<int>(m);
            } else if (iequals(key, "scope") && w.size() == 2) {
                model->scope = w[1];
                model->scope_line = static_cast<int>(at);
            } else if (iequals(key, "library") && w.size() == 2) {
                std::string lerr;
                std::vector<BlockDef> types;
                if (!LoadLibraryTypes(w[1], types, lerr, library_depth + 1)) return Fail(lerr);
                if (!DefineTypes(types)) return false;
                model->libraries.push_back(w[1]);
            } else if (iequals(key, "type") && (w.size() == 2 || w.size() == 3)) {
                if (w.size() == 3 && !iequals(w[2], "hierarchy")) return Fail("unexpected " + w[2] + " after type " + w[1]);
                if (untyped.count(w[1])) return Fail("type " + w[1] + " is defined after a block of that type");
                BlockDef t;
                t.name = w[1];
                t.type = t.name;
                t.aggregate = w.size() == 3 && iequals(w[2], "hierarchy");
                if (!Body(t, depth + 1, false)) return false;
                std::vector<BlockDef> one;
                one.push_back(std::move(t));
                if (!DefineTypes(one)) return false;
            } else if (iequals(key, "solver") && w.size() == 2) {
                SolverDef s;
                s.name = w[1];
                if (!Solver(s)) return false;
                model->solvers.push_back(std::move(s));
            } else if (iequals(key, "objective") && w.size() >= 4) {
                ObjectiveDef o;
                o.name = w[1];
                if (!iequals(w[2], "minimize") && !iequals(w[2], "maximize")) return Fail("minimize or maximize expected");
                o.maximize = iequals(w[2], "maximize");
                o.line = static_cast<int>(at);
                std::string_view expr = line.substr(spans[2].end, spans.back().end - spans[2].end);
                while (!expr.empty() && (expr.front() == ' ' || expr.front() == '\t')) expr.remove_prefix(1);
                o.expr = std::string(expr);
                model->objectives.push_back(std::move(o));
            } else if (iequals(key, "default-objective") && w.size() == 2) {
                model->default_objective = w[1];
                model->default_objective_line = static_cast<int>(at);
            } else if (iequals(key, "tag") && w.size() == 3) {
                model->tags.push_back(TagDef{w[1], w[2], static_cast<int>(at)});
            } else if (iequals(key, "global")) {
                if (!Param(w, globals)) return false;
            } else {
                return Fail("unknown or malformed line starting with " + key);
            }
        }
        if (!top) return Fail("missing 'end'");
        keep();
        return true;
    }

    bool Solver(SolverDef& s) {
        std::vector<std::string> w;
        while (at < lines.size()) {
            std::string terr;
            if (!tokenize(lines[at++], w, terr)) return Fail(terr);
            if (w.empty()) continue;
            if (iequals(w[0], "end")) return true;
            if (w.size() != 3) return Fail("solver parameters are: int|real|text NAME VALUE");
            if (iequals(w[0], "int")) {
                long long i;
                if (!parse_int(w[2], i) || i < INT32_MIN || i > INT32_MAX) return Fail("bad integer " + w[2]);
                if (const char* problem = SolverSettingProblem(w[1], static_cast<double>(i)))
                    return Fail(w[1] + " " + problem);
                s.ints.emplace_back(w[1], static_cast<int>(i));
            } else if (iequals(w[0], "real")) {
                double d;
                if (!parse_finite_number(w[2], d)) return Fail("bad number " + w[2]);
                if (const char* problem = SolverSettingProblem(w[1], d)) return Fail(w[1] + " " + problem);
                s.reals.emplace_back(w[1], d);
            } else if (iequals(w[0], "text")) {
                s.texts.emplace_back(w[1], w[2]);
            } else {
                return Fail("unknown solver parameter kind " + w[0]);
            }
        }
        return Fail("missing 'end'");
    }
};

void write_block(std::ostringstream& out, const BlockDef& b, int indent, const char* keyword,
                 const std::vector<BlockDef>* types);

// types: the block types that a reader of the file may know where the members stand (null: none).
void write_members(std::ostringstream& out, const BlockDef& b, int indent, const std::vector<BlockDef>* types = nullptr) {
    std::string pad(static_cast<size_t>(indent), ' ');
    for (const VarDef& v : b.vars) {
        // A quantity given in base units is shown as the number of its unit that stands nearest to it, and
        // given itself after the unit.
        int pt = 0, entry = 0;
        if (v.in_base) UnitOf(v, pt, entry);
        auto shown = [&](int q) {
            const BaseQuantity& b = kBaseQuantities[q];
            bool exact = true;
            return v.in_base & (1 << q) ? ShownQuantity(pt, entry, v.*b.field, b.kind, exact) : v.*b.field;
        };
        out << pad << "var " << word(v.name) << " " << num(shown(0));
        if (v.spec) out << " spec=" << spec_name(v.spec);
        if (differs(v.lower, -1e20)) out << " lower=" << num(shown(1));
        if (differs(v.upper, 1e20)) out << " upper=" << num(shown(2));
        if (!v.ptype.empty() && !iequals(v.ptype, "UNTYPED")) out << " ptype=" << v.ptype;
        if (!v.uom.empty()) out << " uom=" << quote(v.uom);
        for (int q = 0; q < 4; ++q)
            if (v.in_base & (1 << q)) out << " " << kBaseQuantities[q].key << "=" << num(v.*kBaseQuantities[q].field);
        if (differs(v.step, 0)) out << " step=" << num(v.step);
        if (differs(v.scale, 1)) out << " scale=" << num(v.scale);
        if (differs(v.intscale, 1)) out << " intscale=" << num(v.intscale);
        if (differs(v.sbweight, 0)) out << " sbweight=" << num(v.sbweight);
        if (v.initial_set) out << " initial=" << num(shown(3));
        if (differs(v.threshold, 0)) out << " threshold=" << num(v.threshold);
        if (differs(v.homo_target, 0)) out << " homotarget=" << num(v.homo_target);
        if (v.bound) out << " bound=" << v.bound;
        if (v.quality) out << " quality=" << v.quality;
        if (v.marked) out << " marked=" << v.marked;
        if (v.variable_type) out << " vtype=" << v.variable_type;
        if (v.homo_param) out << " homo=" << v.homo_param;
        if (v.ramped) out << " ramped=" << v.ramped;
        if (v.conn_type) out << " conntype=" << v.conn_type;
        if (v.profile) out << " profile=on";
        if (!v.description.empty()) out << " desc=" << quote(v.description);
        out << "\n";
    }
    for (const EqnDef& e : b.eqns) out << pad << "eqn " << word(e.name, true) << " : " << e.text << "\n";
    for (const ParamDef& p : b.params) {
        out << pad << "param " << word(p.name) << " " << write_value(p.value);
        if (p.lower.kind() == VALUE_NUMBER) out << " lower=" << num(p.lower.get()->is_int ? static_cast<double>(p.lower.get()->u.i) : p.lower.get()->u.d);
        if (p.upper.kind() == VALUE_NUMBER) out << " upper=" << num(p.upper.get()->is_int ? static_cast<double>(p.upper.get()->u.i) : p.upper.get()->u.d);
        if (!p.uom.empty()) out << " uom=" << quote(p.uom);
        if (!p.ptype.empty()) out << " ptype=" << quote(p.ptype);
        if (!p.access) out << " access=ro";
        if (!p.description.empty()) out << " desc=" << quote(p.description);
        out << "\n";
    }
    for (const PortDef& p : b.ports) {
        out << pad << "port " << word(p.name) << " " << word(p.direction) << " type=" << quote(p.type) << " basis=" << quote(p.basis)
            << " phase=" << quote(p.phase);
        if (!p.stream.empty()) out << " stream=" << quote(p.stream);
        std::string vars;
        for (size_t i = 0; i < p.vars.size(); ++i) vars += (i ? "," : "") + p.vars[i];
        out << " vars=" << quote(vars) << "\n";
    }
    for (const BlockDef& c : b.blocks) write_block(out, c, indent, c.aggregate ? "hierarchy" : "block", types);
    for (const ConnDef& c : b.conns)
        out << pad << "connection " << word(c.name) << " " << kConnKinds[c.kind >= 0 && c.kind < 5 ? c.kind : 1] << " "
            << word(c.from) << " " << word(c.to) << (c.enabled ? "" : " disabled") << "\n";
}

// Whether a block read from its line and body, which lists all it holds, gets back the members it has when
// it starts from those of its type t: a member of the body takes the place of the type's of its name, the
// others follow. So the block must hold every member of its type first, in the type's order (a block
// removed or renamed since, or added again, or a type that came after the block, would change it).
bool TypeGivesItsMembers(const BlockDef& b, const BlockDef& t) {
    auto leads = [](const auto& held, const auto& from_type) {
        if (held.size() < from_type.size()) return false;
        for (size_t i = 0; i < from_type.size(); ++i)
            if (!iequals(held[i].name, from_type[i].name)) return false;
        return true;
    };
    return (b.aggregate || !t.aggregate) && leads(b.vars, t.vars) && leads(b.eqns, t.eqns) && leads(b.params, t.params) &&
           leads(b.ports, t.ports) && leads(b.blocks, t.blocks) && leads(b.conns, t.conns);
}

void write_block(std::ostringstream& out, const BlockDef& b, int indent, const char* keyword,
                 const std::vector<BlockDef>* types) {
    std::string pad(static_cast<size_t>(indent), ' ');
    out << pad << keyword << " " << word(b.name);
    // The type a block without one reads as goes unwritten; any other is written as it is spelt, even one
    // named like the other keyword's (so that a file's own type "BLOCK" or "block" is not lost), and quoted
    // when it is named like a word of the line.
    const bool plain_type = b.type.empty() || b.type == (b.aggregate ? "HIERARCHY" : "BLOCK");
    if (!plain_type) out << " " << (iequals(b.type, "excluded") || iequals(b.type, kOwnMembers) ? quote(b.type) : word(b.type));
    if (!b.included) out << " excluded";
    // A block that its type would give other members says that it holds only its own. Taking a type the
    // reader does not know for one it knows costs no more than the word.
    if (!plain_type && types) {
        auto t = std::find_if(types->begin(), types->end(), [&](const BlockDef& k) { return k.name == b.type; });
        if (t != types->end() && !TypeGivesItsMembers(b, *t)) out << " " << kOwnMembers;
    }
    out << "\n";
    write_members(out, b, indent + 2, types);
    out << pad << "end\n";
}

}  // namespace

bool LoadLibraryTypes(const std::string& name, std::vector<BlockDef>& types, std::string& error, int depth) {
    if (depth > 8) {
        error = "libraries nested too deeply";
        return false;
    }
    std::string text;
    if (iequals(name, "STANDARD"))
        text = StandardLibraryText();
    else if (std::string why; !ReadFile(name, text, &why)) {
        error = "cannot read library " + name + ": " + why;
        return false;
    }
    ModelDef lib;
    if (!ParseModelAt(text, lib, error, depth)) {
        error = "library " + name + ": " + error;
        return false;
    }
    for (BlockDef& t : lib.types)
        if (t.library.empty()) t.library = iequals(name, "STANDARD") ? "STANDARD" : name;
    MergeTypes(types, std::move(lib.types));
    return true;
}

namespace {

// What a parsed model refers to must exist: equations parse over known variables, connections join
// variables of their container, tags, objectives and the solver scope name what the model holds. Names are
// resolved as the engine resolves them when it compiles the model.
//
// A variable's full name is its blocks' names and its own joined by '.', after the prefix of the container
// the model joins; names hold no '.', so a full name is found by walking the blocks' name indexes (those
// the parser made), and a name relative to a block from that block, without making the full name. A model
// with a block named "" at its top (and no prefix) is the exception: that block's names join the
// flowsheet's own, so its full names are collected into a set instead.
class ModelCheck {
public:
    // With `parsed`, the equations are kept there compiled, unless the model joins a simulation or is flat:
    // then the build resolves its names against more than the model.
    ModelCheck(const ModelDef& def, NameTree& tree, const MergeTarget* into, std::vector<ParsedEquation>* parsed)
        : def_(def), into_(into), root_prefix_(into ? into->prefix : std::string()), root_{&def.flowsheet, &tree} {
        CollectScopes(def.flowsheet, root_prefix_);
        flat_ = root_prefix_.empty() && std::any_of(def.flowsheet.blocks.begin(), def.flowsheet.blocks.end(),
                                                    [](const BlockDef& b) { return b.name.empty(); });
        if (flat_) CollectNames(def.flowsheet, root_prefix_);
        if (parsed && !flat_ && !into_) {
            int vars = 0, eqns = 0;
            Place(def.flowsheet, tree, true, vars, eqns);
            parsed_ = parsed;
            parsed_->resize(static_cast<size_t>(eqns));
        }
    }

    bool Run(std::string& error) {
        for (const BlockDef& t : def_.types)
            if (!SyntaxOnly(t, error)) return false;
        if (!Members(def_.flowsheet, root_, root_prefix_, nullptr, "", true, error)) return false;
        for (const TagDef& t : def_.tags)
            if (!Known(t.variable))
                return Fail(error, t.line, "tag " + t.alias + " names unknown variable " + t.variable);
        for (const ObjectiveDef& o : def_.objectives) {
            std::string why;
            if (!CheckExpr(o.expr, [&](std::string_view n) { return Known(n) ? 0 : -1; }, why))
                return Fail(error, o.line, "objective " + o.name + ": " + why);
        }
        const std::string& chosen = def_.default_objective;
        if (!chosen.empty() && !iequals(chosen, "NONE") &&
            std::none_of(def_.objectives.begin(), def_.objectives.end(),
                         [&](const ObjectiveDef& o) { return iequals(o.name, chosen); }))
            return Fail(error, def_.default_objective_line, "unknown default objective " + chosen);
        // A merged model's scope is not applied.
        if (!into_ && !def_.scope.empty() && !iequals(def_.scope, "Plant") && !scopes_.count(def_.scope))
            return Fail(error, def_.scope_line, "unknown scope " + def_.scope + " (Plant or a hierarchy block)");
        return true;
    }

private:
    // A block of the model and its name indexes.
    struct Node {
        const BlockDef* def;
        const NameTree* names;
        Node Kid(size_t i) const { return {&def->blocks[i], &names->kids[i]}; }
    };

    static bool Fail(std::string& error, int line, const std::string& m) {
        error = line > 0 ? "line " + std::to_string(line) + ": " + m : m;
        return false;
    }
    // The positions the build gives the members of a block (or of a container, with its blocks' members
    // first and its own after them), counted on from vars and eqns.
    static void Place(const BlockDef& b, NameTree& t, bool container, int& vars, int& eqns) {
        t.var_begin = vars;
        if (container)
            for (size_t i = 0; i < b.blocks.size(); ++i) Place(b.blocks[i], t.kids[i], b.blocks[i].aggregate, vars, eqns);
        t.var_first = vars;
        t.eqn_first = eqns;
        vars += static_cast<int>(b.vars.size());
        eqns += static_cast<int>(b.eqns.size());
        t.var_end = vars;
    }
    static std::string Join(const std::string& prefix, std::string_view name) {
        return prefix.empty() ? std::string(name) : prefix + "." + std::string(name);
    }
    void CollectScopes(const BlockDef& b, const std::string& prefix) {
        for (const BlockDef& c : b.blocks)
            if (c.aggregate) {
                std::string full = Join(prefix, c.name);
                CollectScopes(c, full);
                scopes_.insert(std::move(full));
            }
    }
    void CollectNames(const BlockDef& b, const std::string& prefix) {
        for (const VarDef& v : b.vars) names_.insert(Join(prefix, v.name));
        for (const BlockDef& c : b.blocks) CollectNames(c, Join(prefix, c.name));
    }
    // The variable whose name relative to the block of `node` is `rel`: its position in the build (when
    // placed), -1 when the model has none.
    static int Find(Node node, std::string_view rel) {
        for (;;) {
            const BlockDef& b = *node.def;
            size_t dot = rel.find('.');
            if (dot == std::string_view::npos) {
                const int p = FindMember(node.names->vars, b.vars, rel);
                return p < 0 ? -1 : node.names->var_first + p;
            }
            int k = FindMember(node.names->blocks, b.blocks, rel.substr(0, dot));
            if (k < 0) return -1;
            node = node.Kid(static_cast<size_t>(k));
            rel.remove_prefix(dot + 1);
        }
    }
    static bool Under(Node node, std::string_view rel) { return Find(node, rel) >= 0; }
    bool Joining(const std::string& full) const { return into_ && into_->has_variable && into_->has_variable(full); }
    // A full name: of the model's variables, or of the simulation the model joins.
    bool Known(std::string_view name) const {
        bool ours;
        if (flat_)
            ours = names_.count(name) > 0;
        else if (root_prefix_.empty())
            ours = Under(root_, name);
        else
            ours = name.size() > root_prefix_.size() && name[root_prefix_.size()] == '.' &&
                   iequals(name.substr(0, root_prefix_.size()), root_prefix_) &&
                   Under(root_, name.substr(root_prefix_.size() + 1));
        return ours || (into_ && Joining(std::string(name)));
    }
    // The full name prefix + "." + name, where prefix is the full name of the block of `node` (not empty).
    bool KnownAt(const Node& node, const std::string& prefix, std::string_view name) const {
        if (!flat_ && Under(node, name)) return true;
        if (!flat_ && !into_) return false;
        std::string full = Join(prefix, name);
        return (flat_ && names_.count(full) > 0) || Joining(full);
    }
    bool Equation(const EqnDef& e, const Resolver& resolve, std::string& error, ParsedEquation* out = nullptr) {
        std::string why = "needs exactly one '='";
        if (ParseEquation(e.text, resolve, why, lists_, out)) return true;
        return Fail(error, e.line, "equation " + e.name + ": " + why);
    }
    // Block types not placed in the model: their equations need only parse.
    bool SyntaxOnly(const BlockDef& b, std::string& error) {
        for (const EqnDef& e : b.eqns)
            if (!Equation(e, [](std::string_view) { return 0; }, error)) return false;
        for (const BlockDef& c : b.blocks)
            if (!SyntaxOnly(c, error)) return false;
        return true;
    }
    // prefix: the block's full name; outer: the prefix of the container holding it (outer_node its node). A
    // container's own equations (flowsheet, hierarchy blocks) read names relative to it, a plain block's its
    // own first.
    bool Members(const BlockDef& b, const Node& node, const std::string& prefix, const Node* outer_node,
                 const std::string& outer, bool container, std::string& error) {
        auto known = [&](std::string_view n) {
            if (!prefix.empty() && KnownAt(node, prefix, n)) return 0;
            if (!container && !outer.empty() && KnownAt(*outer_node, outer, n)) return 0;
            return Known(n) ? 0 : -1;
        };
        // The same names found as the build finds them (Simulation::CompileEquation), in the order it looks:
        // a block's own variable, a full name of its container's, one relative to the container, any full
        // name. Full names are unique in a model that is not flat, so each lookup is one walk of the tree.
        const Node& within = container ? node : *outer_node;
        const std::string& within_prefix = container ? prefix : outer;
        auto place = [&](std::string_view n) {
            if (!container && !prefix.empty())
                if (int p = Find(node, n); p >= 0) return p;
            const int full = Find(root_, n);
            if (full >= within.names->var_begin && full < within.names->var_end) return full;
            if (!within_prefix.empty())
                if (int p = Find(within, n); p >= 0) return p;
            return full;
        };
        const Resolver resolve = parsed_ ? Resolver(place) : Resolver(known);
        for (size_t i = 0; i < b.eqns.size(); ++i) {
            ParsedEquation* out = parsed_ ? &(*parsed_)[static_cast<size_t>(node.names->eqn_first) + i] : nullptr;
            if (!Equation(b.eqns[i], resolve, error, out)) return false;
        }
        auto joins = [&](const std::string& end) {
            if (prefix.empty() ? Known(end) : KnownAt(node, prefix, end)) return true;
            return Known(end) && (prefix.empty() || (end.size() > prefix.size() && iequals(end.substr(0, prefix.size()), prefix) &&
                                                     end[prefix.size()] == '.'));
        };
        for (const ConnDef& c : b.conns)
            for (const std::string* end : {&c.from, &c.to})
                if (!joins(*end))
                    return Fail(error, c.line, "connection " + c.name + " names unknown variable " + *end);
        for (size_t i = 0; i < b.blocks.size(); ++i) {
            const BlockDef& c = b.blocks[i];
            if (!Members(c, node.Kid(i), Join(prefix, c.name), &node, prefix, c.aggregate, error)) return false;
        }
        return true;
    }

    const ModelDef& def_;
    const MergeTarget* into_;
    const std::string root_prefix_;
    const Node root_;
    bool flat_ = false;
    std::unordered_set<std::string, CaselessHash, CaselessEqual> names_;  // full names, for a flat model only
    std::unordered_set<std::string, CaselessHash, CaselessEqual> scopes_;
    ExprScratch lists_;  // reused by every equation's parse
    std::vector<ParsedEquation>* parsed_ = nullptr;  // the equations compiled, in the build's order
};

bool ParseModelAt(std::string_view text, ModelDef& out, std::string& error, int library_depth,
                  const MergeTarget* into, std::vector<ParsedEquation>* parsed, std::string* owned) {
    out = ModelDef{};
    if (parsed) parsed->clear();
    Parser p(&out);
    p.library_depth = library_depth;
    size_t newlines = 0;
    for (size_t from = 0; from < text.size(); ++newlines) {
        const void* nl = std::memchr(text.data() + from, '\n', text.size() - from);
        if (!nl) break;
        from = static_cast<size_t>(static_cast<const char*>(nl) - text.data()) + 1;
    }
    p.lines.reserve(newlines + 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        p.lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (text.find('\0') != std::string_view::npos) {
        error = "model text holds a NUL byte";
        return false;
    }
    NameTree names;
    if (!p.Body(out.flowsheet, 0, true, &names)) {
        error = p.error;
        return false;
    }
    // The check reads only the model: the text goes before the check makes the equations' code.
    std::vector<std::string_view>().swap(p.lines);
    if (owned) std::string().swap(*owned);
    if (ModelCheck(out, names, into, parsed).Run(error)) return true;
    if (parsed) parsed->clear();
    return false;
}
}  // namespace

bool ParseModel(std::string_view text, ModelDef& out, std::string& error, const MergeTarget* into,
                std::vector<ParsedEquation>* parsed) {
    return ParseModelAt(text, out, error, 0, into, parsed);
}

bool ParseModelFile(std::string&& text, ModelDef& out, std::string& error, const MergeTarget* into,
                    std::vector<ParsedEquation>* parsed) {
    std::string owned = std::move(text);
    return ParseModelAt(owned, out, error, 0, into, parsed, &owned);
}

std::string WriteModel(const ModelDef& def) {
    std::ostringstream out;
    out << "# model file\nmodel " << word(def.name) << "\n";
    if (def.mode >= 0) out << "mode " << def.mode << "\n";
    if (!def.scope.empty()) out << "scope " << word(def.scope) << "\n";
    for (const std::string& l : def.libraries) out << "library " << word(l) << "\n";
    for (const BlockDef& t : def.types) {
        if (!t.library.empty()) continue;  // types of loaded libraries come back with the library
        out << "type " << word(t.name) << (t.aggregate ? " hierarchy" : "") << "\n";
        write_members(out, t, 2, &def.types);
        out << "end\n";
    }
    for (const SolverDef& s : def.solvers) {
        out << "solver " << word(s.name) << "\n";
        for (auto& p : s.ints) out << "  int " << word(p.first) << " " << p.second << "\n";
        for (auto& p : s.reals) out << "  real " << word(p.first) << " " << num(p.second) << "\n";
        for (auto& p : s.texts) out << "  text " << word(p.first) << " " << quote(p.second) << "\n";
        out << "end\n";
    }
    for (const ParamDef& g : def.globals) {
        std::ostringstream tmp;
        BlockDef holder;
        holder.params.push_back(g);
        write_members(tmp, holder, 0);
        out << "global" << tmp.str().substr(5);
    }
    write_members(out, def.flowsheet, 0, &def.types);
    for (const ObjectiveDef& o : def.objectives)
        out << "objective " << word(o.name) << (o.maximize ? " maximize " : " minimize ") << o.expr << "\n";
    if (!def.default_objective.empty()) out << "default-objective " << word(def.default_objective) << "\n";
    for (const TagDef& t : def.tags) out << "tag " << word(t.alias) << " " << word(t.variable) << "\n";
    return out.str();
}

std::string WriteBlockFile(const BlockDef& block) {
    std::ostringstream out;
    out << "# block file\n";
    write_block(out, block, 0, block.aggregate ? "hierarchy" : "block", nullptr);
    return out.str();
}

bool ReadFile(const std::string& path, std::string& text, std::string* why) {
    // Files and pipes are read (a pipe to its end). A directory opens as a stream that reads nothing, and
    // a device may never end (/dev/zero), so neither is read.
    struct stat info;
    const char* problem = nullptr;
    if (::stat(path.c_str(), &info) != 0)
        problem = "no such file";
    else if (S_ISDIR(info.st_mode))
        problem = "is a directory";
    else if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)
#ifdef S_ISSOCK
             && !S_ISSOCK(info.st_mode)
#endif
    )
        problem = "not a file or pipe";
    std::ifstream in;
    if (!problem) {
        in.open(path, std::ios::binary);
        if (!in) problem = "cannot be opened";
    }
    if (!problem) {
        // Read in one piece into text of the file's size: a model file may be hundreds of megabytes. A
        // file that grew since stat is read to its end.
        std::string data(static_cast<size_t>(info.st_size), '\0');
        in.read(data.data(), static_cast<std::streamsize>(data.size()));
        data.resize(static_cast<size_t>(in.gcount()));
        if (in.good()) {
            char more[65536];
            while (in.read(more, sizeof more) || in.gcount() > 0) data.append(more, static_cast<size_t>(in.gcount()));
        }
        if (in.bad()) problem = "cannot be read";
        else text = std::move(data);
    }
    if (problem && why) *why = problem;
    return !problem;
}

bool WriteFile(const std::string& path, const std::string& text, std::string* why) {
    return nuv::WriteFileWhole(path, text, why) == nuv::FileWrite::kWritten;
}

const char* StandardLibraryText() {
    return R"(# Standard block types. Quantities are in base units inside equations.
type FEED
  var F 1 spec=CONST lower=0 ptype=MASS-FLOW uom=kg/s desc="Mass flow"
  var T 298.15 spec=CONST ptype=TEMPERATURE uom=K desc="Temperature"
  port OUT OUT vars="F,T"
end
type MIXER
  var F1 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T1 298.15 ptype=TEMPERATURE uom=K
  var F2 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T2 298.15 ptype=TEMPERATURE uom=K
  var F 0 lower=0 ptype=MASS-FLOW uom=kg/s desc="Outlet flow"
  var T 298.15 ptype=TEMPERATURE uom=K desc="Outlet temperature"
  eqn MASS : F = F1 + F2
  eqn ENERGY : T = (F1 * T1 + F2 * T2) / max(F, 1e-12)
  port IN1 IN vars="F1,T1"
  port IN2 IN vars="F2,T2"
  port OUT OUT vars="F,T"
end
type HEATER
  var FIN 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var TIN 298.15 ptype=TEMPERATURE uom=K
  var DUTY 0 spec=CONST ptype=POWER uom=W desc="Heat duty"
  var CP 4184 spec=CONST ptype=MASS-HEAT-CA desc="Heat capacity"
  var F 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T 298.15 ptype=TEMPERATURE uom=K
  eqn MASS : F = FIN
  eqn ENERGY : T = TIN + DUTY / (max(F, 1e-12) * CP)
  param PDROP real 0 uom=bar desc="Pressure drop"
  port IN IN vars="FIN,TIN"
  port OUT OUT vars="F,T"
end
type SPLITTER
  var FIN 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var TIN 298.15 ptype=TEMPERATURE uom=K
  var FRAC 0.5 spec=CONST lower=0 upper=1 ptype=DIMENSIONLES desc="Fraction to OUT1"
  var F1 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T1 298.15 ptype=TEMPERATURE uom=K
  var F2 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T2 298.15 ptype=TEMPERATURE uom=K
  eqn SPLIT : F1 = FRAC * FIN
  eqn REST : F2 = FIN - F1
  eqn TEMP1 : T1 = TIN
  eqn TEMP2 : T2 = TIN
  port IN IN vars="FIN,TIN"
  port OUT1 OUT vars="F1,T1"
  port OUT2 OUT vars="F2,T2"
end
type PRODUCT
  var F 0 lower=0 ptype=MASS-FLOW uom=kg/s
  var T 298.15 ptype=TEMPERATURE uom=K
  port IN IN vars="F,T"
end
)";
}

}  // namespace zeq
