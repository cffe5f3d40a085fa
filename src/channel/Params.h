#pragma once

#include "channel/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvio {

// The parameter kinds. A member of the wrong type reads as absent: no kind
// raises an error of its own (only parseDate in Dates.h does).

// The member's value, or null when the object lacks it (or is not an object).
const Json* member(const Json& params, std::string_view name);

std::optional<std::string> stringParam(const Json& params, std::string_view name);
std::optional<double> numberParam(const Json& params, std::string_view name);
std::optional<int64_t> integerParam(const Json& params, std::string_view name);
std::optional<bool> booleanParam(const Json& params, std::string_view name);
std::optional<std::vector<std::string>> stringListParam(const Json& params, std::string_view name);
// Any number or boolean as a double, with no exactness test.
std::optional<double> numericOrBooleanParam(const Json& params, std::string_view name);
// Any array; the caller reads its elements.
const Json* listParam(const Json& params, std::string_view name);
bool isNullMember(const Json& params, std::string_view name);

// The same readings applied to a value rather than a member.
std::optional<std::string> asString(const Json* value);
std::optional<double> asNumber(const Json* value);
std::optional<int64_t> asInteger(const Json* value);
std::optional<bool> asBoolean(const Json* value);
std::optional<std::vector<std::string>> asStringList(const Json* value);
std::optional<double> asNumericOrBoolean(const Json* value);

struct Rectangle {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// {"x", "y", "width", "height"}, copied unchanged.
Json rect(const Rectangle& rectangle);

}
