#include "expr.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "names.h"

namespace zeq {
namespace {

// The characters of expressions, in ASCII whatever the process's locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

const char* const kFn1[] = {"EXP", "LOG", "LN", "SQRT", "ABS", "SIN", "COS", "LOG10"};
const char* const kFn2[] = {"POW", "MIN", "MAX"};

// Recursive descent with a depth limit; the postfix code keeps the evaluation stack within 64 slots.
class Parser {
public:
    using Built = ExprScratch;
    Parser(std::string_view t, const Resolver& r, Built& e) : text_(t), resolve_(r), out_(e) {}
    bool Run(std::string& error) {
        if (!Sum(0)) {
            error = error_;
            return false;
        }
        Skip();
        if (pos_ != text_.size()) {
            error = "unexpected '" + std::string(1, text_[pos_]) + "' in expression";
            return false;
        }
        if (depth_max_ > 60) {
            error = "expression too deeply nested";
            return false;
        }
        return true;
    }

private:
    void Skip() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }
    bool Fail(const std::string& m) {
        if (error_.empty()) error_ = m;
        return false;
    }
    void Emit(Op::Kind k, int d) {
        out_.code.push_back(Op{k, 0, 0});
        (void)d;
    }
    bool Sum(int depth) {
        if (!Product(depth)) return false;
        for (;;) {
            Skip();
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
                char c = text_[pos_++];
                if (!Product(depth)) return false;
                Emit(c == '+' ? Op::Add : Op::Sub, depth);
            } else {
                return true;
            }
        }
    }
    bool Product(int depth) {
        if (!Unary(depth)) return false;
        for (;;) {
            Skip();
            if (pos_ < text_.size() && (text_[pos_] == '*' || text_[pos_] == '/')) {
                char c = text_[pos_++];
                if (!Unary(depth)) return false;
                Emit(c == '*' ? Op::Mul : Op::Div, depth);
            } else {
                return true;
            }
        }
    }
    bool Unary(int depth) {
        Skip();
        if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) {
            char c = text_[pos_++];
            if (depth > 60) return Fail("expression too deeply nested");
            if (!Unary(depth + 1)) return false;
            if (c == '-') Emit(Op::Neg, depth);
            return true;
        }
        return Power(depth);
    }
    bool Power(int depth) {
        if (!Primary(depth)) return false;
        Skip();
        if (pos_ < text_.size() && text_[pos_] == '^') {
            ++pos_;
            if (depth > 60) return Fail("expression too deeply nested");
            if (!Unary(depth + 1)) return false;
            Emit(Op::Pow, depth);
        }
        return true;
    }
    bool Primary(int depth) {
        depth_max_ = std::max(depth_max_, depth);
        if (depth > 60) return Fail("expression too deeply nested");
        Skip();
        if (pos_ >= text_.size()) return Fail("expression ends too early");
        char c = text_[pos_];
        if (c == '(') {
            ++pos_;
            if (!Sum(depth + 1)) return false;
            Skip();
            if (pos_ >= text_.size() || text_[pos_] != ')') return Fail("missing ')'");
            ++pos_;
            return true;
        }
        if (IsDigit(c) || c == '.') {
            std::string num;
            while (pos_ < text_.size() && (IsDigit(text_[pos_]) || text_[pos_] == '.'))
                num += text_[pos_++];
            if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
                size_t save = pos_;
                num += text_[pos_++];
                if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) num += text_[pos_++];
                if (pos_ >= text_.size() || !IsDigit(text_[pos_])) {
                    pos_ = save;
                    num.pop_back();
                }
                while (pos_ < text_.size() && IsDigit(text_[pos_])) num += text_[pos_++];
            }
            // from_chars reads what it can as strtod would, faster; the rest (and every error) goes to strtod.
            double v = 0;
            auto [at, why] = std::from_chars(num.data(), num.data() + num.size(), v);
            if (why != std::errc() || at != num.data() + num.size()) {
                char* end = nullptr;
                v = std::strtod(num.c_str(), &end);
                if (end == num.c_str() || *end) return Fail("bad number '" + num + "'");
            }
            out_.code.push_back(Op{Op::Num, 0, static_cast<int>(out_.nums.size())});
            out_.nums.push_back(v);
            return true;
        }
        if (IsAlpha(c) || c == '_') {
            size_t start = pos_;
            while (pos_ < text_.size() &&
                   ((IsAlpha(text_[pos_]) || IsDigit(text_[pos_])) || text_[pos_] == '_' || text_[pos_] == '.'))
                ++pos_;
            std::string_view name = text_.substr(start, pos_ - start);
            Skip();
            if (pos_ < text_.size() && text_[pos_] == '(') {
                ++pos_;
                for (int f = 0; f < 8; ++f)
                    if (iequals(name, kFn1[f])) {
                        if (!Sum(depth + 1)) return false;
                        Skip();
                        if (pos_ >= text_.size() || text_[pos_] != ')') return Fail("missing ')'");
                        ++pos_;
                        out_.code.push_back(Op{Op::Fn1, static_cast<unsigned char>(f), 0});
                        return true;
                    }
                for (int f = 0; f < 3; ++f)
                    if (iequals(name, kFn2[f])) {
                        if (!Sum(depth + 1)) return false;
                        Skip();
                        if (pos_ >= text_.size() || text_[pos_] != ',') return Fail("missing ','");
                        ++pos_;
                        if (!Sum(depth + 1)) return false;
                        Skip();
                        if (pos_ >= text_.size() || text_[pos_] != ')') return Fail("missing ')'");
                        ++pos_;
                        out_.code.push_back(Op{Op::Fn2, static_cast<unsigned char>(f), 0});
                        return true;
                    }
                return Fail("unknown function '" + std::string(name) + "'");
            }
            int v = resolve_(name);
            if (v < 0) return Fail("unknown variable '" + std::string(name) + "'");
            out_.code.push_back(Op{Op::Var, 0, v});
            if (std::find(out_.vars.begin(), out_.vars.end(), v) == out_.vars.end()) out_.vars.push_back(v);
            return true;
        }
        return Fail("unexpected '" + std::string(1, c) + "' in expression");
    }

    std::string_view text_;
    const Resolver& resolve_;
    Built& out_;
    size_t pos_ = 0;
    int depth_max_ = 0;
    std::string error_;
};

}  // namespace

double ApplyFn1(int fn, double x) {
    switch (fn) {
        case 0: return std::exp(x);
        case 1:
        case 2: return std::log(x);
        case 3: return std::sqrt(x);
        case 4: return std::fabs(x);
        case 5: return std::sin(x);
        case 6: return std::cos(x);
        default: return std::log10(x);
    }
}

double ApplyFn2(int fn, double x, double y) {
    switch (fn) {
        case 1: return std::min(x, y);
        case 2: return std::max(x, y);
        default: return std::pow(x, y);
    }
}

double Expr::Eval(const std::function<double(int)>& value) const { return EvalWith(value); }

Expr::Expr(std::span<const Op> code, std::span<const double> nums, std::span<const int> vars)
    : ncode_(static_cast<uint32_t>(code.size())), nvars_(static_cast<uint32_t>(vars.size())) {
    if (code.empty()) return;
    const size_t at_nums = NumsOffset(code.size(), vars.size());
    data_ = std::make_unique_for_overwrite<unsigned char[]>(at_nums + nums.size_bytes());
    std::memcpy(data_.get(), code.data(), code.size_bytes());
    if (!vars.empty()) std::memcpy(data_.get() + code.size_bytes(), vars.data(), vars.size_bytes());
    if (!nums.empty()) std::memcpy(data_.get() + at_nums, nums.data(), nums.size_bytes());
}

std::span<const double> Expr::Nums() const {
    const auto code = Code();
    return {NumsData(), static_cast<size_t>(std::count_if(code.begin(), code.end(),
                                                          [](const Op& op) { return op.kind == Op::Num; }))};
}

namespace {
template <class Done>
bool ParseWith(std::string_view text, const Resolver& resolve, std::string& error, ExprScratch* scratch, Done&& done) {
    ExprScratch own;
    ExprScratch& built = scratch ? *scratch : own;
    built.code.clear();
    built.nums.clear();
    built.vars.clear();
    Parser p(text, resolve, built);
    if (!p.Run(error)) return false;
    done(built);
    return true;
}
}  // namespace

bool ParseExpr(std::string_view text, const Resolver& resolve, Expr& out, std::string& error, ExprScratch* scratch) {
    out = Expr{};
    return ParseWith(text, resolve, error, scratch,
                     [&](const ExprScratch& built) { out = Expr(built.code, built.nums, built.vars); });
}

bool CheckExpr(std::string_view text, const Resolver& resolve, std::string& error, ExprScratch* scratch) {
    return ParseWith(text, resolve, error, scratch, [](const ExprScratch&) {});
}

bool SplitEquation(std::string_view text, std::string_view& lhs, std::string_view& rhs) {
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || text.find('=', eq + 1) != std::string_view::npos) return false;
    lhs = text.substr(0, eq);
    rhs = text.substr(eq + 1);
    return true;
}

bool ParseEquation(std::string_view text, const Resolver& resolve, std::string& error, ExprScratch& scratch,
                   ParsedEquation* out) {
    std::string_view lhs, rhs;
    if (!SplitEquation(text, lhs, rhs)) return false;
    if (!out) return CheckExpr(lhs, resolve, error, &scratch) && CheckExpr(rhs, resolve, error, &scratch);
    // A left side of one variable is kept as its position alone.
    int target = -1;
    std::unique_ptr<Expr> left;
    if (!ParseWith(lhs, resolve, error, &scratch, [&](const ExprScratch& built) {
            if (built.code.size() == 1 && built.code[0].kind == Op::Var)
                target = built.code[0].arg;
            else
                left = std::make_unique<Expr>(built.code, built.nums, built.vars);
        }))
        return false;
    if (!ParseExpr(rhs, resolve, out->rhs, error, &scratch)) return false;
    out->lhs = std::move(left);
    out->target = target;
    return true;
}

}  // namespace zeq
