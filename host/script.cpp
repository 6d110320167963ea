#include "script.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <sstream>
#include <string_view>

#include "nuv_text.h"

namespace host {

namespace {

constexpr int kMaxNesting = 32;
constexpr int kMaxExpressionDepth = 64;

struct ScriptError {
    HRESULT hr;
    std::string message;
};

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Whether `s` is `word` (upper case) in any case, without copying `s`.
bool IsWord(std::string_view s, std::string_view word) {
    return s.size() == word.size() && std::equal(s.begin(), s.end(), word.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

std::string Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

enum class Tok { End, Ident, Number, String, Punct };
// A token points into the statement's text. A string's text is its body between the quotes, with a
// doubled quote still doubled when `escaped`.
struct Token {
    Tok kind = Tok::End;
    std::string_view text;
    double number = 0;
    bool escaped = false;
};

// The token's text as the script means it: a string's doubled quotes made single.
std::string TextOf(const Token& t) {
    if (!t.escaped) return std::string(t.text);
    std::string s;
    s.reserve(t.text.size());
    for (size_t i = 0; i < t.text.size(); ++i) {
        s += t.text[i];
        if (t.text[i] == '"') ++i;
    }
    return s;
}

// Reads a statement's tokens one at a time, so that a long statement costs no token list.
class Lexer {
public:
    explicit Lexer(std::string_view line) : line_(line) {}

    Token Next() {
        const std::string_view line = line_;
        size_t i = i_;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        Token t;
        if (i >= line.size() || line[i] == '\'' || line[i] == '#') {  // a comment runs to the end of the line
            i_ = line.size();
            return t;
        }
        const char c = line[i];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < line.size() && (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_')) ++j;
            t = {Tok::Ident, line.substr(i, j - i)};
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1])))) {
            // The characters a number can hold, copied so that the conversion stops at the statement's end.
            size_t j = i;
            while (j < line.size() && (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '.' ||
                                       line[j] == '+' || line[j] == '-'))
                ++j;
            const std::string digits(line.substr(i, j - i));
            char* end = nullptr;
            double d = 0;
            if (c == '0' && digits.size() > 1 && (digits[1] == 'x' || digits[1] == 'X'))
                d = static_cast<double>(std::strtoul(digits.c_str(), &end, 16));
            else
                d = std::strtod(digits.c_str(), &end);
            const size_t n = static_cast<size_t>(end - digits.c_str());
            t = {Tok::Number, line.substr(i, n), d};
            i += n ? n : 1;
        } else if (c == '"') {
            size_t j = i + 1;
            bool closed = false, escaped = false;
            while (j < line.size()) {
                if (line[j] == '"') {
                    if (j + 1 < line.size() && line[j + 1] == '"') {
                        escaped = true;
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed) throw ScriptError{E_INVALIDARG, "Unterminated string"};
            t = {Tok::String, line.substr(i + 1, j - i - 1), 0, escaped};
            i = j + 1;
        } else if (std::string_view("().,=&+-").find(c) != std::string_view::npos) {
            t = {Tok::Punct, line.substr(i, 1)};
            ++i;
        } else {
            throw ScriptError{E_INVALIDARG, std::string("Unexpected character '") + c + "'"};
        }
        i_ = i;
        return t;
    }

    // Reads every token, so that bad text fails before any of the statement runs.
    void Validate() {
        const size_t at = i_;
        while (Next().kind != Tok::End) {
        }
        i_ = at;
    }

private:
    std::string_view line_;
    size_t i_ = 0;
};

void Check(const CallResult& r) {
    if (!r.ok()) throw ScriptError{r.hr, r.error};
}

// One step of a member chain: `.Name(args)` or a default-member call `(args)`.
struct Step {
    bool member = true;
    std::string name;
    std::vector<CComVariant> args;
};

class Parser {
public:
    // The text must outlive the parser. A bad token anywhere in it fails here, before anything runs.
    Parser(std::string_view text, std::map<std::string, CComVariant>& variables) : lex_(text), vars_(variables) {
        lex_.Validate();
        cur_ = lex_.Next();
    }

    const Token& Peek() const { return cur_; }
    void Advance() { cur_ = lex_.Next(); }
    bool AtEnd() const { return Peek().kind == Tok::End; }
    bool IsPunct(const char* p) const { return Peek().kind == Tok::Punct && Peek().text == p; }
    void Expect(const char* p) {
        if (!IsPunct(p)) throw ScriptError{E_INVALIDARG, std::string("Expected '") + p + "'"};
        Advance();
    }
    std::string Ident() {
        if (Peek().kind != Tok::Ident) throw ScriptError{E_INVALIDARG, "Expected a name"};
        std::string name(Peek().text);
        Advance();
        return name;
    }
    void RequireEnd() {
        if (!AtEnd()) throw ScriptError{E_INVALIDARG, "Unexpected '" + TextOf(Peek()) + "'"};
    }

    // expr := term { ('&' | '+') term }
    CComVariant Expression(int depth = 0) {
        if (depth > kMaxExpressionDepth) throw ScriptError{E_INVALIDARG, "Expression nested too deeply"};
        CComVariant left = Term(depth);
        // A run of '&' joins into one text, made a string value once at its end: joining step by step
        // would copy the text so far at every step.
        std::string joined;
        bool joining = false;
        auto finish_join = [&] {
            if (!joining) return;
            left = CComVariant(nuv::to_utf16(joined).c_str());
            joining = false;
        };
        while (IsPunct("&") || IsPunct("+")) {
            const bool join = IsPunct("&");
            Advance();
            CComVariant right = Term(depth);
            if (join) {
                if (!joining) joined = Format(left);
                joining = true;
                joined += Format(right);
                continue;
            }
            finish_join();
            CComVariant a, b;
            if (FAILED(VariantChangeType(&a, &left, 0, VT_R8)) || FAILED(VariantChangeType(&b, &right, 0, VT_R8)))
                throw ScriptError{DISP_E_TYPEMISMATCH, "Type mismatch"};
            left = CComVariant(a.dblVal + b.dblVal);
        }
        finish_join();
        return left;
    }

    // A primary with its member chain, the chain's last `keep` steps not applied.
    CComVariant Chain(int depth, std::vector<Step>& steps) {
        CComVariant base = Primary(depth);
        while (IsPunct(".") || IsPunct("(")) {
            Step s;
            if (IsPunct(".")) {
                Advance();
                s.name = Ident();
                if (IsPunct("(")) s.args = Arguments(depth);
            } else {
                s.member = false;
                s.args = Arguments(depth);
            }
            steps.push_back(std::move(s));
        }
        return base;
    }

    static CComVariant Apply(CComVariant value, Step& step) {
        CComPtr<IDispatch> object = DispatchOf(value);
        if (!object) throw ScriptError{E_POINTER, "Object required" + (step.member ? ": '" + step.name + "'" : "")};
        CComVariant result;
        if (!step.member) {
            Check(CallDefault(object, step.args, &result));
            return result;
        }
        CallResult r = Call(object, step.name, CallKind::GetOrCall, step.args, &result);
        if (r.hr == DISP_E_BADPARAMCOUNT && !step.args.empty()) {
            // `a.Items(2)` where Items takes no arguments: the arguments go to the result's default member.
            std::vector<CComVariant> none;
            CComVariant property;
            if (Call(object, step.name, CallKind::GetOrCall, none, &property).ok()) {
                CComPtr<IDispatch> inner = DispatchOf(property);
                if (inner) {
                    result.Clear();
                    r = CallDefault(inner, step.args, &result);
                }
            }
        }
        Check(r);
        return result;
    }

private:
    CComVariant Term(int depth) {
        if (depth > kMaxExpressionDepth) throw ScriptError{E_INVALIDARG, "Expression nested too deeply"};
        if (IsPunct("-")) {
            Advance();
            CComVariant v = Term(depth + 1);
            CComVariant d;
            if (FAILED(VariantChangeType(&d, &v, 0, VT_R8))) throw ScriptError{DISP_E_TYPEMISMATCH, "Type mismatch"};
            d.dblVal = -d.dblVal;
            return d;
        }
        std::vector<Step> steps;
        CComVariant v = Chain(depth, steps);
        for (Step& s : steps) v = Apply(v, s);
        return v;
    }

    std::vector<CComVariant> Arguments(int depth) {
        Expect("(");
        std::vector<CComVariant> args;
        if (IsPunct(")")) {
            Advance();
            return args;
        }
        for (;;) {
            args.push_back(Expression(depth + 1));
            if (IsPunct(",")) {
                Advance();
                continue;
            }
            Expect(")");
            return args;
        }
    }

    CComVariant Primary(int depth) {
        const Token tok = Peek();
        if (tok.kind == Tok::Number) {
            Advance();
            // Whole numbers that fit are integers (VT_I4), as a script client passes them. The range is
            // checked before the conversion: converting a double outside LONG's range is undefined.
            if (tok.number >= static_cast<double>(std::numeric_limits<LONG>::min()) &&
                tok.number <= static_cast<double>(std::numeric_limits<LONG>::max()) &&
                tok.number == std::trunc(tok.number) && tok.text.find_first_of(".eE") == std::string::npos)
                return CComVariant(static_cast<LONG>(tok.number));
            return CComVariant(tok.number);
        }
        if (tok.kind == Tok::String) {
            Advance();
            return CComVariant(nuv::to_utf16(tok.escaped ? TextOf(tok) : tok.text).c_str());
        }
        if (IsPunct("(")) {
            Advance();
            CComVariant v = Expression(depth + 1);
            Expect(")");
            return v;
        }
        const std::string name = Upper(Ident());
        if (name == "TRUE" || name == "FALSE") {
            CComVariant b;
            b.vt = VT_BOOL;
            b.boolVal = name == "TRUE" ? VARIANT_TRUE : VARIANT_FALSE;
            return b;
        }
        if (name == "EMPTY") return CComVariant();
        if (name == "NOTHING") {
            CComVariant n;
            n.vt = VT_DISPATCH;
            n.pdispVal = nullptr;
            return n;
        }
        if (name == "ARRAY" && IsPunct("(")) {
            CComVariant a;
            Check(CallResult{MakeArray(Arguments(depth), &a), "Out of memory"});
            return a;
        }
        if (name == "TABLE" && IsPunct("(")) {
            // Each argument, an array, becomes one row of the first dimension.
            std::vector<std::vector<CComVariant>> rows;
            for (CComVariant& row : Arguments(depth)) rows.push_back(Elements(row));
            CComVariant t;
            Check(CallResult{MakeTable(rows, &t), "Out of memory"});
            return t;
        }
        if (name == "COUNTOF" && IsPunct("(")) {
            std::vector<CComVariant> args = Arguments(depth);
            if (args.size() != 1) throw ScriptError{DISP_E_BADPARAMCOUNT, "Wrong number of arguments"};
            return CComVariant(static_cast<LONG>(Elements(args[0]).size()));
        }
        if (name == "CELL" && IsPunct("(")) {
            std::vector<CComVariant> args = Arguments(depth);
            return Cell(args);
        }
        auto it = vars_.find(name);
        if (it == vars_.end()) throw ScriptError{E_INVALIDARG, "Variable is undefined: '" + TextOf(tok) + "'"};
        return it->second;
    }

    static std::vector<CComVariant> Elements(const VARIANT& v) {
        std::vector<CComVariant> out;
        SAFEARRAY* a = (v.vt & VT_ARRAY) ? v.parray : nullptr;
        if (!a || SafeArrayGetDim(a) != 1) throw ScriptError{DISP_E_TYPEMISMATCH, "Array expected"};
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(a, 1, &lo);
        SafeArrayGetUBound(a, 1, &hi);
        VARTYPE vt = VT_EMPTY;
        SafeArrayGetVartype(a, &vt);
        for (LONG i = lo; i <= hi; ++i) {
            CComVariant e;
            if (vt == VT_VARIANT) {
                SafeArrayGetElement(a, &i, &e);
            } else if (vt == VT_BSTR) {
                BSTR s = nullptr;
                SafeArrayGetElement(a, &i, &s);
                e = s;
                SysFreeString(s);
            }
            out.push_back(e);
        }
        return out;
    }

    // Cell(array, i [, j]): an element of a one- or two-dimensional array by its own indexes.
    static CComVariant Cell(std::vector<CComVariant>& args) {
        if (args.size() < 2 || args.size() > 3) throw ScriptError{DISP_E_BADPARAMCOUNT, "Wrong number of arguments"};
        SAFEARRAY* a = (args[0].vt & VT_ARRAY) ? args[0].parray : nullptr;
        if (!a || SafeArrayGetDim(a) != args.size() - 1) throw ScriptError{DISP_E_TYPEMISMATCH, "Array expected"};
        LONG index[2] = {0, 0};
        for (size_t k = 1; k < args.size(); ++k) {
            CComVariant i;
            if (FAILED(VariantChangeType(&i, &args[k], 0, VT_I4)))
                throw ScriptError{DISP_E_TYPEMISMATCH, "Type mismatch"};
            index[k - 1] = i.lVal;
        }
        VARTYPE vt = VT_EMPTY;
        SafeArrayGetVartype(a, &vt);
        CComVariant e;
        HRESULT hr;
        if (vt == VT_VARIANT) {
            hr = SafeArrayGetElement(a, index, &e);
        } else {
            BSTR s = nullptr;
            hr = SafeArrayGetElement(a, index, &s);
            if (SUCCEEDED(hr)) e = s;
            SysFreeString(s);
        }
        if (FAILED(hr)) throw ScriptError{DISP_E_BADINDEX, "Subscript out of range"};
        return e;
    }

    Lexer lex_;
    Token cur_;
    std::map<std::string, CComVariant>& vars_;
};

// The position of the first '=' outside strings and parentheses, or npos.
size_t AssignmentAt(const std::string& s) {
    int depth = 0;
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\'' || c == '#') return std::string::npos;
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == '=' && depth == 0) return i;
    }
    return std::string::npos;
}

// An error code as ExpectError takes it: hexadecimal, "0x" optional, at most eight digits, all of it read.
bool ParseErrorCode(const std::string& text, HRESULT& code) {
    std::string_view digits(text);
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 8) return false;
    unsigned long value = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(c))
                                                             ? c - '0'
                                                             : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    code = static_cast<HRESULT>(static_cast<uint32_t>(value));
    return true;
}

bool StartsWithWord(const std::string& s, const char* word, std::string* rest) {
    const size_t n = std::char_traits<char>::length(word);
    if (s.size() < n || !IsWord(std::string_view(s).substr(0, n), word)) return false;
    if (s.size() > n && !std::isspace(static_cast<unsigned char>(s[n]))) return false;
    if (rest) *rest = Trim(std::string_view(s).substr(n));
    return true;
}

}  // namespace

void ScriptRunner::Define(const std::string& name, const VARIANT& value) { variables_[Upper(name)] = value; }

void ScriptRunner::Fail(int line, const std::string& message) {
    ++failures_;
    out_ << name_ << ":" << line << ": " << message << "\n";
}

void ScriptRunner::Statement(const std::string& text, int depth) {
    std::string rest;
    if (StartsWithWord(text, "PRINT", &rest) || IsWord(text, "PRINT")) {
        Parser p(rest, variables_);
        std::string line;
        bool first = true;
        while (!p.AtEnd()) {
            CComVariant v = p.Expression();
            line += (first ? "" : " ") + Format(v);
            first = false;
            if (p.IsPunct(",")) p.Expect(",");
        }
        out_ << line << "\n";
        return;
    }
    if (StartsWithWord(text, "EXPECT", &rest)) {
        Parser p(rest, variables_);
        CComVariant got = p.Expression();
        p.Expect(",");
        CComVariant want = p.Expression();
        p.RequireEnd();
        if (Format(got) != Format(want))
            throw ScriptError{S_FALSE, "Expect failed: got " + Format(got) + ", expected " + Format(want)};
        return;
    }
    if (StartsWithWord(text, "SET", &rest)) return Statement(rest, depth);
    const size_t eq = AssignmentAt(text);
    if (eq != std::string::npos) {
        const std::string target = Trim(text.substr(0, eq));
        Parser right(std::string_view(text).substr(eq + 1), variables_);
        CComVariant value = right.Expression();
        right.RequireEnd();
        Parser left(target, variables_);
        std::vector<Step> steps;
        // A plain name is a script variable; a member chain ends in a property put.
        Lexer whole(target);
        if (whole.Next().kind == Tok::Ident && whole.Next().kind == Tok::End) {
            variables_[Upper(target)] = value;
            return;
        }
        CComVariant object = left.Chain(0, steps);
        left.RequireEnd();
        if (steps.empty() || !steps.back().member) throw ScriptError{E_INVALIDARG, "Cannot assign to this"};
        for (size_t i = 0; i + 1 < steps.size(); ++i) object = Parser::Apply(object, steps[i]);
        CComPtr<IDispatch> d = DispatchOf(object);
        if (!d) throw ScriptError{E_POINTER, "Object required: '" + steps.back().name + "'"};
        std::vector<CComVariant> args = steps.back().args;
        args.push_back(value);
        CComVariant none;
        Check(Call(d, steps.back().name, CallKind::Put, args, &none));
        return;
    }
    Parser p(text, variables_);
    CComVariant ignored = p.Expression();
    p.RequireEnd();
}

void ScriptRunner::RunBlock(const std::vector<Line>& lines, size_t begin, size_t end, int depth) {
    if (depth > kMaxNesting) {
        Fail(lines[begin].number, "For Each nested too deeply");
        return;
    }
    for (size_t i = begin; i < end; ++i) {
        const Line& line = lines[i];
        if (limit_ > 0 && ++executed_ > limit_) {
            if (executed_ == limit_ + 1) Fail(line.number, "Statement limit reached");
            return;
        }
        std::string rest;
        if (StartsWithWord(line.text, "FOR", &rest)) {
            // For Each <name> In <expr> ... Next
            size_t close = i + 1;
            for (int nesting = 1; close < end; ++close) {
                if (StartsWithWord(lines[close].text, "FOR", nullptr)) ++nesting;
                if (IsWord(lines[close].text, "NEXT") || StartsWithWord(lines[close].text, "NEXT", nullptr))
                    if (--nesting == 0) break;
            }
            if (close >= end) {
                Fail(line.number, "For Each without Next");
                return;
            }
            try {
                std::string head;
                if (!StartsWithWord(rest, "EACH", &head)) throw ScriptError{E_INVALIDARG, "Expected 'Each'"};
                Parser p(head, variables_);
                const std::string var = Upper(p.Ident());
                if (Upper(p.Ident()) != "IN") throw ScriptError{E_INVALIDARG, "Expected 'In'"};
                CComVariant collection = p.Expression();
                p.RequireEnd();
                std::vector<CComVariant> items;
                Check(Enumerate(DispatchOf(collection), items));
                for (CComVariant& item : items) {
                    variables_[var] = item;
                    RunBlock(lines, i + 1, close, depth + 1);
                }
            } catch (const ScriptError& e) {
                Fail(line.number, "Error " + Hex(e.hr) + ": " + e.message);
            }
            i = close;
            continue;
        }
        if (StartsWithWord(line.text, "EXPECTERROR", &rest)) {
            // ExpectError <code> <statement>: the statement must fail with that code.
            std::istringstream in(rest);
            std::string code;
            in >> code;
            std::string statement;
            std::getline(in, statement);
            HRESULT want = S_OK;
            if (!ParseErrorCode(code, want)) {
                Fail(line.number, "ExpectError needs an error code in hexadecimal (0x80040201), not '" + code + "'");
                continue;
            }
            if (Trim(statement).empty()) {
                Fail(line.number, "ExpectError needs a statement after its code");
                continue;
            }
            try {
                Statement(Trim(statement), depth);
                Fail(line.number, "Expected error " + Hex(want) + ", but the statement succeeded");
            } catch (const ScriptError& e) {
                if (e.hr != want)
                    Fail(line.number, "Expected error " + Hex(want) + ", got " + Hex(e.hr) + ": " + e.message);
                else
                    out_ << "Error " << Hex(e.hr) << ": " << e.message << "\n";
            }
            continue;
        }
        try {
            Statement(line.text, depth);
        } catch (const ScriptError& e) {
            Fail(line.number, e.hr == S_FALSE ? e.message : "Error " + Hex(e.hr) + ": " + e.message);
        }
    }
}

int ScriptRunner::Run(const std::string& text, const std::string& name) {
    name_ = name;
    failures_ = 0;
    executed_ = 0;
    std::vector<Line> lines;
    const std::string_view all(text);
    size_t at = 0;
    for (int number = 1; at < all.size(); ++number) {
        size_t eol = all.find('\n', at);
        if (eol == std::string_view::npos) eol = all.size();
        std::string t = Trim(all.substr(at, eol - at));
        at = eol + 1;
        if (t.empty() || t[0] == '\'' || t[0] == '#') continue;
        lines.push_back({number, std::move(t)});
    }
    // Loops nest only so deep; the check runs before anything does, as the body of a deep nest would run
    // as many times as the product of its collections' sizes.
    int nesting = 0;
    for (const Line& line : lines) {
        if (StartsWithWord(line.text, "FOR", nullptr)) ++nesting;
        if (StartsWithWord(line.text, "NEXT", nullptr) || IsWord(line.text, "NEXT")) --nesting;
        if (nesting > kMaxNesting) {
            Fail(line.number, "For Each nested too deeply");
            return failures_;
        }
    }
    RunBlock(lines, 0, lines.size(), 0);
    return failures_;
}

}  // namespace host
