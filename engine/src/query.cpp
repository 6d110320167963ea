// Query engines. Grammar (words are caseless):
//   query     := or
//   or        := and { OR and }
//   and       := unary { AND unary }
//   unary     := NOT unary | '(' or ')' | ISALIAS( [glob] ) | attribute op literal
//   op        := = | != | < | <= | > | >= | LIKE        (LIKE takes a glob: * ? [..])
//   literal   := number | 'text' | "text" | word
// Attributes are the record's attribute names (NAME, VALUE, SPEC, UOM, ...); enumerations compare as text.
#include <cmath>
#include <cstdlib>
#include <memory>

#include "model.h"
#include "zeq_host.h"

namespace zeq {
namespace {

enum class Kind { Variable, Equation, Parameter, Port };

struct Cond {
    enum Type { And, Or, Not, Compare, IsAlias } type;
    std::unique_ptr<Cond> a, b;
    std::string attr, op, literal;
    double number = 0;
    bool numeric = false;
    hs_regex* re = nullptr;
    ~Cond() { hs_regfree(re); }
};

class Lexer {
public:
    explicit Lexer(std::string_view s) : s_(s) {}
    std::string Next() {
        Skip();
        if (pos_ >= s_.size()) return {};
        char c = s_[pos_];
        if (c == '(' || c == ')' || c == ',') return std::string(1, s_[pos_++]);
        if (c == '\'' || c == '"') {
            size_t end = s_.find(c, pos_ + 1);
            if (end == std::string_view::npos) {
                bad_ = true;
                pos_ = s_.size();
                return {};
            }
            std::string t = "\x01" + std::string(s_.substr(pos_ + 1, end - pos_ - 1));
            pos_ = end + 1;
            return t;
        }
        if (c == '=' || c == '<' || c == '>' || c == '!') {
            std::string t(1, c);
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] == '=') t += s_[pos_++];
            else if (c == '<' && pos_ < s_.size() && s_[pos_] == '>') { t = "!="; ++pos_; }
            return t;
        }
        size_t start = pos_;
        while (pos_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[pos_])) && s_[pos_] != '(' &&
               s_[pos_] != ')' && s_[pos_] != '=' && s_[pos_] != '<' && s_[pos_] != '>' && s_[pos_] != '!' &&
               s_[pos_] != ',')
            ++pos_;
        return std::string(s_.substr(start, pos_ - start));
    }
    std::string Peek() {
        size_t save = pos_;
        std::string t = Next();
        pos_ = save;
        return t;
    }
    bool Bad() const { return bad_; }
    bool AtEnd() {
        Skip();
        return pos_ >= s_.size();
    }

private:
    void Skip() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    std::string_view s_;
    size_t pos_ = 0;
    bool bad_ = false;
};

std::unique_ptr<Cond> parse_or(Lexer& lx, int depth);

std::unique_ptr<Cond> parse_unary(Lexer& lx, int depth) {
    if (depth > 64) return nullptr;
    std::string t = lx.Next();
    if (t.empty()) return nullptr;
    if (iequals(t, "NOT")) {
        auto inner = parse_unary(lx, depth + 1);
        if (!inner) return nullptr;
        auto c = std::make_unique<Cond>();
        c->type = Cond::Not;
        c->a = std::move(inner);
        return c;
    }
    if (t == "(") {
        auto inner = parse_or(lx, depth + 1);
        if (!inner || lx.Next() != ")") return nullptr;
        return inner;
    }
    if (iequals(t, "ISALIAS")) {
        if (lx.Next() != "(") return nullptr;
        auto c = std::make_unique<Cond>();
        c->type = Cond::IsAlias;
        std::string arg = lx.Next();
        if (arg != ")") {
            if (!arg.empty() && arg[0] == '\x01') arg.erase(0, 1);
            char buf[1024];
            if (stred_glob_to_regexp(arg.c_str(), buf, sizeof buf) != 0) return nullptr;
            c->re = hs_regcomp(buf + 1, 1);
            if (!c->re || lx.Next() != ")") return nullptr;
        }
        return c;
    }
    if (t[0] == '\x01') return nullptr;
    auto c = std::make_unique<Cond>();
    c->type = Cond::Compare;
    c->attr = t;
    c->op = lx.Next();
    if (iequals(c->op, "LIKE")) c->op = "LIKE";
    if (c->op != "=" && c->op != "==" && c->op != "!=" && c->op != "<" && c->op != "<=" && c->op != ">" &&
        c->op != ">=" && c->op != "LIKE")
        return nullptr;
    std::string lit = lx.Next();
    if (lit.empty() || lit == "(" || lit == ")") return nullptr;
    bool quoted = lit[0] == '\x01';
    c->literal = quoted ? lit.substr(1) : lit;
    if (!quoted) {
        char* end = nullptr;
        c->number = std::strtod(c->literal.c_str(), &end);
        c->numeric = end && *end == 0 && !c->literal.empty();
    }
    if (c->op == "LIKE") {
        char buf[1024];
        if (stred_glob_to_regexp(c->literal.c_str(), buf, sizeof buf) != 0) return nullptr;
        c->re = hs_regcomp(buf + 1, 1);
        if (!c->re) return nullptr;
    }
    return c;
}

std::unique_ptr<Cond> parse_and(Lexer& lx, int depth) {
    auto left = parse_unary(lx, depth);
    while (left && iequals(lx.Peek(), "AND")) {
        lx.Next();
        auto right = parse_unary(lx, depth);
        if (!right) return nullptr;
        auto c = std::make_unique<Cond>();
        c->type = Cond::And;
        c->a = std::move(left);
        c->b = std::move(right);
        left = std::move(c);
    }
    return left;
}

std::unique_ptr<Cond> parse_or(Lexer& lx, int depth) {
    auto left = parse_and(lx, depth);
    while (left && iequals(lx.Peek(), "OR")) {
        lx.Next();
        auto right = parse_and(lx, depth);
        if (!right) return nullptr;
        auto c = std::make_unique<Cond>();
        c->type = Cond::Or;
        c->a = std::move(left);
        c->b = std::move(right);
        left = std::move(c);
    }
    return left;
}

// One candidate's attributes as text and number, by attribute name.
struct Row {
    virtual bool Get(const std::string& attr, std::string& text, double& number, bool& numeric) = 0;
    virtual bool IsAlias(const hs_regex* re) = 0;
    virtual ~Row() = default;
};

bool compare(const Cond& c, Row& row) {
    std::string text;
    double number = 0;
    bool numeric = false;
    if (!row.Get(c.attr, text, number, numeric)) return false;
    if (c.op == "LIKE") return hs_regexec(c.re, text.c_str()) == 1;
    int cmp;
    if (numeric && c.numeric) {
        cmp = number < c.number ? -1 : number > c.number ? 1 : 0;
    } else {
        cmp = stred_caseless_cmp(text.c_str(), c.literal.c_str());
    }
    if (c.op == "=" || c.op == "==") return cmp == 0;
    if (c.op == "!=") return cmp != 0;
    if (c.op == "<") return cmp < 0;
    if (c.op == "<=") return cmp <= 0;
    if (c.op == ">") return cmp > 0;
    return cmp >= 0;
}

bool eval(const Cond& c, Row& row) {
    switch (c.type) {
        case Cond::And: return eval(*c.a, row) && eval(*c.b, row);
        case Cond::Or: return eval(*c.a, row) || eval(*c.b, row);
        case Cond::Not: return !eval(*c.a, row);
        case Cond::IsAlias: return row.IsAlias(c.re);
        default: return compare(c, row);
    }
}

std::string fmt(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.12g", d);
    return buf;
}

struct VarRow final : Row {
    Simulation* sim;
    int pos;
    ZEQVariableData rec;
    bool loaded = false;
    VarRow(Simulation* s, int p) : sim(s), pos(p) {}
    bool Get(const std::string& attr, std::string& text, double& number, bool& numeric) override {
        int id;
        if (!ZEQVariableData::AttribId(attr.c_str(), &id)) return false;
        if (!loaded) {
            rec.mask.Set(0x7fffffff);
            loaded = rec.Load(sim->Flowsheet(), nullptr, pos + 1, true);
        }
        if (!loaded) return false;
        int type = ZEQVariableData::BaseType(id);
        const char* s = nullptr;
        int i = 0;
        if (type == ZEQ_TYPE_DOUBLE && rec.GetValue(id, number)) {
            numeric = true;
            text = fmt(number);
            return true;
        }
        if ((type == ZEQ_TYPE_TEXT || type == ZEQ_TYPE_ENUM) && rec.GetValue(id, s)) {
            text = s ? s : "";
            if (type == ZEQ_TYPE_ENUM && rec.GetValue(id, i)) {
                number = i;
                numeric = true;
            }
            return true;
        }
        if (rec.GetValue(id, i)) {
            number = i;
            numeric = true;
            text = std::to_string(i);
            return true;
        }
        return false;
    }
    bool IsAlias(const hs_regex* re) override {
        const rtotaglst* tags = sim->GetTagList();
        const std::string& name = sim->Vars()[static_cast<size_t>(pos)].name;
        for (int t = 1; t <= rtotaglst_inq_ntag(tags); ++t) {
            const rtotag* tag = rtotaglst_inq_tag(tags, t);
            if (iequals(tag->variable, name) && (!re || hs_regexec(re, tag->alias))) return true;
        }
        return false;
    }
};

struct EqnRow final : Row {
    Simulation* sim;
    int pos;
    EqnRow(Simulation* s, int p) : sim(s), pos(p) {}
    bool Get(const std::string& attr, std::string& text, double& number, bool& numeric) override {
        const Equation& e = sim->Eqns()[static_cast<size_t>(pos)];
        if (iequals(attr, "NAME")) text = e.name;
        else if (iequals(attr, "VALUE") || iequals(attr, "RESIDUAL")) number = e.residual, numeric = true;
        else if (iequals(attr, "SCALE")) number = e.Extras().scale, numeric = true;
        else if (iequals(attr, "SHADOW_PRICE")) number = e.Extras().shadow_price, numeric = true;
        else if (iequals(attr, "NUMBER")) number = pos + 1, numeric = true;
        else if (iequals(attr, "TEXT")) text = e.text;
        else return false;
        if (numeric) text = fmt(number);
        return true;
    }
    bool IsAlias(const hs_regex*) override { return false; }
};

struct ParamRow final : Row {
    const Parameter* p;
    int number;
    ParamRow(const Parameter* q, int n) : p(q), number(n) {}
    bool Get(const std::string& attr, std::string& text, double& num, bool& numeric) override {
        if (iequals(attr, "NAME")) text = p->name;
        else if (iequals(attr, "UOM")) text = p->uom;
        else if (iequals(attr, "DESCRIPTION")) text = p->description;
        else if (iequals(attr, "PHYSICAL_TYPE")) text = p->ptype;
        else if (iequals(attr, "ACCESS")) num = p->access, numeric = true;
        else if (iequals(attr, "NUMBER")) num = number, numeric = true;
        else if (iequals(attr, "VALUE")) {
            text = p->value.ToText();
            const value_t* v = p->value.get();
            if (v->kind == VALUE_NUMBER || v->kind == VALUE_BOUNDEDNUM) {
                num = v->is_int ? static_cast<double>(v->u.i) : v->u.d;
                numeric = true;
            }
            return true;
        } else return false;
        if (numeric) text = fmt(num);
        return true;
    }
    bool IsAlias(const hs_regex*) override { return false; }
};

struct PortRow final : Row {
    Port* p;
    int number;
    PortRow(Port* q, int n) : p(q), number(n) {}
    bool Get(const std::string& attr, std::string& text, double& num, bool& numeric) override {
        const PortDef& d = p->Def();
        if (iequals(attr, "NAME")) text = d.name;
        else if (iequals(attr, "TYPE")) text = d.type;
        else if (iequals(attr, "DIRECTION")) text = d.direction;
        else if (iequals(attr, "BASIS")) text = d.basis;
        else if (iequals(attr, "PHASE")) text = d.phase;
        else if (iequals(attr, "STREAM")) text = d.stream;
        else if (iequals(attr, "NUMBER")) { num = number; numeric = true; text = fmt(num); }
        else return false;
        return true;
    }
    bool IsAlias(const hs_regex*) override { return false; }
};

class QueryEngine final : public IZEQQueryEngine {
public:
    QueryEngine(Kind kind, Container* c, Block* b) : kind_(kind), c_(c), b_(b) {
        base_ = Candidates();
        rows_ = base_;
    }
    bool AddQuery(const char* text) override {
        zeq::EngineCall call;
        if (!text) return false;
        Lexer lx(text);
        auto cond = parse_or(lx, 0);
        if (!cond || lx.Bad() || !lx.AtEnd()) return false;
        conds_.push_back(std::move(cond));
        return true;
    }
    int Apply() override {
        zeq::EngineCall call;
        std::vector<int> out;
        for (int r : base_) {
            std::unique_ptr<Row> row = MakeRow(r);
            if (!row) continue;
            bool keep = true;
            for (auto& c : conds_)
                if (!eval(*c, *row)) {
                    keep = false;
                    break;
                }
            if (keep) out.push_back(r);
        }
        rows_ = std::move(out);
        return static_cast<int>(rows_.size());
    }
    // Limits the candidates to the given indexes (owner's numbering, in the given order); unknown ones are
    // dropped. Later queries filter within them.
    int RestrictRows(int n, const int* rows) override {
        zeq::EngineCall call;
        if (n < 0 || (n > 0 && !rows)) return E_INVALIDARG;
        std::vector<int> all = Candidates();
        int lo = all.empty() ? 0 : all.front(), hi = all.empty() ? -1 : all.back();
        std::vector<int> out;
        for (int i = 0; i < n; ++i)
            if (rows[i] >= lo && rows[i] <= hi) out.push_back(rows[i]);
        base_ = out;
        rows_ = std::move(out);
        return static_cast<int>(rows_.size());
    }
    int GetRowCount() override {
        zeq::EngineCall call;
        return static_cast<int>(rows_.size());
    }
    int GetRow(int row) override {
        zeq::EngineCall call;
        return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(row)] : 0;
    }
    void Destroy() override { delete this; }

private:
    // Candidate rows in the owner's numbering: block-relative (from 1) for a block, container indexes
    // (from 1) otherwise; parameters of a block from 0, global parameters from 1; ports from 1.
    std::vector<int> Candidates() const {
        std::vector<int> out;
        int n = 0, base = 1;
        switch (kind_) {
            case Kind::Variable: n = b_ ? b_->count_ : c_->count_; break;
            case Kind::Equation: n = b_ ? b_->eq_count_ : c_->eq_count_; break;
            case Kind::Parameter:
                n = b_ ? b_->GetParameterCount() : static_cast<int>(c_->Sim()->Globals().params.size());
                base = b_ ? 0 : 1;
                break;
            case Kind::Port: n = b_ ? b_->GetPortCount() : 0; break;
        }
        for (int i = 0; i < n; ++i) out.push_back(i + base);
        return out;
    }
    std::unique_ptr<Row> MakeRow(int r) const {
        Simulation* sim = c_->Sim();
        switch (kind_) {
            case Kind::Variable: return std::make_unique<VarRow>(sim, (b_ ? b_->first_ : c_->first_) + r - 1);
            case Kind::Equation: return std::make_unique<EqnRow>(sim, (b_ ? b_->eq_first_ : c_->eq_first_) + r - 1);
            case Kind::Parameter:
                if (b_) return std::make_unique<ParamRow>(&b_->Params()[static_cast<size_t>(r)], r);
                return std::make_unique<ParamRow>(&sim->Globals().params[static_cast<size_t>(r - 1)], r);
            case Kind::Port: return std::make_unique<PortRow>(static_cast<Port*>(b_->GetPort(r)), r);
        }
        return nullptr;
    }
    ~QueryEngine() = default;

    Kind kind_;
    Container* c_;
    Block* b_;
    std::vector<std::unique_ptr<Cond>> conds_;
    std::vector<int> base_;  // candidates, possibly restricted
    std::vector<int> rows_;
};

IZEQQueryEngine* make(Kind kind, ZEQEOCntr* container, ZEQEOBlock* block) {
    EngineCall call;
    auto* b = static_cast<Block*>(block);
    auto* c = container ? static_cast<Container*>(container) : (b ? b->Parent() : nullptr);
    if (!c) return nullptr;
    return new QueryEngine(kind, c, b);
}

}  // namespace
}  // namespace zeq

IZEQQueryEngine* ZEQQueryFactory::NewVariableQuery(ZEQEOCntr* c, ZEQEOBlock* b) { return zeq::make(zeq::Kind::Variable, c, b); }
IZEQQueryEngine* ZEQQueryFactory::NewEquationQuery(ZEQEOCntr* c, ZEQEOBlock* b) { return zeq::make(zeq::Kind::Equation, c, b); }
IZEQQueryEngine* ZEQQueryFactory::NewParameterQuery(ZEQEOCntr* c, ZEQEOBlock* b) { return zeq::make(zeq::Kind::Parameter, c, b); }
IZEQQueryEngine* ZEQQueryFactory::NewPortQuery(ZEQEOCntr* c, ZEQEOBlock* b) { return zeq::make(zeq::Kind::Port, c, b); }
