#include "channel/RequestParser.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace tarvio {

namespace {

// Binary values never come out of JSON text, so one of them can carry a
// number's text without being taken for anything a request sent.
constexpr std::uint64_t rawNumberSubtype = 0x4E;

bool isIntegerText(std::string_view text)
{
    return text.find_first_of(".eE") == std::string_view::npos;
}

// Builds the document like nlohmann's own DOM parser, keeping the text of
// the numbers described in the header.
class RequestBuilder {
public:
    // `replaced`: text of numbers the line held before they were swapped for
    // 0, by their position among all the line's numbers.
    explicit RequestBuilder(const std::map<size_t, std::string>& replaced) : replaced(replaced) {}

    Json root;
    bool overflow = false;

    bool null() { return add(nullptr); }
    bool boolean(bool value) { return add(value); }
    bool number_integer(Json::number_integer_t value) { return number(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return number(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        if (auto original = replacedText())
            return add(rawNumber(*original));
        // The parser reads an integer too long for 64 bits as a float.
        if (inId() || isIntegerText(text))
            return add(rawNumber(text));
        return add(value);
    }
    bool string(Json::string_t& value) { return add(std::move(value)); }
    bool binary(Json::binary_t& value) { return add(Json::binary(std::move(value))); }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool key(Json::string_t& name)
    {
        if (stack.size() == 1)
            topKeyIsId = name == "id";
        element = &(*stack.back())[name];
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        // 406: a number out of a double's range, which a second pass keeps
        // as text.
        overflow = error.id == 406;
        return false;
    }

private:
    bool inId() const { return topKeyIsId && !stack.empty(); }

    const std::string* replacedText()
    {
        auto found = replaced.find(numberIndex++);
        return found == replaced.end() ? nullptr : &found->second;
    }

    template <typename Integer>
    bool number(Integer value)
    {
        if (auto original = replacedText())
            return add(rawNumber(*original));
        return add(value);
    }

    Json* place(Json&& value)
    {
        if (stack.empty()) {
            root = std::move(value);
            return &root;
        }
        if (stack.back()->is_array()) {
            stack.back()->push_back(std::move(value));
            return &stack.back()->back();
        }
        *element = std::move(value);
        return element;
    }

    bool add(Json&& value)
    {
        place(std::move(value));
        return true;
    }

    bool open(Json&& container)
    {
        stack.push_back(place(std::move(container)));
        return true;
    }

    bool close()
    {
        stack.pop_back();
        if (stack.empty())
            topKeyIsId = false;
        return true;
    }

    const std::map<size_t, std::string>& replaced;
    size_t numberIndex = 0;
    std::vector<Json*> stack;
    Json* element = nullptr;
    bool topKeyIsId = false;
};

Json parseWith(std::string_view line, const std::map<size_t, std::string>& replaced, bool* overflow)
{
    RequestBuilder builder(replaced);
    bool parsed = Json::sax_parse(line.begin(), line.end(), &builder);
    if (overflow)
        *overflow = builder.overflow;
    if (!parsed)
        return Json(Json::value_t::discarded);
    return std::move(builder.root);
}

// The line with every number beyond a double's range written as 0, and the
// numbers' texts by their position among the line's numbers. Only called on
// a line the parser read up to such a number.
std::string withoutHugeNumbers(std::string_view line, std::map<size_t, std::string>& replaced)
{
    std::string result;
    result.reserve(line.size());
    size_t numberIndex = 0;
    for (size_t position = 0; position < line.size();) {
        char character = line[position];
        if (character == '"') {
            // Copy the string, escapes included, up to its closing quote.
            size_t end = position + 1;
            while (end < line.size() && line[end] != '"')
                end += line[end] == '\\' ? 2 : 1;
            end = std::min(end + 1, line.size());
            result.append(line.substr(position, end - position));
            position = end;
            continue;
        }
        if (character != '-' && (character < '0' || character > '9')) {
            result.push_back(character);
            ++position;
            continue;
        }
        size_t end = line.find_first_not_of("0123456789+-.eE", position);
        if (end == std::string_view::npos)
            end = line.size();
        std::string text(line.substr(position, end - position));
        if (std::isinf(std::strtod(text.c_str(), nullptr))) {
            replaced[numberIndex] = text;
            result.push_back('0');
        } else
            result.append(text);
        ++numberIndex;
        position = end;
    }
    return result;
}

}

Json rawNumber(std::string_view text)
{
    return Json::binary(std::vector<std::uint8_t>(text.begin(), text.end()), rawNumberSubtype);
}

bool isRawNumber(const Json& value)
{
    return value.is_binary() && value.get_binary().has_subtype() && value.get_binary().subtype() == rawNumberSubtype;
}

std::string_view rawNumberText(const Json& value)
{
    const auto& bytes = value.get_binary();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

Json parseRequestLine(std::string_view line)
{
    static const std::map<size_t, std::string> none;
    bool overflow = false;
    Json request = parseWith(line, none, &overflow);
    if (!overflow)
        return request;
    std::map<size_t, std::string> replaced;
    std::string rewritten = withoutHugeNumbers(line, replaced);
    return parseWith(rewritten, replaced, nullptr);
}

}
