#pragma once

#include "channel/Json.h"

#include <string>

namespace tarvio {

// Appends the compact form of `value` to `out`: no white space, "/" and
// non-ASCII written as themselves. Returns false, leaving `out` unspecified,
// when the value is not valid JSON throughout (a NaN or infinite number, a
// binary value other than a request's number kept as text). Iterative, so
// any nesting the parser accepted is written.
bool writeCompactJson(const Json& value, std::string& out);

}
