#include "script.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <sstream>

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

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

enum class Tok { End, Ident, Number, String, Punct };
struct Token {
    Tok kind = Tok::End;
    std::string text;
    double number = 0;
};

std::vector<Token> Tokenize(const std::string& line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '\'' || c == '#') {
            break;  // a comment runs to the end of the line
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < line.size() && (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_')) ++j;
            tokens.push_back({Tok::Ident, line.substr(i, j - i), 0});
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1])))) {
            const char* start = line.c_str() + i;
            char* end = nullptr;
            double d = 0;
            if (c == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X'))
                d = static_cast<double>(std::strtoul(start, &end, 16));
            else
                d = std::strtod(start, &end);
            const size_t n = static_cast<size_t>(end - start);
            tokens.push_back({Tok::Number, line.substr(i, n), d});
            i += n ? n : 1;
        } else if (c == '"') {
            std::string s;
            size_t j = i + 1;
            bool closed = false;
            while (j < line.size()) {
                if (line[j] == '"') {
                    if (j + 1 < line.size() && line[j + 1] == '"') {
                        s += '"';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                s += line[j++];
            }
            if (!closed) throw ScriptError{E_INVALIDARG, "Unterminated string"};
            tokens.push_back({Tok::String, s, 0});
            i = j;
        } else if (std::string("().,=&+-").find(c) != std::string::npos) {
            tokens.push_back({Tok::Punct, std::string(1, c), 0});
            ++i;
        } else {
            throw ScriptError{E_INVALIDARG, std::string("Unexpected character '") + c + "'"};
        }
    }
    tokens.push_back({Tok::End, "", 0});
    return tokens;
}

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
    Parser(std::vector<Token> tokens, std::map<std::string, CComVariant>& variables)
        : t_(std::move(tokens)), vars_(variables) {}

    const Token& Peek() const { return t_[pos_]; }
    bool AtEnd() const { return Peek().kind == Tok::End; }
    bool IsPunct(const char* p) const { return Peek().kind == Tok::Punct && Peek().text == p; }
    void Expect(const char* p) {
        if (!IsPunct(p)) throw ScriptError{E_INVALIDARG, std::string("Expected '") + p + "'"};
        ++pos_;
    }
    std::string Ident() {
        if (Peek().kind != Tok::Ident) throw ScriptError{E_INVALIDARG, "Expected a name"};
        return t_[pos_++].text;
    }
    void RequireEnd() {
        if (!AtEnd()) throw ScriptError{E_INVALIDARG, "Unexpected '" + Peek().text + "'"};
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
            ++pos_;
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
                ++pos_;
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
            ++pos_;
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
            ++pos_;
            return args;
        }
        for (;;) {
            args.push_back(Expression(depth + 1));
            if (IsPunct(",")) {
                ++pos_;
                continue;
            }
            Expect(")");
            return args;
        }
    }

    CComVariant Primary(int depth) {
        const Token tok = Peek();
        if (tok.kind == Tok::Number) {
            ++pos_;
            // Whole numbers that fit are integers (VT_I4), as a script client passes them. The range is
            // checked before the conversion: converting a double outside LONG's range is undefined.
            if (tok.number >= static_cast<double>(std::numeric_limits<LONG>::min()) &&
                tok.number <= static_cast<double>(std::numeric_limits<LONG>::max()) &&
                tok.number == std::trunc(tok.number) && tok.text.find_first_of(".eE") == std::string::npos)
                return CComVariant(static_cast<LONG>(tok.number));
            return CComVariant(tok.number);
        }
        if (tok.kind == Tok::String) {
            ++pos_;
            return CComVariant(nuv::to_utf16(tok.text).c_str());
        }
        if (IsPunct("(")) {
            ++pos_;
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
        if (it == vars_.end()) throw ScriptError{E_INVALIDARG, "Variable is undefined: '" + tok.text + "'"};
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

    std::vector<Token> t_;
    size_t pos_ = 0;
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

bool StartsWithWord(const std::string& s, const char* word, std::string* rest) {
    const size_t n = std::char_traits<char>::length(word);
    if (s.size() < n || Upper(s.substr(0, n)) != word) return false;
    if (s.size() > n && !std::isspace(static_cast<unsigned char>(s[n]))) return false;
    if (rest) *rest = Trim(s.substr(n));
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
    if (StartsWithWord(text, "PRINT", &rest) || Upper(text) == "PRINT") {
        Parser p(Tokenize(rest), variables_);
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
        Parser p(Tokenize(rest), variables_);
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
        Parser right(Tokenize(text.substr(eq + 1)), variables_);
        CComVariant value = right.Expression();
        right.RequireEnd();
        Parser left(Tokenize(target), variables_);
        std::vector<Step> steps;
        // A plain name is a script variable; a member chain ends in a property put.
        if (left.Peek().kind == Tok::Ident && Tokenize(target).size() == 2) {
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
    Parser p(Tokenize(text), variables_);
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
                if (Upper(lines[close].text) == "NEXT" || StartsWithWord(lines[close].text, "NEXT", nullptr))
                    if (--nesting == 0) break;
            }
            if (close >= end) {
                Fail(line.number, "For Each without Next");
                return;
            }
            try {
                std::string head;
                if (!StartsWithWord(rest, "EACH", &head)) throw ScriptError{E_INVALIDARG, "Expected 'Each'"};
                Parser p(Tokenize(head), variables_);
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
            const HRESULT want = static_cast<HRESULT>(std::strtoul(code.c_str(), nullptr, 16));
            std::string statement;
            std::getline(in, statement);
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
    std::istringstream in(text);
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        std::string t = Trim(raw);
        if (t.empty() || t[0] == '\'' || t[0] == '#') continue;
        lines.push_back({number, t});
    }
    // Loops nest only so deep; the check runs before anything does, as the body of a deep nest would run
    // as many times as the product of its collections' sizes.
    int nesting = 0;
    for (const Line& line : lines) {
        if (StartsWithWord(line.text, "FOR", nullptr)) ++nesting;
        if (StartsWithWord(line.text, "NEXT", nullptr) || Upper(line.text) == "NEXT") --nesting;
        if (nesting > kMaxNesting) {
            Fail(line.number, "For Each nested too deeply");
            return failures_;
        }
    }
    RunBlock(lines, 0, lines.size(), 0);
    return failures_;
}

}  // namespace host
