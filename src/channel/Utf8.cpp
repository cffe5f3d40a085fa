#include "channel/Utf8.h"

#include <cstdint>
#include <cstring>
#include <utf8proc.h>

namespace tarvio {

namespace {

// Length of the well-formed sequence at `text[position]`, or 0 when the
// bytes there start an ill-formed one; `consumed` is how many bytes the
// ill-formed prefix covers (its maximal subpart).
size_t sequenceLength(std::string_view text, size_t position, size_t& consumed)
{
    auto byte = [&](size_t i) { return static_cast<uint8_t>(text[position + i]); };
    size_t available = text.size() - position;
    uint8_t lead = byte(0);
    consumed = 1;
    if (lead < 0x80)
        return 1;
    size_t length;
    uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if (i >= available)
            return 0;
        uint8_t continuation = byte(i);
        uint8_t min = i == 1 ? low : 0x80;
        uint8_t max = i == 1 ? high : 0xBF;
        if (continuation < min || continuation > max)
            return 0;
        consumed = i + 1;
    }
    return length;
}

size_t asciiPrefix(std::string_view text, size_t position)
{
    const size_t size = text.size();
    while (position + 8 <= size) {
        uint64_t word;
        std::memcpy(&word, text.data() + position, 8);
        if (word & 0x8080808080808080ull)
            break;
        position += 8;
    }
    while (position < size && static_cast<uint8_t>(text[position]) < 0x80)
        ++position;
    return position;
}

}

bool isValidUtf8(std::string_view text)
{
    size_t position = 0;
    while ((position = asciiPrefix(text, position)) < text.size()) {
        size_t consumed;
        size_t length = sequenceLength(text, position, consumed);
        if (!length)
            return false;
        position += length;
    }
    return true;
}

std::string makeValidUtf8(std::string_view text)
{
    if (isValidUtf8(text))
        return std::string(text);
    std::string valid;
    valid.reserve(text.size() + 16);
    size_t position = 0;
    while (position < text.size()) {
        size_t asciiEnd = asciiPrefix(text, position);
        valid.append(text, position, asciiEnd - position);
        position = asciiEnd;
        if (position == text.size())
            break;
        size_t consumed;
        size_t length = sequenceLength(text, position, consumed);
        if (length) {
            valid.append(text, position, length);
            position += length;
            continue;
        }
        valid.append("\xEF\xBF\xBD");
        position += consumed;
    }
    return valid;
}

bool isBlankLine(std::string_view line)
{
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(line.data());
    utf8proc_ssize_t position = 0, size = static_cast<utf8proc_ssize_t>(line.size());
    while (position < size) {
        if (bytes[position] == ' ' || bytes[position] == '\t') {
            ++position;
            continue;
        }
        utf8proc_int32_t codepoint;
        utf8proc_ssize_t length = utf8proc_iterate(bytes + position, size - position, &codepoint);
        if (length <= 0 || utf8proc_category(codepoint) != UTF8PROC_CATEGORY_ZS)
            return false;
        position += length;
    }
    return true;
}

}
