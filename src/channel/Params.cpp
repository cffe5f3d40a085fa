#include "channel/Params.h"

#include <cmath>

namespace tarvio {

namespace {

constexpr double twoTo63 = 9223372036854775808.0;

bool doubleHoldsExactly(int64_t value)
{
    double asDouble = static_cast<double>(value);
    if (asDouble >= twoTo63)
        return false;
    return static_cast<int64_t>(asDouble) == value;
}

bool doubleHoldsExactly(uint64_t value)
{
    double asDouble = static_cast<double>(value);
    if (asDouble >= 2 * twoTo63)
        return false;
    return static_cast<uint64_t>(asDouble) == value;
}

}

const Json* member(const Json& params, std::string_view name)
{
    if (!params.is_object())
        return nullptr;
    auto found = params.find(name);
    if (found == params.end())
        return nullptr;
    return &*found;
}

std::optional<std::string> asString(const Json* value)
{
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get_ref<const std::string&>();
}

std::optional<double> asNumber(const Json* value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1.0 : 0.0;
    if (value->is_number_unsigned()) {
        auto integral = value->get<uint64_t>();
        if (!doubleHoldsExactly(integral))
            return std::nullopt;
        return static_cast<double>(integral);
    }
    if (value->is_number_integer()) {
        auto integral = value->get<int64_t>();
        if (!doubleHoldsExactly(integral))
            return std::nullopt;
        return static_cast<double>(integral);
    }
    if (value->is_number_float())
        return value->get<double>();
    return std::nullopt;
}

std::optional<int64_t> asInteger(const Json* value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1 : 0;
    if (value->is_number_unsigned()) {
        auto integral = value->get<uint64_t>();
        if (integral > static_cast<uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<int64_t>(integral);
    }
    if (value->is_number_integer())
        return value->get<int64_t>();
    if (!value->is_number_float())
        return std::nullopt;
    double floating = value->get<double>();
    if (!std::isfinite(floating) || std::trunc(floating) != floating)
        return std::nullopt;
    if (floating < -twoTo63 || floating >= twoTo63)
        return std::nullopt;
    return static_cast<int64_t>(floating);
}

std::optional<bool> asBoolean(const Json* value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>();
    if (!value->is_number())
        return std::nullopt;
    double number = value->get<double>();
    if (number == 1)
        return true;
    if (number == 0)
        return false;
    return std::nullopt;
}

std::optional<std::vector<std::string>> asStringList(const Json* value)
{
    if (!value || !value->is_array())
        return std::nullopt;
    std::vector<std::string> list;
    list.reserve(value->size());
    for (const auto& element : *value) {
        if (!element.is_string())
            return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

std::optional<double> asNumericOrBoolean(const Json* value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1.0 : 0.0;
    if (value->is_number())
        return value->get<double>();
    return std::nullopt;
}

std::optional<std::string> stringParam(const Json& params, std::string_view name) { return asString(member(params, name)); }
std::optional<double> numberParam(const Json& params, std::string_view name) { return asNumber(member(params, name)); }
std::optional<int64_t> integerParam(const Json& params, std::string_view name) { return asInteger(member(params, name)); }
std::optional<bool> booleanParam(const Json& params, std::string_view name) { return asBoolean(member(params, name)); }
std::optional<std::vector<std::string>> stringListParam(const Json& params, std::string_view name) { return asStringList(member(params, name)); }
std::optional<double> numericOrBooleanParam(const Json& params, std::string_view name) { return asNumericOrBoolean(member(params, name)); }

const Json* listParam(const Json& params, std::string_view name)
{
    const Json* value = member(params, name);
    if (!value || !value->is_array())
        return nullptr;
    return value;
}

bool isNullMember(const Json& params, std::string_view name)
{
    const Json* value = member(params, name);
    return value && value->is_null();
}

Json rect(const Rectangle& rectangle)
{
    Json object = Json::object();
    object["x"] = rectangle.x;
    object["y"] = rectangle.y;
    object["width"] = rectangle.width;
    object["height"] = rectangle.height;
    return object;
}

}
