// Random model files for round-trip tests: every statement and key of the text format, written in the many
// ways a person may write them (any case, quoted or bare words, escapes, comments, CRLF line ends), and
// valid as a whole, so that each opens. A comparison of models member by member goes with them.
#pragma once
#include <cstdint>
#include <string>

#include "modeldef.h"

namespace zeq::testing {

// A model file and the library file it loads block types from.
struct RandomModelFiles {
    std::string model;
    std::string library;  // to be stored at the path given to RandomModel
};

// The same seed gives the same files. The model loads the library from `library_path` (and STANDARD), defines
// plain and hierarchy types of its own, and places blocks of every kind of type among plain and unnamed
// blocks; it has names of every sort (blanks, quotes, backslashes, tabs, carriage returns and line feeds,
// '#', ':', '=' and empty ones), every parameter kind, ports, connections, objectives, tags, globals,
// solvers, a scope and a run mode.
RandomModelFiles RandomModel(uint32_t seed, const std::string& library_path);

// Where two models differ ("" when they do not): the first member or attribute that differs, with its path.
// Numbers are compared bit for bit, values by kind and content; the line numbers kept for messages are not
// compared.
std::string ModelDifference(const ModelDef& a, const ModelDef& b);

}  // namespace zeq::testing
