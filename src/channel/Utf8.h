#pragma once

#include <string>
#include <string_view>

namespace tarvio {

// Copies `text`, replacing each maximal ill-formed subsequence with U+FFFD,
// so the result is always valid UTF-8.
std::string makeValidUtf8(std::string_view text);
bool isValidUtf8(std::string_view text);

// True when `line` (valid UTF-8) holds nothing but tabs and space separators
// (Unicode category Zs). Line breaks and other controls are not blank.
bool isBlankLine(std::string_view line);

}
