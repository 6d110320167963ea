// Arithmetic expressions over variables: parsed once into postfix code, evaluated on base-unit values.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeq {

struct Op {
    enum Kind : unsigned char { Num, Var, Neg, Add, Sub, Mul, Div, Pow, Fn1, Fn2 } kind;
    unsigned char fn = 0;
    int arg = 0;  // Var: 0-based variable position; Num: position in the expression's numbers
};

// A model holds an expression per equation, a million of them: the code, its numbers and the positions it
// reads share one allocation of the size they take.
class Expr {
public:
    Expr() = default;
    Expr(std::span<const Op> code, std::span<const double> nums, std::span<const int> vars);
    Expr(const Expr& other) : Expr(other.Code(), other.Nums(), other.Vars()) {}
    Expr(Expr&&) noexcept = default;
    Expr& operator=(const Expr& other) { return *this = Expr(other); }
    Expr& operator=(Expr&&) noexcept = default;

    std::span<const Op> Code() const { return {reinterpret_cast<const Op*>(data_.get()), ncode_}; }
    // Positions read, without repeats.
    std::span<const int> Vars() const {
        return {reinterpret_cast<const int*>(data_.get() + ncode_ * sizeof(Op)), nvars_};
    }
    // The numbers the code pushes (as many as it has Num operations).
    std::span<const double> Nums() const;
    double Eval(const std::function<double(int)>& value) const;
    template <class F>
    double EvalWith(F&& value) const;

private:
    // The numbers follow the code and the positions, aligned.
    static size_t NumsOffset(size_t ncode, size_t nvars) {
        return (ncode * sizeof(Op) + nvars * sizeof(int) + alignof(double) - 1) / alignof(double) * alignof(double);
    }
    const double* NumsData() const { return reinterpret_cast<const double*>(data_.get() + NumsOffset(ncode_, nvars_)); }

    std::unique_ptr<unsigned char[]> data_;  // ncode_ Ops, nvars_ ints, then the numbers
    uint32_t ncode_ = 0, nvars_ = 0;
};

// The lists an expression is parsed into. One that parses many expressions passes the same scratch to each
// parse: a model parses a million of them.
struct ExprScratch {
    std::vector<Op> code;
    std::vector<double> nums;
    std::vector<int> vars;
};

// Resolves a name to a 0-based variable position; -1 when unknown.
using Resolver = std::function<int(std::string_view)>;

// Parses text into out; false with a message in error.
bool ParseExpr(std::string_view text, const Resolver& resolve, Expr& out, std::string& error,
               ExprScratch* scratch = nullptr);
// Parses text as ParseExpr does, for its errors only.
bool CheckExpr(std::string_view text, const Resolver& resolve, std::string& error, ExprScratch* scratch = nullptr);
// Splits "lhs = rhs" at the top-level '='; false when there is none.
bool SplitEquation(std::string_view text, std::string_view& lhs, std::string_view& rhs);

// An equation's two sides as compiled.
struct ParsedEquation {
    Expr rhs;
    std::unique_ptr<Expr> lhs;  // null when the left side is the variable `target` alone
    int target = -1;
};
// Splits an equation and parses both sides, into out when given (else for the errors only). False with the
// parser's message in error, or with error as it was when the text has not exactly one '='.
bool ParseEquation(std::string_view text, const Resolver& resolve, std::string& error, ExprScratch& scratch,
                   ParsedEquation* out = nullptr);

double ApplyFn1(int fn, double x);
double ApplyFn2(int fn, double x, double y);

template <class F>
double Expr::EvalWith(F&& value) const {
    double stack[256];
    int sp = 0;
    const double* nums = NumsData();
    for (const Op& op : Code()) {
        switch (op.kind) {
            case Op::Num: stack[sp++] = nums[op.arg]; break;
            case Op::Var: stack[sp++] = value(op.arg); break;
            case Op::Neg: stack[sp - 1] = -stack[sp - 1]; break;
            case Op::Fn1: stack[sp - 1] = ApplyFn1(op.fn, stack[sp - 1]); break;
            default: {
                double b = stack[--sp], a = stack[sp - 1], r = 0;
                switch (op.kind) {
                    case Op::Add: r = a + b; break;
                    case Op::Sub: r = a - b; break;
                    case Op::Mul: r = a * b; break;
                    case Op::Div: r = a / b; break;
                    case Op::Pow: r = ApplyFn2(0, a, b); break;
                    default: r = ApplyFn2(op.fn, a, b); break;
                }
                stack[sp - 1] = r;
            }
        }
    }
    return sp == 1 ? stack[0] : 0.0;
}

}  // namespace zeq
