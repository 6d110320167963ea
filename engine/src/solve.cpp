// Solving: explicit assignments in dependency order, loops iterated by substitution with the solver's
// tolerance and iteration limit; run events, progress output, cancellation and sensitivities.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <queue>
#include <span>
#include <unordered_map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "model.h"
#include "events_internal.h"
#include "zeq_host.h"

namespace zeq {

namespace {

bool block_included(Block* b) {
    for (int depth = 0; b && depth < 64; ++depth) {
        if (!b->IsIncluded()) return false;
        b = b->Parent() ? b->Parent()->Owner() : nullptr;
    }
    return true;
}

std::string fmt(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", d);
    return buf;
}

struct Assignment {
    const Expr* rhs;       // from an equation, or null for a connection copy
    int target;            // variable position
    int source = -1;       // connection: variable copied
};

// Lists of positions in one array, list i being items[start[i], start[i + 1]): a million short lists
// (each assignment's inputs, each component) without a heap block apiece.
struct Lists {
    std::vector<int> start{0}, items;
    size_t size() const { return start.size() - 1; }
    std::span<int> operator[](size_t i) {
        return {items.data() + start[i], items.data() + start[i + 1]};
    }
    std::span<const int> operator[](size_t i) const {
        return {items.data() + start[i], items.data() + start[i + 1]};
    }
    void Close() { start.push_back(static_cast<int>(items.size())); }  // ends the list being added
};

// Tarjan's strongly connected components over assignments, iteratively (no recursion on model size).
Lists components(const Lists& deps) {
    int n = static_cast<int>(deps.size()), counter = 0;
    std::vector<int> index(n, -1), low(n, 0), stack;
    std::vector<bool> on(n, false);
    Lists out;
    out.start.reserve(static_cast<size_t>(n) + 1);
    out.items.reserve(static_cast<size_t>(n));
    struct Frame { int v; size_t next; };
    for (int s = 0; s < n; ++s) {
        if (index[s] >= 0) continue;
        std::vector<Frame> call{{s, 0}};
        index[s] = low[s] = counter++;
        stack.push_back(s);
        on[s] = true;
        while (!call.empty()) {
            Frame& f = call.back();
            if (f.next < deps[f.v].size()) {
                int w = deps[f.v][f.next++];
                if (index[w] < 0) {
                    index[w] = low[w] = counter++;
                    stack.push_back(w);
                    on[w] = true;
                    call.push_back({w, 0});
                } else if (on[w]) {
                    low[f.v] = std::min(low[f.v], index[w]);
                }
                continue;
            }
            int v = f.v;
            if (low[v] == index[v]) {
                int w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    on[w] = false;
                    out.items.push_back(w);
                } while (w != v);
                out.Close();
            }
            call.pop_back();
            if (!call.empty()) low[call.back().v] = std::min(low[call.back().v], low[v]);
        }
    }
    // Tarjan yields components with dependencies first.
    return out;
}

// Order of substitution inside a loop: whenever possible a member whose loop inputs are already computed
// (the earliest such), else the earliest remaining one, so that the first sweep already carries values around
// the loop. Linear in the loop's size and edges (up to the heap).
std::vector<int> LoopOrder(std::span<const int> members, const Lists& deps) {
    std::vector<int> comp(members.begin(), members.end());
    std::sort(comp.begin(), comp.end());
    std::unordered_map<int, int> slot;  // assignment -> position in comp
    slot.reserve(comp.size() * 2);
    for (size_t i = 0; i < comp.size(); ++i) slot[comp[i]] = static_cast<int>(i);
    std::vector<int> pending(comp.size(), 0);
    std::vector<std::vector<int>> dependents(comp.size());
    for (size_t i = 0; i < comp.size(); ++i)
        for (int d : deps[static_cast<size_t>(comp[i])]) {
            auto it = slot.find(d);
            if (it == slot.end() || it->second == static_cast<int>(i)) continue;
            ++pending[i];
            dependents[static_cast<size_t>(it->second)].push_back(static_cast<int>(i));
        }
    std::priority_queue<int, std::vector<int>, std::greater<int>> ready;
    for (size_t i = 0; i < comp.size(); ++i)
        if (pending[i] == 0) ready.push(static_cast<int>(i));
    std::vector<char> done(comp.size(), 0);
    std::vector<int> order;
    order.reserve(comp.size());
    size_t cursor = 0;
    while (order.size() < comp.size()) {
        int pick = -1;
        while (!ready.empty() && pick < 0) {
            int i = ready.top();
            ready.pop();
            if (!done[static_cast<size_t>(i)]) pick = i;
        }
        if (pick < 0) {
            while (done[cursor]) ++cursor;
            pick = static_cast<int>(cursor);
        }
        done[static_cast<size_t>(pick)] = 1;
        order.push_back(comp[static_cast<size_t>(pick)]);
        for (int dep : dependents[static_cast<size_t>(pick)])
            if (--pending[static_cast<size_t>(dep)] == 0 && !done[static_cast<size_t>(dep)]) ready.push(dep);
    }
    return order;
}

}  // namespace

int Simulation::RunSolve(const std::string& objective_name, bool quiet) {
    SetActiveSimulation(this);
    std::string scope_name = SolveScope() == flowsheet_.get() ? "Plant" : SolveScope()->Prefix();
    Journal("Solve " + scope_name);
    if (int r = TakeInjectedResult()) return r;
    // A cancel asks to stop a running solve or calculation: one requested before it began has nothing to
    // stop. Quiet solves are steps of a calculation, which clears it once at its start.
    if (!quiet) rtosignal_clear_ctrlc();
    if (!quiet) RaiseText(ZEQ_EVT_RUN_STARTED, scope_name, 0);
    // The callback may have changed the model: everything below is looked up afresh, and nothing reaches
    // client code (events, output) until the numbers are done.
    Container* scope = SolveScope();
    const Objective* objective = nullptr;
    bool objective_missing = false;
    if (!objective_name.empty()) {
        for (auto& o : objectives_)
            if (iequals(o.def.name, objective_name)) objective = &o;
        objective_missing = objective == nullptr;
    }
    std::vector<std::string> messages;
    auto Print = [&messages](std::string line) { messages.push_back(std::move(line)); };
    std::vector<int> changed;
    Print("Solving " + scope_name);

    int status = ZEQ_RUN_COMPLETED;
    int result = 0;
    Solver* solver = ActiveSolver();
    std::vector<double> before;
    int vfirst = scope->first_, vcount = scope->count_;
    if (!solver) {
        status = ZEQ_RUN_NO_SOLVER;
        result = ZEQ_E_NO_SOLVER;
        Print("No solver is defined");
    } else if (vcount == 0) {
        status = ZEQ_RUN_NO_VARIABLES;
        result = ZEQ_E_PROBLEM_EMPTY;
        Print("Problem is empty: no variables");
    }
    std::vector<int> eq_in_scope;
    std::vector<Connection*> conns;
    if (status == ZEQ_RUN_COMPLETED) {
        eq_in_scope.reserve(static_cast<size_t>(scope->eq_count_));
        for (int i = scope->eq_first_; i < scope->eq_first_ + scope->eq_count_; ++i) {
            Equation& e = eqns_[static_cast<size_t>(i)];
            if (e.owner && !block_included(e.owner)) continue;
            eq_in_scope.push_back(i);
        }
        std::vector<Container*> todo{scope};
        while (!todo.empty()) {
            Container* c = todo.back();
            todo.pop_back();
            for (auto& cn : c->Connections())
                if (cn->IsActive()) conns.push_back(cn.get());
            for (auto& b : c->Blocks())
                if (b->Sub()) todo.push_back(b->Sub());
        }
        if (eq_in_scope.empty() && conns.empty()) {
            status = ZEQ_RUN_NO_EQUATIONS;
            result = ZEQ_E_PROBLEM_EMPTY;
            Print("Problem is empty: no equations");
        }
    }
    if (status == ZEQ_RUN_COMPLETED) {
        const int maxiter = std::max(1, solver->GetIntParameter("MAXITER"));
        const double tol = solver->GetRealParameter("TOLERANCE") > 0 ? solver->GetRealParameter("TOLERANCE") : 1e-8;
        double damping = solver->GetRealParameter("DAMPING");
        if (!(damping > 0 && damping <= 1)) damping = 1;
        const int print = solver->GetIntParameter("PRINTLEVEL");
        before.reserve(static_cast<size_t>(vcount));
        for (int i = vfirst; i < vfirst + vcount; ++i) before.push_back(vars_[static_cast<size_t>(i)].value);

        // Assignments: an equation whose left side is one free variable not assigned yet; connections copy.
        std::vector<Assignment> assigns;
        assigns.reserve(eq_in_scope.size() + conns.size());
        std::vector<char> taken(vars_.size(), 0);
        std::vector<int> residual_only;
        for (int i : eq_in_scope) {
            Equation& e = eqns_[static_cast<size_t>(i)];
            if (!e.compiled) {
                Print("Equation " + e.name + " ignored: " + e.Extras().error);
                continue;
            }
            if (e.target >= 0 && !IsFixed(e.target) && !taken[static_cast<size_t>(e.target)]) {
                taken[static_cast<size_t>(e.target)] = 1;
                assigns.push_back(Assignment{&e.rhs, e.target});
            } else {
                residual_only.push_back(i);
            }
        }
        for (Connection* c : conns) {
            if (c->GetKind() != CONN_EQUALITY && c->GetKind() != CONN_MEAS_EQUALITY) continue;
            int from = FindVarIn(c->Owner(), c->Def().from);
            int to = FindVarIn(c->Owner(), c->Def().to);
            if (from < 0 || to < 0 || IsFixed(to) || taken[static_cast<size_t>(to)]) continue;
            taken[static_cast<size_t>(to)] = 1;
            assigns.push_back(Assignment{nullptr, to, from});
        }
        // Dependencies: assignment a reads the target of assignment b.
        Lists deps;
        {
            std::vector<int> owner(vars_.size(), -1);
            for (size_t a = 0; a < assigns.size(); ++a) owner[static_cast<size_t>(assigns[a].target)] = static_cast<int>(a);
            deps.start.reserve(assigns.size() + 1);
            for (size_t a = 0; a < assigns.size(); ++a) {
                if (assigns[a].rhs) {
                    for (int v : assigns[a].rhs->Vars())
                        if (owner[static_cast<size_t>(v)] >= 0) deps.items.push_back(owner[static_cast<size_t>(v)]);
                } else if (owner[static_cast<size_t>(assigns[a].source)] >= 0) {
                    deps.items.push_back(owner[static_cast<size_t>(assigns[a].source)]);
                }
                deps.Close();
            }
        }
        auto value_of = [this](int v) { return vars_[static_cast<size_t>(v)].value; };
        auto eval = [&](const Assignment& a) {
            return a.rhs ? a.rhs->EvalWith(value_of) : vars_[static_cast<size_t>(a.source)].value;
        };
        Lists comps = components(deps);
        for (size_t c = 0; c < comps.size(); ++c)
            if (std::span<int> comp = comps[c]; comp.size() > 1) {
                std::vector<int> order = LoopOrder(comp, deps);
                std::copy(order.begin(), order.end(), comp.begin());
            }
        std::vector<char> is_residual(eqns_.size(), 0);
        for (int i : residual_only) is_residual[static_cast<size_t>(i)] = 1;
        int loops = 0, total_iter = 0;
        bool cancelled = false;
        // One pass over the assignments in dependency order, loops iterated; then the residuals. quiet: no
        // progress messages (the optimiser's trial passes).
        auto pass = [&](bool quiet) {
            bool ok = true;
            loops = 0;
            for (size_t c = 0; c < comps.size(); ++c) {
                std::span<const int> comp = std::as_const(comps)[c];
                if (rtosignal_inq_ctrlc()) {
                    cancelled = true;
                    return false;
                }
                bool self_loop = comp.size() == 1 &&
                                 std::ranges::find(deps[static_cast<size_t>(comp[0])], comp[0]) != deps[static_cast<size_t>(comp[0])].end();
                if (comp.size() == 1 && !self_loop) {
                    const Assignment& a = assigns[static_cast<size_t>(comp[0])];
                    vars_[static_cast<size_t>(a.target)].value = eval(a);
                    continue;
                }
                // A loop: substitute until the largest relative change is within tolerance.
                ++loops;
                bool done = false;
                int iter = 0;
                for (; iter < maxiter && !done; ++iter) {
                    if (rtosignal_inq_ctrlc()) {
                        cancelled = true;
                        return false;
                    }
                    double change = 0;
                    for (int ai : comp) {
                        const Assignment& a = assigns[static_cast<size_t>(ai)];
                        double& x = vars_[static_cast<size_t>(a.target)].value;
                        double next = x + damping * (eval(a) - x);
                        const double scale = std::max(std::fabs(next), std::fabs(x));
                        change = std::max(change, scale > 0 ? std::fabs(next - x) / scale : 0.0);
                        x = next;
                    }
                    if (!std::isfinite(change)) break;
                    if (print > 0 && !quiet)
                        Print("  Loop " + std::to_string(loops) + " iteration " + std::to_string(iter + 1) +
                              ": largest change " + fmt(change));
                    done = change <= tol;
                }
                total_iter += iter;
                if (!done) {
                    ok = false;
                    if (!quiet)
                        Print("  Loop " + std::to_string(loops) + " did not converge in " + std::to_string(iter) +
                              " iterations");
                }
            }
            // Residuals of every equation in scope; the ones not used as assignments must hold.
            double worst = 0;
            for (int i : eq_in_scope) {
                Equation& e = eqns_[static_cast<size_t>(i)];
                if (!e.compiled) continue;
                double l = e.Lhs(value_of), r = e.rhs.EvalWith(value_of);
                e.residual = l - r;
                if (is_residual[static_cast<size_t>(i)])
                    worst = std::max(worst, std::fabs(e.residual) / std::max(1.0, std::fabs(l)));
            }
            if (worst > std::max(tol, 1e-6) || !std::isfinite(worst)) {
                ok = false;
                if (!quiet) Print("  Equations not satisfied: largest scaled residual " + fmt(worst));
            }
            for (int i = vfirst; i < vfirst + vcount; ++i)
                if (!std::isfinite(vars_[static_cast<size_t>(i)].value)) ok = false;
            return ok;
        };
        bool converged = pass(false);
        // Optimisation mode: a bounded pattern search over the free decision variables of the scope.
        if (converged && !cancelled && objective && objective->ok && rto_inq_mode_c() == ZEQ_MODE_OPTIMIZATION) {
            std::vector<int> decisions;
            for (int i = vfirst; i < vfirst + vcount; ++i)
                if (IsIndependent(i) && !taken[static_cast<size_t>(i)]) decisions.push_back(i);
            const double sense = objective->def.maximize ? -1.0 : 1.0;
            auto cost = [&] { return sense * objective->expr.EvalWith(value_of); };
            double best = cost();
            std::vector<double> steps;
            for (int d : decisions) {
                const Variable& v = vars_[static_cast<size_t>(d)];
                steps.push_back(v.Extras().step > 0 ? v.Extras().step : 0.1 * std::max(1.0, std::fabs(v.value)));
            }
            std::vector<double> saved(static_cast<size_t>(vcount));
            int evaluations = 0;
            const int limit = std::max(200, 20 * maxiter * static_cast<int>(decisions.size()));
            while (std::isfinite(best) && !decisions.empty() && evaluations < limit && !cancelled) {
                bool improved = false;
                for (size_t k = 0; k < decisions.size() && !improved && evaluations < limit; ++k) {
                    Variable& v = vars_[static_cast<size_t>(decisions[k])];
                    for (double dir : {1.0, -1.0}) {
                        double x = v.value, trial = std::clamp(x + dir * steps[k], v.lower, v.upper);
                        if (trial == x) continue;
                        for (int i = 0; i < vcount; ++i) saved[static_cast<size_t>(i)] = vars_[static_cast<size_t>(vfirst + i)].value;
                        v.value = trial;
                        ++evaluations;
                        double c = pass(true) ? cost() : NAN;
                        if (std::isfinite(c) && c < best - 1e-12 * std::max(1.0, std::fabs(best))) {
                            best = c;
                            improved = true;
                            break;
                        }
                        for (int i = 0; i < vcount; ++i) vars_[static_cast<size_t>(vfirst + i)].value = saved[static_cast<size_t>(i)];
                    }
                }
                if (!improved) {
                    bool small = true;
                    for (size_t k = 0; k < steps.size(); ++k) {
                        steps[k] *= 0.5;
                        small = small && steps[k] <= 1e-9 * std::max(1.0, std::fabs(vars_[static_cast<size_t>(decisions[k])].value));
                    }
                    if (small) break;
                }
            }
            if (!decisions.empty()) {
                converged = pass(true);
                Print("Optimisation of " + objective->def.name + ": " + std::to_string(decisions.size()) +
                      " decision variables, " + std::to_string(evaluations) + " evaluations");
            }
        }
        // A variable's quantities are finite: one that the solve took to an infinity or NaN (the solve has
        // then failed) keeps its value from before, which a save writes and an open reads back as it is.
        for (int i = vfirst; i < vfirst + vcount; ++i) {
            double& value = vars_[static_cast<size_t>(i)].value;
            if (!std::isfinite(value)) value = before[static_cast<size_t>(i - vfirst)];
        }
        for (int i = vfirst; i < vfirst + vcount && !quiet; ++i) {
            Variable& v = vars_[static_cast<size_t>(i)];
            v.active_bound = v.value <= v.lower ? ACTIVE_LOWER : v.value >= v.upper ? ACTIVE_UPPER : ACTIVE_NONE;
        }
        if (cancelled) {
            rtosignal_clear_ctrlc();
            status = ZEQ_RUN_NOT_CONVERGED;
            result = ZEQ_E_CANCELLED;
            Print("Solve cancelled");
        } else if (!converged) {
            status = ZEQ_RUN_NOT_CONVERGED;
            result = ZEQ_E_NOT_CONVERGED;
            Print("Solution failed to converge");
        } else {
            Print("Solution converged: " + std::to_string(assigns.size()) + " assignments, " +
                  std::to_string(loops) + " loops, " + std::to_string(total_iter) + " iterations");
        }
        if ((objective || objective_missing) && status == ZEQ_RUN_COMPLETED) {
            double value = objective && objective->ok ? objective->expr.EvalWith(value_of) : NAN;
            if (!std::isfinite(value)) {
                status = ZEQ_RUN_OBJECTIVE_ERROR;
                result = ZEQ_E_OBJECTIVE_ERROR;
                Print("Objective " + objective_name + " cannot be evaluated" +
                      (!objective || objective->error.empty() ? std::string() : ": " + objective->error));
            } else {
                Print("Objective " + objective->def.name + " = " + fmt(value));
            }
        }
        // History, and the variables that moved (listed only for a variable event callback to hear).
        if (!quiet) time_ += 1;
        const bool list_moved = !quiet && rtoevent_has_callback(ZEQ_EVT_VARIABLE);
        for (int i = vfirst; i < vfirst + vcount && !quiet; ++i) {
            Variable& v = vars_[static_cast<size_t>(i)];
            double old = before[static_cast<size_t>(i - vfirst)];
            if (VarProfile* p = v.Extras().profile.get(); p && p->Active()) p->Record(time_, v.value);
            if (v.value != old) {
                v.change = v.value - old;
                if (list_moved) changed.push_back(i);
            }
        }
    }
    if (quiet) return result;
    // Names of the moved variables are copied before anything reaches client code: output and callbacks
    // may change the model under the remaining ones.
    std::vector<std::string> names;
    if (!changed.empty() && rtoevent_has_callback(ZEQ_EVT_VARIABLE)) {
        names.reserve(changed.size());
        for (int i : changed) names.push_back(vars_[static_cast<size_t>(i)].name);
    }
    for (std::string& line : messages) this->Print(line);
    if (status == ZEQ_RUN_COMPLETED || status == ZEQ_RUN_NOT_CONVERGED || status == ZEQ_RUN_OBJECTIVE_ERROR) {
        // Variable events bracketed as one block category.
        if (!names.empty()) {
            RaiseText(ZEQ_EVT_BLOCKCAT1_BEGIN, scope_name, 0);
            for (std::string& n : names) RaiseText(ZEQ_EVT_VARIABLE, std::move(n), ZEQ_HINT_VALUE);
            RaiseText(ZEQ_EVT_BLOCKCAT1_END, scope_name, 0);
        }
        RaiseText(ZEQ_EVT_FLOWSHEET, scope_name, ZEQ_HINT_VALUE);
    }
    {
        // The flush may hand a line to client code: with the lock let go, as every write.
        WriteOrigin origin(this);
        Callout out;
        rtoflush(rtostdout_current());
    }
    RaiseText(ZEQ_EVT_RUN_FINISHED, std::move(scope_name), status);
    return result;
}

int Simulation::Advance(double time) {
    zeq::EngineCall call;
    if (time < time_) return E_INVALIDARG;
    // Due tasks of every scope in time order, copied and marked done before any of them runs: a solve reaches
    // client code, which may change the task lists.
    struct Due {
        double time;
        std::string name;
        std::vector<std::pair<std::string, double>> sets;
    };
    std::vector<Due> due;
    for (auto& d : dynamic_)
        for (auto& t : d->MutableTasks())
            if (t.active && !t.done && t.time <= time) {
                due.push_back(Due{t.time, t.name, t.sets});
                t.done = true;
            }
    std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.time < b.time; });
    int result = 0;
    for (const Due& task : due) {
        for (auto& [name, value] : task.sets) {
            int p = FindVar(name);
            if (p < 0 || !std::isfinite(ValueToBase(p, value))) continue;
            vars_[static_cast<size_t>(p)].value = ValueToBase(p, value);
            VariableChanged(p, ZEQ_HINT_VALUE);
        }
        Print("Task " + task.name + " applied at time " + fmt(task.time));
        time_ = std::max(time_, task.time - 1);
        int r = RunSolve(std::string());
        if (r < 0) result = r;
    }
    time_ = std::max(time_, time);
    return result;
}

int Simulation::Solve() {
    zeq::EngineCall call;
    return RunSolve(default_objective_.Get());
}

int Simulation::SolveWithObjective(const char* objective) {
    zeq::EngineCall call;
    if (!objective || !*objective || iequals(objective, "NONE")) return RunSolve(std::string());
    for (auto& o : objectives_)
        if (iequals(o.def.name, objective)) return RunSolve(o.def.name);
    Journal(std::string("SolveWithObjective ") + objective);
    return ZEQ_E_UNKNOWN_OBJECTIVE_SOLVE;
}

// ---- commands ----

namespace {
std::vector<std::string> split_words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}
}  // namespace

int Simulation::ExecuteCommand(const char* text) {
    zeq::EngineCall call;
    std::string line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    Journal("ExecuteCommand " + line);
    if (!hooks.throwing_command.empty() && line.compare(0, hooks.throwing_command.size(), hooks.throwing_command) == 0)
        throw std::runtime_error("command failed: " + line);
    RaiseText(ZEQ_EVT_COMMAND_START, line, 0);
    std::vector<std::string> w = split_words(line);
    int result = 0;
    auto find_var = [&](const std::string& name) {
        Container* c = scopes_.empty() ? flowsheet_.get() : scopes_.back();
        int p = FindVarIn(c, name);
        return p >= 0 ? p : FindVar(name);
    };
    if (w.empty() || w[0][0] == '#') {
        // nothing to do
    } else if (iequals(w[0], "solve")) {
        result = w.size() >= 3 && iequals(w[1], "objective") ? SolveWithObjective(w[2].c_str()) : Solve();
    } else if (iequals(w[0], "set") && w.size() >= 3) {
        int p = find_var(w[1]);
        char* end = nullptr;
        double d = std::strtod(w[w.size() - 1].c_str(), &end);
        if (p < 0) {
            Print("Unknown variable " + w[1]);
            result = ZEQ_E_NOT_FOUND;
        } else if (!end || *end || !std::isfinite(d)) {
            Print("Bad value " + w.back());
            result = ZEQ_E_SYNTAX;
        } else if (!std::isfinite(ValueToBase(p, d))) {
            Print("Value " + w.back() + " is out of range in base units");
            result = ZEQ_E_REFUSED;
        } else {
            vars_[static_cast<size_t>(p)].value = ValueToBase(p, d);
            vars_[static_cast<size_t>(p)].modified |= VA_VALUE;
            VariableChanged(p, ZEQ_HINT_VALUE);
        }
    } else if (iequals(w[0], "spec") && w.size() == 3) {
        int p = find_var(w[1]);
        ZEQVariableData rec;
        rec.mask.Set(VA_SPEC);
        if (p < 0) {
            Print("Unknown variable " + w[1]);
            result = ZEQ_E_NOT_FOUND;
        } else if (!rec.Load(flowsheet_.get(), nullptr, p + 1, true) || !rec.SetValue(VA_SPEC, w[2].c_str())) {
            Print("Unknown variable spec " + w[2]);
            result = ZEQ_E_SYNTAX;
        } else {
            result = rec.Commit(flowsheet_.get(), nullptr, p + 1, true);
        }
    } else if (iequals(w[0], "print") && w.size() == 2) {
        int p = find_var(w[1]);
        if (p < 0) {
            Print("Unknown variable " + w[1]);
            result = ZEQ_E_NOT_FOUND;
        } else {
            Print(vars_[static_cast<size_t>(p)].name + " = " + fmt(ValueInUnits(p, vars_[static_cast<size_t>(p)].value)) +
                  " " + UnitName(p));
        }
    } else if (iequals(w[0], "mode") && w.size() == 2) {
        static const char* const names[] = {"SIMULATION", "PARAMETER_ESTIMATION", "DATA_RECONCILIATION", "OPTIMIZATION"};
        int m = -1;
        for (int i = 0; i < 4; ++i)
            if (iequals(w[1], names[i]) || w[1] == std::to_string(i)) m = i;
        result = m < 0 ? ZEQ_E_SYNTAX : rto_set_mode_c(m);
        if (m < 0) Print("Unknown run mode " + w[1]);
    } else if ((iequals(w[0], "include") || iequals(w[0], "exclude")) && w.size() == 2) {
        Block* b = flowsheet_->FindBlockPath(w[1]);
        if (!b) {
            Print("Unknown block " + w[1]);
            result = ZEQ_E_NOT_FOUND;
        } else {
            bool on = iequals(w[0], "include");
            b->SetIncluded(on);
            RaiseText(ZEQ_EVT_INCLUSION, b->Prefix(), on ? 1 : 0);
        }
    } else if (iequals(w[0], "objective") && w.size() == 2) {
        result = SetDefaultObjective(w[1].c_str());
        if (result < 0) Print("Unknown objective " + w[1]);
    } else if (iequals(w[0], "scope") && w.size() == 2) {
        result = SetSolverScope(w[1].c_str());
        if (result < 0) Print("Unknown scope " + w[1]);
    } else if (iequals(w[0], "rename") && w.size() == 3) {
        Block* b = flowsheet_->FindBlockPath(w[1]);
        result = b ? RenameBlock(b, w[2]) : ZEQ_E_NOT_FOUND;
        if (result < 0) Print("Cannot rename " + w[1] + " to " + w[2]);
    } else if (iequals(w[0], "advance") && w.size() == 2) {
        char* end = nullptr;
        double t = std::strtod(w[1].c_str(), &end);
        result = end && *end == 0 && std::isfinite(t) ? Advance(t) : ZEQ_E_SYNTAX;
    } else if (iequals(w[0], "echo")) {
        Print(line.size() > 5 ? line.substr(5) : std::string());
    } else {
        Print("Unknown command: " + w[0]);
        result = ZEQ_E_SYNTAX;
    }
    RaiseText(ZEQ_EVT_COMMAND_END, std::move(line), 0);
    return result;
}

// ---- sensitivity ----

int Simulation::CalculateSensitivity(const char* objective, const int* dependent, int d, const int* independent,
                                     int k, const double* depFactors, const double* indepFactors, double* results,
                                     int* flags, double* extra) {
    zeq::EngineCall call;
    Journal("CalculateSensitivity");
    if (int r = TakeInjectedResult()) return r;
    if (!dependent || !independent || !results || !flags || d < 1 || k < 1) return ZEQ_E_SENS_ARGS;
    int n = static_cast<int>(vars_.size());
    for (int i = 0; i < d; ++i)
        if (dependent[i] < 1 || dependent[i] > n) return ZEQ_E_SENS_ARGS;
    for (int j = 0; j < k; ++j)
        if (independent[j] < 1 || independent[j] > n) return ZEQ_E_SENS_ARGS;
    const Objective* obj = nullptr;
    if (objective && *objective && !iequals(objective, "NONE")) {
        for (auto& o : objectives_)
            if (iequals(o.def.name, objective)) obj = &o;
        if (!obj) return ZEQ_E_UNKNOWN_OBJECTIVE_SOLVE;
    }
    // Finite differences around the current solution by quiet solves: nobody is told, nothing is recorded,
    // and every value and residual is put back afterwards.
    std::vector<double> saved, residuals;
    saved.reserve(vars_.size());
    residuals.reserve(eqns_.size());
    for (auto& v : vars_) saved.push_back(v.value);
    for (auto& e : eqns_) residuals.push_back(e.residual);
    auto restore = [&] {
        for (size_t i = 0; i < vars_.size(); ++i) vars_[i].value = saved[i];
        for (size_t i = 0; i < eqns_.size(); ++i) eqns_[i].residual = residuals[i];
    };
    auto quiet_solve = [&]() { return RunSolve(std::string(), true); };
    rtosignal_clear_ctrlc();  // a cancel from before the calculation has nothing to stop
    auto value_of = [this](int v) { return vars_[static_cast<size_t>(v)].value; };
    auto objective_value = [&]() { return obj && obj->ok ? obj->expr.EvalWith(value_of) : 0.0; };
    if (quiet_solve() < 0) {
        restore();
        return ZEQ_E_SENS_SOLVE;
    }
    std::vector<double> base(static_cast<size_t>(d));
    for (int i = 0; i < d; ++i) base[static_cast<size_t>(i)] = vars_[static_cast<size_t>(dependent[i] - 1)].value;
    double base_obj = objective_value();
    std::vector<double> solved;
    for (auto& v : vars_) solved.push_back(v.value);
    for (int i = 0; i <= d; ++i) flags[i] = 1;
    if (!obj) flags[d] = 0;
    int result = 0;
    for (int j = 0; j < k; ++j) {
        int p = independent[j] - 1;
        double x = solved[static_cast<size_t>(p)];
        double h = 1e-6 * std::max(1.0, std::fabs(x));
        for (size_t i = 0; i < vars_.size(); ++i) vars_[i].value = solved[i];
        vars_[static_cast<size_t>(p)].value = x + h;
        if (quiet_solve() < 0) {
            result = ZEQ_E_SENS_SINGULAR;
            for (int i = 0; i <= d; ++i) flags[i] = 0;
            break;
        }
        double fj = indepFactors ? indepFactors[j] : 1.0;
        for (int i = 0; i < d; ++i) {
            double fi = depFactors && depFactors[i] != 0 ? depFactors[i] : 1.0;
            double deriv = (vars_[static_cast<size_t>(dependent[i] - 1)].value - base[static_cast<size_t>(i)]) / h;
            results[static_cast<size_t>(i) * static_cast<size_t>(k) + static_cast<size_t>(j)] = deriv * fj / fi;
        }
        results[static_cast<size_t>(d) * static_cast<size_t>(k) + static_cast<size_t>(j)] =
            obj ? (objective_value() - base_obj) / h * fj : 0.0;
    }
    if (extra) *extra = base_obj;
    restore();
    return result;
}

}  // namespace zeq
