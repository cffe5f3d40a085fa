#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvio::vdir {

// libical drops the leading and trailing white space of a value and the
// whole property when the value is empty. Free texts (SUMMARY, DESCRIPTION,
// LOCATION) must come back exactly as stored, so they are swapped for tokens
// before libical parses the text and read from the original bytes instead.
struct ProtectedText {
    std::string text;             // unfolded, texts replaced by tokens
    std::vector<std::string> raw; // the original escaped values, by token
};

ProtectedText protectTexts(std::string_view text);
// The unescaped text behind a token, or none when `value` is no token.
std::optional<std::string> protectedValue(const ProtectedText& texts, std::string_view value);
// Puts the original escaped values back into serialised text.
std::string restoreTexts(std::string serialised, const ProtectedText& texts);
// RFC 5545 TEXT unescaping: \\ \; \, \n \N.
std::string unescapeText(std::string_view raw);

}
