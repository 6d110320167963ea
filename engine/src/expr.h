// Arithmetic expressions over variables: parsed once into postfix code, evaluated on base-unit values.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zeq {

struct Op {
    enum Kind : unsigned char { Num, Var, Neg, Add, Sub, Mul, Div, Pow, Fn1, Fn2 } kind;
    unsigned char fn = 0;
    int var = 0;  // 0-based variable position
    double num = 0;
};

struct Expr {
    std::vector<Op> code;
    std::vector<int> vars;  // positions read, without repeats
    double Eval(const std::function<double(int)>& value) const;
    template <class F>
    double EvalWith(F&& value) const;
};

// Resolves a name to a 0-based variable position; -1 when unknown.
using Resolver = std::function<int(std::string_view)>;

// Parses text into out; false with a message in error.
bool ParseExpr(std::string_view text, const Resolver& resolve, Expr& out, std::string& error);
// Splits "lhs = rhs" at the top-level '='; false when there is none.
bool SplitEquation(std::string_view text, std::string_view& lhs, std::string_view& rhs);

double ApplyFn1(int fn, double x);
double ApplyFn2(int fn, double x, double y);

template <class F>
double Expr::EvalWith(F&& value) const {
    double stack[256];
    int sp = 0;
    for (const Op& op : code) {
        switch (op.kind) {
            case Op::Num: stack[sp++] = op.num; break;
            case Op::Var: stack[sp++] = value(op.var); break;
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
