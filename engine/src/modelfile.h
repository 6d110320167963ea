// The text model format: parsing into a ModelDef and writing one back.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "expr.h"
#include "modeldef.h"

namespace zeq {

// Where a model file's blocks go when they join a simulation: the prefix of the container that takes them
// and the variables already there, which their equations, connections and tags may name.
struct MergeTarget {
    std::string prefix;
    std::function<bool(std::string_view)> has_variable;  // by full name
};

// false with "line N: message" in error. Nesting deeper than 32 blocks is refused. Everything the model
// names must exist in it (or, with a merge target, in the simulation it joins).
// The check parses every equation: with `parsed` and no merge target, it keeps them there compiled as
// Simulation::Build(ModelDef&&, ...) would compile them from this model, so that the build need not parse
// them again (left empty for a model whose names the build resolves otherwise, see ModelCheck).
bool ParseModel(std::string_view text, ModelDef& out, std::string& error, const MergeTarget* into = nullptr,
                std::vector<ParsedEquation>* parsed = nullptr);
// ParseModel for the text of a model file, which it takes and frees once read: a model file may be hundreds
// of megabytes, and the model read from it is checked and its equations compiled without it.
bool ParseModelFile(std::string&& text, ModelDef& out, std::string& error, const MergeTarget* into = nullptr,
                    std::vector<ParsedEquation>* parsed = nullptr);
std::string WriteModel(const ModelDef& def);
// A single block (as SaveBlock writes it).
std::string WriteBlockFile(const BlockDef& block);
// False, nothing read and the reason in why for anything but a readable regular file.
bool ReadFile(const std::string& path, std::string& text, std::string* why = nullptr);
// Replaces the bytes of the file at path with text, or leaves it as it was and gives the system's reason in
// why (nuv::WriteFileWhole).
bool WriteFile(const std::string& path, const std::string& text, std::string* why = nullptr);
// Adds the block types of a library ("STANDARD" or a model file's path) to types.
bool LoadLibraryTypes(const std::string& name, std::vector<BlockDef>& types, std::string& error, int depth = 0);
// The built-in library "STANDARD" of block types.
const char* StandardLibraryText();

}  // namespace zeq
