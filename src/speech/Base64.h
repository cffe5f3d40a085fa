#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tarvio {

// Strict standard Base64: RFC 4648 alphabet, padding required, no other
// character anywhere (no whitespace, no URL-safe letters).

// The decoded length of `text`, or none when its shape is not valid
// (length not a multiple of four, misplaced padding). Characters are checked
// only by decodeBase64Into.
std::optional<size_t> base64DecodedSize(std::string_view text);

// Decodes `text` into `out`, which holds base64DecodedSize(text) bytes;
// false on any character outside the alphabet.
bool decodeBase64Into(std::string_view text, std::byte* out);

}
