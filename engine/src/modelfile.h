// The text model format: parsing into a ModelDef and writing one back.
#pragma once
#include <string>
#include <string_view>

#include "modeldef.h"

namespace zeq {

// false with "line N: message" in error. Nesting deeper than 32 blocks is refused.
bool ParseModel(std::string_view text, ModelDef& out, std::string& error);
std::string WriteModel(const ModelDef& def);
// A single block (as SaveBlock writes it).
std::string WriteBlockFile(const BlockDef& block);
// False, nothing read and the reason in why for anything but a readable regular file.
bool ReadFile(const std::string& path, std::string& text, std::string* why = nullptr);
bool WriteFile(const std::string& path, const std::string& text);
// Adds the block types of a library ("STANDARD" or a model file's path) to types.
bool LoadLibraryTypes(const std::string& name, std::vector<BlockDef>& types, std::string& error, int depth = 0);
// The built-in library "STANDARD" of block types.
const char* StandardLibraryText();

}  // namespace zeq
