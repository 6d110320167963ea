// The host's automation script language: one statement a line, run through IDispatch late binding.
// host/README.md describes it.
#pragma once
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "dispatch_client.h"

namespace host {

class ScriptRunner {
public:
    explicit ScriptRunner(std::ostream& out) : out_(out) {}

    // A variable every statement sees (the simulation, for one).
    void Define(const std::string& name, const VARIANT& value);
    // Stops a run after this many statements (0, the default: no limit), as a failure.
    void SetStatementLimit(long limit) { limit_ = limit; }
    // Runs the script's text; `name` labels its messages. Returns the number of failures: statements that
    // failed without an ExpectError, and Expect / ExpectError lines that did not hold.
    int Run(const std::string& text, const std::string& name);

private:
    struct Line {
        int number;
        std::string text;
    };
    void RunBlock(const std::vector<Line>& lines, size_t begin, size_t end, int depth);
    // Runs one statement; throws on failure.
    void Statement(const std::string& text, int depth);
    void Fail(int line, const std::string& message);

    std::ostream& out_;
    std::map<std::string, CComVariant> variables_;  // upper-cased names
    std::string name_;
    int failures_ = 0;
    long limit_ = 0;
    long executed_ = 0;
};

}  // namespace host
