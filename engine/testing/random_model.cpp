#include "random_model.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <vector>

#include "zeq_value.h"

namespace zeq::testing {

namespace {

// A variable relative to a block (or the flowsheet): the names of the blocks on the way and its own.
// `ident` when every one of them may stand in an expression.
struct Ref {
    std::vector<std::string> path;
    bool ident = true;
};

// A block type the model may place: its kind and the variables a block of it starts with.
struct TypeInfo {
    std::string name;
    bool hierarchy = false;
    std::vector<Ref> refs;
    std::vector<std::string> blocks;  // of a hierarchy type: its blocks, which a body may replace
};

// The variables of the STANDARD library's types.
const std::vector<std::pair<const char*, std::vector<const char*>>> kStandard = {
    {"FEED", {"F", "T"}},
    {"MIXER", {"F1", "T1", "F2", "T2", "F", "T"}},
    {"HEATER", {"FIN", "TIN", "DUTY", "CP", "F", "T"}},
    {"SPLITTER", {"FIN", "TIN", "FRAC", "F1", "T1", "F2", "T2"}},
    {"PRODUCT", {"F", "T"}},
};

// Physical types and units of theirs.
const std::vector<std::pair<const char*, std::vector<const char*>>> kUnits = {
    {"MASS-FLOW", {"kg/s", "kg/h", "t/h"}},
    {"TEMPERATURE", {"K", "C", "F", "R"}},
    {"PRESSURE", {"Pa", "kPa", "bar", "psi"}},
    {"POWER", {"W", "kW", "MW"}},
};

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    RandomModelFiles Files(const std::string& library_path) {
        RandomModelFiles files;
        files.library = LibraryText();
        files.model = ModelText(library_path);
        return files;
    }

private:
    // ---- choices ----
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <class T>
    const T& OneOf(const std::vector<T>& v) { return v[static_cast<size_t>(Pick(static_cast<int>(v.size())))]; }

    // A keyword in any case.
    std::string Key(const char* word) {
        std::string out = word;
        const int style = Pick(4);
        for (char& c : out)
            if (style == 1 || (style == 3 && Chance(50))) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            else if (style == 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return out;
    }
    std::string Blank() {
        static const char* const blanks[] = {" ", " ", " ", "  ", "\t", " \t "};
        return blanks[Pick(6)];
    }
    // A line end, sometimes with a comment before it or a carriage return.
    std::string End() {
        std::string out;
        if (Chance(8)) out += Blank() + "# note \"" + std::to_string(Pick(100));
        out += Chance(10) ? "\r\n" : "\n";
        if (Chance(5)) out += Chance(50) ? "\n" : "  # a comment line\n";
        return out;
    }
    std::string Indent(int depth) { return std::string(static_cast<size_t>(depth) * 2, ' '); }

    // ---- names ----
    // A name that may stand in an expression; every name is new, in any case.
    std::string Ident(const char* stem) {
        std::string out = stem;
        if (Chance(30)) out[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[0])));
        return out + std::to_string(++count_) + (Chance(20) ? "_x" : "");
    }
    // Text with the characters that need quoting or escapes; no '.' (which joins full names) unless `dot`, no ','
    // (which separates a port's variables) unless `comma`.
    std::string Odd(bool dot, bool comma) {
        static const char* const parts[] = {" ", "\"", "\\", "\t", "\r", "\n", "#", ":", "=", "'", "a", "Z", "-", "é"};
        std::string out;
        const int n = 1 + Pick(4);
        for (int i = 0; i < n; ++i) out += parts[Pick(14)];
        if (dot && Chance(30)) out += ".";
        if (comma && Chance(30)) out += ",";
        return out + std::to_string(++count_);
    }
    // A name: mostly one for expressions, sometimes an odd one, an empty one when `empty_ok`.
    std::string Name(const char* stem, bool odd_ok = true, bool empty_ok = false, bool dot = false, bool comma = true) {
        if (empty_ok && Chance(8)) return "";
        if (odd_ok && Chance(30)) return Odd(dot, comma);
        return Ident(stem);
    }
    static bool IsIdent(const std::string& s) {
        if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
        for (char c : s)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
        return true;
    }
    // Quoted text as a person may write it: quotes and backslashes escaped, a carriage return as \r or as it is,
    // a line feed as \n, now and then a plain character escaped.
    std::string Quote(const std::string& s) {
        std::string out = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\') out += '\\', out += c;
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += Chance(50) ? "\\r" : "\r";
            else if (std::isalpha(static_cast<unsigned char>(c)) && c != 'n' && c != 'r' && Chance(5)) out += '\\', out += c;
            else out += c;
        }
        return out + "\"";
    }
    // A word: bare when it can be, and then now and then quoted all the same.
    std::string Word(const std::string& s) {
        bool bare = !s.empty();
        for (char c : s)
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '#' || c == '\\') bare = false;
        return bare && Chance(80) ? s : Quote(s);
    }
    std::string Join(const std::vector<std::string>& path) {
        std::string out;
        for (const std::string& p : path) out += (out.empty() ? "" : ".") + p;
        return out;
    }

    // ---- numbers ----
    std::string Number(bool infinite_ok = false) {
        switch (Pick(infinite_ok ? 13 : 11)) {
            case 0: return std::to_string(Pick(1000) - 500);
            case 1: return (Chance(50) ? "-" : "") + std::to_string(Pick(1000)) + "." + std::to_string(Pick(1000));
            case 2: return std::to_string(Pick(9) + 1) + "." + std::to_string(Pick(100)) + "e" + std::to_string(Pick(40) - 20);
            case 3: return Chance(50) ? "-0" : "0";
            case 4: return "+" + std::to_string(Pick(100)) + ".5";
            case 5: return Chance(50) ? "5e-324" : "-2.2250738585072014e-308";
            case 6: return "0.1";
            case 7: return "1e+20";
            case 8: return "-1e20";
            case 9: return "6.02214076e23";
            case 10: return "123456789.123456789";
            case 11: return Chance(50) ? "inf" : "-INF";
            default: return "Inf";
        }
    }
    std::string Integer() {
        switch (Pick(4)) {
            case 0: return std::to_string(Pick(200) - 100);
            case 1: return "9223372036854775807";
            case 2: return "-9223372036854775808";
            default: return "+" + std::to_string(Pick(10));
        }
    }

    // ---- members ----
    // A variable line; ptype and units agree. `name` is the variable's.
    std::string Var(int depth, const std::string& name) {
        std::string out = Indent(depth) + Key("var") + Blank() + Word(name) + Blank() + Number(Chance(5));
        std::vector<std::string> keys;
        static const char* const specs[] = {"CALC", "CONST", "INDEP", "MEAS", "PARAM", "OPTIM", "RECON", "INITIAL", "FIXED", "free"};
        if (Chance(40)) keys.push_back(Key("spec") + "=" + specs[Pick(10)]);
        if (Chance(30)) keys.push_back(Key("lower") + "=" + Number(true));
        if (Chance(30)) keys.push_back(Key("upper") + "=" + Number(true));
        if (Chance(40)) {
            const auto& [ptype, units] = kUnits[static_cast<size_t>(Pick(static_cast<int>(kUnits.size())))];
            keys.push_back(Key("ptype") + "=" + ptype);
            if (Chance(70)) keys.push_back(Key("uom") + "=" + Word(OneOf(units)));
        } else if (Chance(10)) {
            keys.push_back(Key("ptype") + "=" + (Chance(50) ? "" : "\"\""));
        }
        if (Chance(30)) keys.push_back(Key("desc") + "=" + Quote(Odd(true, true)));
        static const char* const reals[] = {"step", "scale", "intscale", "sbweight", "initial", "threshold", "homotarget"};
        static const char* const ints[] = {"bound", "quality", "marked", "vtype", "homo", "ramped", "conntype"};
        for (const char* k : reals)
            if (Chance(10)) keys.push_back(Key(k) + "=" + Number());
        for (const char* k : ints)
            if (Chance(10)) keys.push_back(Key(k) + "=" + std::to_string(Pick(256)));
        if (Chance(10)) keys.push_back(Key("profile") + "=" + (Chance(70) ? "on" : "off"));
        std::shuffle(keys.begin(), keys.end(), rng_);
        for (const std::string& k : keys) out += Blank() + k;
        return out + End();
    }

    // An expression over the variables given by the names, in any case.
    std::string Expr(const std::vector<std::string>& names) {
        auto term = [&] {
            if (names.empty() || Chance(20)) return std::string(Chance(50) ? "2" : "1.5e-1");
            std::string n = OneOf(names);
            if (Chance(20))
                for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return n;
        };
        switch (Pick(4)) {
            case 0: return term() + " + " + term();
            case 1: return "2 * " + term() + " - " + term() + " / 3";
            case 2: return "max(" + term() + ", 1e-3) + EXP(" + term() + ")";
            default: return term();
        }
    }
    std::string Eqn(int depth, const std::vector<std::string>& names) {
        std::string name = Name("E", true, true, true, true);
        std::string head = name.empty() ? "\"\"" : Word(name);
        const bool quoted = head[0] == '"';
        // A bare name ends at its first ':', so one that holds ':' is quoted.
        if (!quoted && name.find(':') != std::string::npos) head = Quote(name);
        std::string out = Indent(depth) + Key("eqn") + Blank() + head + (Chance(30) ? ":" : Blank() + ":") + Blank();
        return out + Expr(names) + " = " + Expr(names) + (Chance(10) ? "   # trailing" : "") + End();
    }

    // A list's items: integers, real numbers, logicals, quoted text and identifiers.
    std::vector<std::string> Items() {
        std::vector<std::string> items;
        const int n = Pick(5);
        for (int i = 0; i < n; ++i) {
            switch (Pick(9)) {
                case 0: items.push_back(std::to_string(Pick(100) - 50)); break;
                case 1: items.push_back("-0"); break;
                case 2: items.push_back(std::to_string(Pick(10)) + ".0"); break;
                case 3: items.push_back("2.5e-3"); break;
                case 4: items.push_back(Chance(50) ? "true" : "FALSE"); break;
                case 5: items.push_back("\"t" + std::to_string(Pick(100)) + " x\""); break;
                case 6: items.push_back("ID" + std::to_string(Pick(100))); break;
                case 7: {
                    // Text holding commas, quotes and backslashes; identifiers that hold them or that would
                    // read as something else.
                    static const char* const escaped[] = {"\"a,b\\\"c\\\\d\"", "\",\"", "x\\,y", "\\12", "\\TRUE", "\\\"q",
                                                          "\\\\", "C:\\dir", "\\-0"};
                    items.push_back(escaped[Pick(9)]);
                    break;
                }
                default: items.push_back(""); break;
            }
        }
        return items;
    }
    std::string ParamValue() {
        switch (Pick(10)) {
            case 0: return Key("real") + " " + Number(Chance(10));
            case 1: return Key("int") + " " + Integer();
            case 2: {
                const int lo = Pick(100) - 50;
                return Key("bounded") + " " + std::to_string(lo + 1) + ".25 " + (Chance(30) ? "-inf" : std::to_string(lo)) + " " +
                       (Chance(30) ? "inf" : std::to_string(lo + 10));
            }
            case 3: {
                const int lo = Pick(100) - 50;
                return Key("boundedint") + " " + std::to_string(lo + 1) + " " + std::to_string(lo) + " " + std::to_string(lo + 5);
            }
            case 4: return Key("text") + " " + Quote(Odd(true, true));
            case 5: return Key("id") + " " + Word(Name("ID"));
            case 6: return Key("bool") + " " + (Chance(50) ? "true" : "False");
            case 7: {
                std::string items;
                for (const std::string& item : Items()) items += (items.empty() ? "" : ",") + item;
                return Key("list") + " " + Quote(items);
            }
            case 8: {
                std::vector<std::string> items;
                const int n = 1 + Pick(4);
                for (int i = 0; i < n; ++i) items.push_back(Chance(50) ? "C" + std::to_string(i) : std::to_string(i * 7));
                std::string text;
                for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
                if (Chance(30)) {
                    // An option that reads like an earlier one, chosen by its position.
                    const int at = Pick(n);
                    std::string alike = items[static_cast<size_t>(at)];
                    for (char& c : alike) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    return Key("enum") + " " + Word(alike) + " " + Quote(text + "," + alike) + " " + Key("choice") + "=" +
                           std::to_string(n + 1);
                }
                return Key("enum") + " " + Word(OneOf(items)) + " " + Quote(text);
            }
            default: return Key("missing");
        }
    }
    // A parameter or global line after its keyword.
    std::string ParamRest(const std::string& name) {
        std::string out = Blank() + Word(name) + Blank() + ParamValue();
        if (Chance(20)) out += Blank() + Key("lower") + "=" + Number(true);
        if (Chance(20)) out += Blank() + Key("upper") + "=" + Number(true);
        if (Chance(20)) out += Blank() + Key("uom") + "=" + Word(OneOf(kUnits[2].second));
        if (Chance(20)) out += Blank() + Key("ptype") + "=" + Word(Chance(80) ? "PRESSURE" : Odd(true, true));
        if (Chance(20)) out += Blank() + Key("access") + "=" + (Chance(70) ? "ro" : "rw");
        if (Chance(20)) out += Blank() + Key("desc") + "=" + Quote(Odd(true, true));
        return out + End();
    }
    std::string Port(int depth, const std::vector<Ref>& refs) {
        static const char* const directions[] = {"IN", "OUT", "in", "Out"};
        std::string out = Indent(depth) + Key("port") + Blank() + Word(Name("P", true, true)) + Blank() + directions[Pick(4)];
        if (Chance(60)) out += Blank() + Key("type") + "=" + Word(Chance(70) ? "MATERIAL" : Odd(true, true));
        if (Chance(50)) out += Blank() + Key("basis") + "=" + Word(Chance(70) ? "MOLE" : "MASS");
        if (Chance(50)) out += Blank() + Key("phase") + "=" + Word(Chance(70) ? "VAPOR" : "MIXED");
        if (Chance(30)) out += Blank() + Key("stream") + "=" + Word(Name("S"));
        if (Chance(80)) {
            // The block's own variables (an unnamed one among others), or none.
            std::string vars;
            const int n = Pick(4);
            for (int i = 0; i < n && !refs.empty(); ++i) {
                const Ref& r = OneOf(refs);
                if (r.path.size() == 1) vars += (i ? "," : "") + r.path[0];
            }
            if (n == 1 && vars.empty()) vars = ",";
            out += Blank() + Key("vars") + "=" + Quote(vars);
        }
        return out + End();
    }

    // ---- blocks ----
    // The body of a plain block, after the members (refs) it has from its type.
    std::string PlainBody(int depth, std::vector<Ref>& refs, bool overrides) {
        std::string out;
        const int vars = 1 + Pick(4);
        bool unnamed = false;
        for (int i = 0; i < vars; ++i) {
            std::string name;
            if (overrides && !refs.empty() && Chance(30)) {
                // A variable of the type, named again (in any case): its line replaces the type's.
                name = OneOf(refs).path[0];
                if (Chance(50))
                    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            } else {
                name = Name("X", true, !unnamed, false, false);
                unnamed = unnamed || name.empty();
                refs.push_back(Ref{{name}, IsIdent(name)});
            }
            out += Var(depth, name);
        }
        out += Equations(depth, refs, Pick(3));
        for (int i = Pick(3); i > 0; --i) out += Indent(depth) + Key("param") + ParamRest(Name("PAR", true, true));
        for (int i = Pick(3); i > 0; --i) out += Port(depth, refs);
        return out;
    }
    std::string Equations(int depth, const std::vector<Ref>& refs, int n) {
        std::vector<std::string> names;
        for (const Ref& r : refs)
            if (r.ident) names.push_back(Join(r.path));
        std::string out;
        for (int i = 0; i < n; ++i) out += Eqn(depth, names);
        return out;
    }
    // A block line, its body and its end; adds what it holds to `refs` (relative to its container), its name
    // to `names` (of its container's blocks). `replacing`: the name of the type's block it takes the place of.
    std::string Block(int depth, std::vector<Ref>& refs, std::vector<std::string>& names, const std::string& prefix,
                      const std::string& replacing = std::string()) {
        // An unnamed block (at most one a container) is placed, its members are not named from outside.
        std::string name = replacing;
        if (name.empty()) {
            const bool unnamed_ok = std::find(names.begin(), names.end(), "") == names.end();
            name = Name("B", true, unnamed_ok);
        }
        names.push_back(name);
        const bool hierarchy = depth < 3 && Chance(30);
        std::vector<Ref> own;
        std::vector<std::string> from_type;
        std::string type_word;
        std::vector<const TypeInfo*> fits;
        for (const TypeInfo& t : types_)
            if (t.hierarchy == hierarchy) fits.push_back(&t);
        bool own_members = false;
        if (!fits.empty() && Chance(50)) {
            const TypeInfo& t = *fits[static_cast<size_t>(Pick(static_cast<int>(fits.size())))];
            // A type named like a word of the line is quoted there.
            type_word = Blank() + (IsLineWord(t.name) ? Quote(t.name) : Word(t.name));
            // A block of its own members takes none from its type.
            own_members = Chance(15);
            if (!own_members) {
                own = t.refs;
                from_type = t.blocks;
            }
        }
        const bool excluded = Chance(10);
        std::string flags = (excluded ? Blank() + Key("excluded") : "");
        if (own_members) flags = Chance(50) ? flags + Blank() + Key("own-members") : Blank() + Key("own-members") + flags;
        std::string out = Indent(depth) + Key(hierarchy ? "hierarchy" : "block") + Blank() + (name.empty() ? "\"\"" : Word(name)) +
                          type_word + flags + End();
        const std::string full = prefix.empty() ? name : prefix + "." + name;
        if (hierarchy) {
            if (!name.empty() && top_named_) scopes_.push_back(full);
            out += HierarchyBody(depth + 1, own, from_type, full);
        } else {
            out += PlainBody(depth + 1, own, !type_word.empty());
        }
        out += Indent(depth) + Key("end") + End();
        if (!name.empty())
            for (Ref& r : own) {
                r.path.insert(r.path.begin(), name);
                r.ident = r.ident && IsIdent(name);
                refs.push_back(std::move(r));
            }
        return out;
    }
    // A hierarchy block's body: blocks (replacing some of its type's), its own variables and equations,
    // connections between what it holds.
    std::string HierarchyBody(int depth, std::vector<Ref>& refs, std::vector<std::string> from_type, const std::string& full) {
        std::string out;
        const bool named = top_named_;
        std::vector<std::string> names = from_type;
        for (const std::string& replaced : from_type) {
            if (replaced.empty() || !Chance(40)) continue;
            // The type's block of that name gives way to this one.
            std::erase_if(refs, [&](const Ref& r) { return r.path.size() > 1 && r.path[0] == replaced; });
            names.erase(std::find(names.begin(), names.end(), replaced));
            out += Block(depth, refs, names, full, replaced);
        }
        top_named_ = named && !full.empty() && full.back() != '.';
        for (int i = Pick(3); i > 0; --i) out += Block(depth, refs, names, full);
        top_named_ = named;
        for (int i = Pick(3); i > 0; --i) {
            std::string name = Name("L", true, false, false, false);
            refs.push_back(Ref{{name}, IsIdent(name)});
            out += Var(depth, name);
        }
        out += Equations(depth, refs, Pick(3));
        out += Connections(depth, refs);
        return out;
    }
    std::string Connections(int depth, const std::vector<Ref>& refs) {
        std::string out;
        if (refs.empty()) return out;
        static const char* const kinds[] = {"spec-change", "equality", "measurement", "measurement-spec-change", "MEASUREMENT-EQUALITY"};
        for (int i = Pick(3); i > 0; --i)
            out += Indent(depth) + Key("connection") + Blank() + Word(Name("C", true, true)) + Blank() + kinds[Pick(5)] + Blank() +
                   Word(Join(OneOf(refs).path)) + Blank() + Word(Join(OneOf(refs).path)) + (Chance(20) ? Blank() + Key("disabled") : "") +
                   End();
        return out;
    }

    static bool IsLineWord(const std::string& s) {
        std::string upper = s;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper == "EXCLUDED" || upper == "OWN-MEMBERS";
    }
    // A type definition; the type joins those blocks may take. A type of the file's own is now and then named
    // like a word of the block line, each at most once.
    std::string Type(bool hierarchy) {
        TypeInfo t;
        t.name = Name("T", true);
        if (Chance(10) && !named_excluded_) {
            t.name = Key("excluded");
            named_excluded_ = true;
        } else if (Chance(10) && !named_own_) {
            t.name = Key("own-members");
            named_own_ = true;
        }
        t.hierarchy = hierarchy;
        std::string out = Key("type") + Blank() + Word(t.name) + (hierarchy ? Blank() + Key("hierarchy") : "") + End();
        if (hierarchy) {
            // Blocks and the type's own variables; its equations and connections name only its own variables,
            // which a block of the type keeps whatever blocks its body puts in place of the type's.
            std::vector<Ref> inner;
            std::vector<std::string> names;
            const bool named = top_named_;
            top_named_ = false;
            for (int i = 1 + Pick(2); i > 0; --i) out += Block(1, inner, names, t.name);
            top_named_ = named;
            t.blocks = names;
            std::vector<Ref> own;
            for (int i = 1 + Pick(2); i > 0; --i) {
                std::string name = Name("L", true, false, false, false);
                own.push_back(Ref{{name}, IsIdent(name)});
                out += Var(1, name);
            }
            out += Equations(1, own, Pick(2));
            out += Connections(1, own);
            t.refs = own;
            t.refs.insert(t.refs.end(), inner.begin(), inner.end());
        } else {
            out += PlainBody(1, t.refs, false);
        }
        types_.push_back(std::move(t));
        return out + Key("end") + End();
    }

    std::string LibraryText() {
        std::string out = "# block types\n";
        for (int i = 1 + Pick(3); i > 0; --i) out += Type(Chance(30));
        return out;
    }

    std::string Solver() {
        std::string out = Key("solver") + Blank() + Word(Name("S")) + End();
        if (Chance(70)) out += "  " + Key("int") + " MAXITER " + std::to_string(1 + Pick(500)) + End();
        if (Chance(50)) out += "  " + Key("int") + " PRINTLEVEL " + std::to_string(Pick(5) - 1) + End();
        if (Chance(70)) out += "  " + Key("real") + " TOLERANCE " + (Chance(80) ? "1e-" + std::to_string(1 + Pick(12)) : "0.1") + End();
        if (Chance(50)) out += "  " + Key("real") + " DAMPING " + (Chance(50) ? "1" : "0.5") + End();
        if (Chance(50)) out += "  " + Key("text") + " METHOD " + Quote(Chance(50) ? "SUBSTITUTION" : Odd(true, true)) + End();
        if (Chance(30)) out += "  " + Key("real") + " " + Word(Name("R")) + " " + Number(Chance(20)) + End();
        if (Chance(30)) out += "  " + Key("int") + " " + Word(Name("I")) + " " + std::to_string(Pick(2000) - 1000) + End();
        return out + Key("end") + End();
    }

    std::string ModelText(const std::string& library_path) {
        std::string out;
        if (Chance(50)) out += "# a random model\n";
        out += Key("model") + Blank() + Word(Name("M")) + End();
        if (Chance(70)) out += Key("mode") + " " + std::to_string(Pick(4)) + End();
        // Block types: of the library file, of STANDARD, and the file's own.
        if (Chance(70)) out += Key("library") + Blank() + Quote(library_path) + End();
        else types_.clear();
        if (Chance(60)) {
            out += Key("library") + " STANDARD" + End();
            for (const auto& [name, vars] : kStandard) {
                TypeInfo t;
                t.name = name;
                for (const char* v : vars) t.refs.push_back(Ref{{v}, true});
                types_.push_back(std::move(t));
            }
        }
        for (int i = Pick(4); i > 0; --i) out += Type(Chance(40));
        for (int i = Pick(3); i > 0; --i) out += Solver();
        for (int i = Pick(3); i > 0; --i) out += Key("global") + ParamRest(Name("G", true));
        // The flowsheet: blocks and loose variables, equations and connections.
        std::vector<Ref> refs;
        std::vector<std::string> names;
        top_named_ = true;
        for (int i = 1 + Pick(5); i > 0; --i) out += Block(0, refs, names, "");
        for (int i = Pick(3); i > 0; --i) {
            std::string name = Name("V", true, false, false, false);
            refs.push_back(Ref{{name}, IsIdent(name)});
            out += Var(0, name);
        }
        out += Equations(0, refs, Pick(3));
        out += Connections(0, refs);
        // Objectives over full names, tags, the scope.
        std::vector<std::string> full;
        for (const Ref& r : refs)
            if (r.ident) full.push_back(Join(r.path));
        std::vector<std::string> objectives;
        for (int i = Pick(3); i > 0 && !full.empty(); --i) {
            objectives.push_back(Name("O", true));
            out += Key("objective") + Blank() + Word(objectives.back()) + Blank() + Key(Chance(50) ? "minimize" : "maximize") + Blank() +
                   Expr(full) + End();
        }
        if (!objectives.empty() && Chance(60)) out += Key("default-objective") + Blank() + Word(OneOf(objectives)) + End();
        else if (Chance(20)) out += Key("default-objective") + " NONE" + End();
        for (int i = Pick(4); i > 0 && !refs.empty(); --i)
            out += Key("tag") + Blank() + Word(Name("TAG", true)) + Blank() + Word(Join(OneOf(refs).path)) + End();
        if (!scopes_.empty() && Chance(50)) out += Key("scope") + Blank() + Word(OneOf(scopes_)) + End();
        return out;
    }

    std::mt19937 rng_;
    int count_ = 0;
    std::vector<TypeInfo> types_;
    std::vector<std::string> scopes_;  // full names of hierarchy blocks reached through named blocks
    bool top_named_ = true;            // whether the blocks being made are reached through named blocks
    bool named_excluded_ = false, named_own_ = false;  // types named like the block line's words
};

// ---- comparison ----

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string ValueDifference(const value_t* a, const value_t* b) {
    if (a->kind != b->kind) return "kind " + std::to_string(a->kind) + " != " + std::to_string(b->kind);
    switch (a->kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM:
            if (a->is_int != b->is_int) return "integer or not";
            if (a->is_int ? a->u.i != b->u.i : !SameBits(a->u.d, b->u.d)) return "number";
            if (a->kind == VALUE_BOUNDEDNUM && (!SameBits(a->lower, b->lower) || !SameBits(a->upper, b->upper))) return "bounds";
            return "";
        case VALUE_STRING:
        case VALUE_ID: return std::string(a->u.s ? a->u.s : "") == (b->u.s ? b->u.s : "") ? "" : "text";
        case VALUE_LOGICAL: return a->u.logical == b->u.logical ? "" : "logical";
        case VALUE_LIST:
        case VALUE_ENUM: {
            if (a->kind == VALUE_ENUM && a->enum_index != b->enum_index) return "choice";
            const int n = gl_length(a->u.list);
            if (n != gl_length(b->u.list)) return "item count";
            for (int p = 1; p <= n; ++p)
                if (std::string d = ValueDifference(static_cast<const value_t*>(gl_get(a->u.list, p)),
                                                    static_cast<const value_t*>(gl_get(b->u.list, p)));
                    !d.empty())
                    return "item " + std::to_string(p) + ": " + d;
            return "";
        }
        default: return "";
    }
}

// Collects differences as "path: what".
class Differ {
public:
    std::string first;

    void Text(const std::string& where, const std::string& a, const std::string& b) {
        if (a != b) Note(where, "'" + a + "' != '" + b + "'");
    }
    void Number(const std::string& where, double a, double b) {
        if (!SameBits(a, b)) Note(where, std::to_string(a) + " != " + std::to_string(b));
    }
    void Int(const std::string& where, long long a, long long b) {
        if (a != b) Note(where, std::to_string(a) + " != " + std::to_string(b));
    }
    void Val(const std::string& where, const Value& a, const Value& b) {
        if (std::string d = ValueDifference(a.get(), b.get()); !d.empty()) Note(where, d);
    }
    template <class T, class F>
    void List(const std::string& where, const std::vector<T>& a, const std::vector<T>& b, F&& each) {
        if (a.size() != b.size()) return Note(where, "count " + std::to_string(a.size()) + " != " + std::to_string(b.size()));
        for (size_t i = 0; i < a.size() && first.empty(); ++i) each(where + "[" + std::to_string(i) + "]", a[i], b[i]);
    }
    void Param(const std::string& w, const ParamDef& a, const ParamDef& b) {
        Text(w + ".name", a.name, b.name);
        Val(w + ".value", a.value, b.value);
        Val(w + ".lower", a.lower, b.lower);
        Val(w + ".upper", a.upper, b.upper);
        Text(w + ".uom", a.uom, b.uom);
        Text(w + ".description", a.description, b.description);
        Text(w + ".ptype", a.ptype, b.ptype);
        Int(w + ".access", a.access, b.access);
    }
    void Var(const std::string& w, const VarDef& a, const VarDef& b) {
        Text(w + ".name", a.name, b.name);
        const std::pair<const char*, double VarDef::*> reals[] = {
            {"value", &VarDef::value},         {"lower", &VarDef::lower},         {"upper", &VarDef::upper},
            {"step", &VarDef::step},           {"scale", &VarDef::scale},         {"intscale", &VarDef::intscale},
            {"sbweight", &VarDef::sbweight},   {"initial", &VarDef::initial},     {"threshold", &VarDef::threshold},
            {"homotarget", &VarDef::homo_target}};
        for (const auto& [key, field] : reals) Number(w + "." + key, a.*field, b.*field);
        const std::pair<const char*, int VarDef::*> ints[] = {
            {"spec", &VarDef::spec},     {"bound", &VarDef::bound},         {"quality", &VarDef::quality},
            {"marked", &VarDef::marked}, {"vtype", &VarDef::variable_type}, {"homo", &VarDef::homo_param},
            {"ramped", &VarDef::ramped}, {"conntype", &VarDef::conn_type}};
        for (const auto& [key, field] : ints) Int(w + "." + key, a.*field, b.*field);
        Text(w + ".ptype", a.ptype, b.ptype);
        Text(w + ".uom", a.uom, b.uom);
        Text(w + ".description", a.description, b.description);
        Int(w + ".initial_set", a.initial_set, b.initial_set);
        Int(w + ".profile", a.profile, b.profile);
    }
    void Block(const std::string& w, const BlockDef& a, const BlockDef& b) {
        Text(w + ".name", a.name, b.name);
        Text(w + ".type", a.type, b.type);
        Text(w + ".library", a.library, b.library);
        Int(w + ".aggregate", a.aggregate, b.aggregate);
        Int(w + ".included", a.included, b.included);
        List(w + ".vars", a.vars, b.vars, [this](const std::string& x, const VarDef& p, const VarDef& q) { Var(x, p, q); });
        List(w + ".eqns", a.eqns, b.eqns, [this](const std::string& x, const EqnDef& p, const EqnDef& q) {
            Text(x + ".name", p.name, q.name);
            Text(x + ".text", p.text, q.text);
            Number(x + ".scale", p.scale, q.scale);
        });
        List(w + ".params", a.params, b.params, [this](const std::string& x, const ParamDef& p, const ParamDef& q) { Param(x, p, q); });
        List(w + ".ports", a.ports, b.ports, [this](const std::string& x, const PortDef& p, const PortDef& q) {
            for (auto field : {&PortDef::name, &PortDef::type, &PortDef::direction, &PortDef::basis, &PortDef::phase, &PortDef::stream})
                Text(x, p.*field, q.*field);
            List(x + ".vars", p.vars, q.vars, [this](const std::string& y, const std::string& m, const std::string& n) { Text(y, m, n); });
        });
        List(w + ".blocks", a.blocks, b.blocks, [this](const std::string& x, const BlockDef& p, const BlockDef& q) { Block(x, p, q); });
        List(w + ".conns", a.conns, b.conns, [this](const std::string& x, const ConnDef& p, const ConnDef& q) {
            Text(x + ".name", p.name, q.name);
            Int(x + ".kind", p.kind, q.kind);
            Int(x + ".enabled", p.enabled, q.enabled);
            Text(x + ".from", p.from, q.from);
            Text(x + ".to", p.to, q.to);
        });
    }

private:
    void Note(const std::string& where, const std::string& what) {
        if (first.empty()) first = where + ": " + what;
    }
};

}  // namespace

RandomModelFiles RandomModel(uint32_t seed, const std::string& library_path) { return Generator(seed).Files(library_path); }

std::string ModelDifference(const ModelDef& a, const ModelDef& b) {
    Differ d;
    d.Text("name", a.name, b.name);
    d.Int("mode", a.mode, b.mode);
    d.Text("scope", a.scope, b.scope);
    d.List("libraries", a.libraries, b.libraries, [&](const std::string& w, const std::string& x, const std::string& y) { d.Text(w, x, y); });
    d.List("types", a.types, b.types, [&](const std::string& w, const BlockDef& x, const BlockDef& y) { d.Block(w, x, y); });
    d.List("solvers", a.solvers, b.solvers, [&](const std::string& w, const SolverDef& x, const SolverDef& y) {
        d.Text(w + ".name", x.name, y.name);
        d.List(w + ".ints", x.ints, y.ints, [&](const std::string& v, const auto& p, const auto& q) {
            d.Text(v, p.first, q.first);
            d.Int(v, p.second, q.second);
        });
        d.List(w + ".reals", x.reals, y.reals, [&](const std::string& v, const auto& p, const auto& q) {
            d.Text(v, p.first, q.first);
            d.Number(v, p.second, q.second);
        });
        d.List(w + ".texts", x.texts, y.texts, [&](const std::string& v, const auto& p, const auto& q) {
            d.Text(v, p.first, q.first);
            d.Text(v, p.second, q.second);
        });
    });
    d.List("globals", a.globals, b.globals, [&](const std::string& w, const ParamDef& x, const ParamDef& y) { d.Param(w, x, y); });
    d.Block("flowsheet", a.flowsheet, b.flowsheet);
    d.List("objectives", a.objectives, b.objectives, [&](const std::string& w, const ObjectiveDef& x, const ObjectiveDef& y) {
        d.Text(w + ".name", x.name, y.name);
        d.Int(w + ".maximize", x.maximize, y.maximize);
        d.Text(w + ".expr", x.expr, y.expr);
    });
    d.Text("default_objective", a.default_objective, b.default_objective);
    d.List("tags", a.tags, b.tags, [&](const std::string& w, const TagDef& x, const TagDef& y) {
        d.Text(w + ".alias", x.alias, y.alias);
        d.Text(w + ".variable", x.variable, y.variable);
    });
    return d.first;
}

}  // namespace zeq::testing
