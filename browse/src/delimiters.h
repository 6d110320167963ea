// The path delimiter set shared by the tokenizer and the quoting rule.
#pragma once
#include <array>

namespace FI::detail {

inline constexpr char kPathDelimiters[] = "%#'&!|()[].=\"";

inline constexpr std::array<bool, 256> kIsPathDelimiter = [] {
    std::array<bool, 256> table{};
    for (const char* p = kPathDelimiters; *p != '\0'; ++p) table[static_cast<unsigned char>(*p)] = true;
    return table;
}();

inline bool IsPathDelimiter(char c) { return kIsPathDelimiter[static_cast<unsigned char>(c)]; }

}  // namespace FI::detail
