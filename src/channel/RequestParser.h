#pragma once

#include "channel/Json.h"

#include <string_view>

namespace tarvio {

// Parses one request line; the result is discarded (is_discarded()) when the
// line is not one JSON value.
//
// A number that neither a 64-bit integer nor a finite double holds (an
// integer beyond 64 bits, 1e400) is not rounded: it is kept as its text, a
// value that no parameter kind reads as a number. Every number inside the
// top-level "id" member keeps its text too, so the id is echoed digit for
// digit.
Json parseRequestLine(std::string_view line);

// A number kept as its text, and that text.
Json rawNumber(std::string_view text);
bool isRawNumber(const Json& value);
std::string_view rawNumberText(const Json& value);

}
