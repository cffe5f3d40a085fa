#pragma once

#include "channel/Json.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvio {

// Appends the compact form of `value` to `out`: no white space, "/" and
// non-ASCII written as themselves. Returns false, leaving `out` unspecified,
// when the value is not valid JSON throughout (a NaN or infinite number, a
// binary value other than a request's number kept as text or raw JSON text
// below). Iterative, so any nesting the parser accepted is written.
bool writeCompactJson(const Json& value, std::string& out);

// Appends `text` as a JSON string, the way writeCompactJson writes one
// (invalid UTF-8 is mended first), for handlers that write their own text.
void writeJsonString(std::string_view text, std::string& out);

// A binary value of this subtype holds JSON text that a handler wrote
// itself and is written as it stands: a large result need not exist twice,
// once as a tree and once as text.
inline constexpr std::uint64_t rawJsonSubtype = 0x4A;

inline Json rawJson(std::vector<std::uint8_t> text)
{
    return Json::binary(std::move(text), rawJsonSubtype);
}

}
