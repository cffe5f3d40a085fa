#include "calendar/Text.h"

#include "channel/HelperError.h"

#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace tarvio {

namespace {

bool isSpaceSeparator(utf8proc_int32_t codePoint)
{
    return utf8proc_category(codePoint) == UTF8PROC_CATEGORY_ZS;
}

bool isWhitespaceOrNewline(utf8proc_int32_t codePoint)
{
    auto category = utf8proc_category(codePoint);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP
        || (codePoint >= 0x09 && codePoint <= 0x0D) || codePoint == 0x85;
}

template <typename Predicate>
std::string trim(std::string_view text, Predicate trimmed)
{
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t begin = 0, end = 0, position = 0;
    bool seenKept = false;
    while (position < size) {
        utf8proc_int32_t codePoint;
        auto length = utf8proc_iterate(bytes + position, size - position, &codePoint);
        if (length <= 0) {
            codePoint = -1;
            length = 1;
        }
        if (codePoint < 0 || !trimmed(codePoint)) {
            if (!seenKept)
                begin = position;
            seenKept = true;
            end = position + length;
        }
        position += length;
    }
    if (!seenKept)
        return {};
    return std::string(text.substr(begin, end - begin));
}

std::string normalFormC(std::string_view text)
{
    utf8proc_uint8_t* result = nullptr;
    auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
        static_cast<utf8proc_ssize_t>(text.size()), &result, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0)
        return std::string(text);
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(result, &std::free);
    return std::string(reinterpret_cast<char*>(result), static_cast<size_t>(length));
}

}

std::string trimWhitespacesAndNewlines(std::string_view text)
{
    return trim(text, isWhitespaceOrNewline);
}

std::string trimWhitespaces(std::string_view text)
{
    return trim(text, [](utf8proc_int32_t codePoint) { return codePoint == 0x09 || isSpaceSeparator(codePoint); });
}

size_t characterCount(std::string_view text)
{
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    size_t count = 0;
    for (utf8proc_ssize_t position = 0; position < size;) {
        utf8proc_int32_t codePoint;
        auto length = utf8proc_iterate(bytes + position, size - position, &codePoint);
        if (length <= 0) {
            codePoint = 0xFFFD;
            length = 1;
        }
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state))
            ++count;
        previous = codePoint;
        position += length;
    }
    return count;
}

bool canonicallyEqual(std::string_view left, std::string_view right)
{
    if (left == right)
        return true;
    return normalFormC(left) == normalFormC(right);
}

void refuseNul(const std::optional<std::string>& text, std::string_view name)
{
    if (text && hasNul(*text))
        throw invalidParams(std::string(name) + " não pode conter o caractere U+0000");
}

}
