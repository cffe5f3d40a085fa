#include "channel/JsonWriter.h"

#include "channel/RequestParser.h"
#include "channel/Utf8.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace tarvio {

namespace {

void writeString(std::string_view text, std::string& out)
{
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    size_t runStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text, runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            out.append("\\u00");
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        }
    }
    out.append(text, runStart, text.size() - runStart);
    out.push_back('"');
}

void writeText(std::string_view text, std::string& out)
{
    // Handlers are meant to hand over valid UTF-8; a stray byte must not
    // cost the host its answer.
    if (isValidUtf8(text))
        return writeString(text, out);
    writeString(makeValidUtf8(text), out);
}

template<typename Number>
void writeNumber(Number number, std::string& out)
{
    char digits[32];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, result.ptr);
}

// Writes a scalar; returns false when it has no JSON form.
bool writeScalar(const Json& value, std::string& out)
{
    switch (value.type()) {
    case Json::value_t::null: out.append("null"); return true;
    case Json::value_t::boolean: out.append(value.get<bool>() ? "true" : "false"); return true;
    case Json::value_t::string: writeText(value.get_ref<const std::string&>(), out); return true;
    case Json::value_t::number_integer: writeNumber(value.get<int64_t>(), out); return true;
    case Json::value_t::number_unsigned: writeNumber(value.get<uint64_t>(), out); return true;
    case Json::value_t::number_float: {
        double number = value.get<double>();
        if (!std::isfinite(number))
            return false;
        writeNumber(number, out);
        return true;
    }
    case Json::value_t::binary: {
        // A request's number kept as its text is written back as it came.
        if (isRawNumber(value)) {
            out.append(rawNumberText(value));
            return true;
        }
        const auto& bytes = value.get_binary();
        if (!bytes.has_subtype() || bytes.subtype() != rawJsonSubtype)
            return false;
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
    }
    default: return false;
    }
}

struct Frame {
    const Json* container;
    Json::const_iterator next;
};

}

bool writeCompactJson(const Json& value, std::string& out)
{
    std::vector<Frame> stack;
    const Json* current = &value;
    while (true) {
        if (current) {
            if (current->is_object() || current->is_array()) {
                out.push_back(current->is_object() ? '{' : '[');
                stack.push_back({current, current->cbegin()});
            } else if (!writeScalar(*current, out))
                return false;
            current = nullptr;
        }
        if (stack.empty())
            return true;
        Frame& frame = stack.back();
        bool isObject = frame.container->is_object();
        if (frame.next == frame.container->cend()) {
            out.push_back(isObject ? '}' : ']');
            stack.pop_back();
            continue;
        }
        if (frame.next != frame.container->cbegin())
            out.push_back(',');
        if (isObject) {
            writeText(frame.next.key(), out);
            out.push_back(':');
        }
        current = &*frame.next;
        ++frame.next;
    }
}

void writeJsonString(std::string_view text, std::string& out)
{
    writeText(text, out);
}

}
