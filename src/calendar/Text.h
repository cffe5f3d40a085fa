#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvio {

// Without leading and trailing space separators (Zs), line and paragraph
// separators, U+0009 to U+000D and U+0085.
std::string trimWhitespacesAndNewlines(std::string_view text);
// Without leading and trailing space separators (Zs) and tabs; line breaks stay.
std::string trimWhitespaces(std::string_view text);
// User-perceived characters (extended grapheme clusters).
size_t characterCount(std::string_view text);
// Equal once both are in Unicode normal form C.
bool canonicallyEqual(std::string_view left, std::string_view right);

// Whether the text holds U+0000, which no calendar text can carry.
inline bool hasNul(std::string_view text)
{
    return text.find('\0') != std::string_view::npos;
}
// Refuses a text parameter holding U+0000 with invalid_params.
void refuseNul(const std::optional<std::string>& text, std::string_view name);

}
