#include "calendar/vdir/IcsText.h"

#include <array>
#include <cctype>
#include <strings.h>

namespace tarvio::vdir {

namespace {

// U+FFFE and U+FFFF: noncharacters that no calendar text carries.
constexpr std::string_view tokenStart = "\xEF\xBF\xBE";
constexpr std::string_view tokenEnd = "\xEF\xBF\xBF";
constexpr std::array<std::string_view, 3> freeTexts {"SUMMARY", "DESCRIPTION", "LOCATION"};

std::string unfold(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 2 < text.size() && text[i + 1] == '\n' && (text[i + 2] == ' ' || text[i + 2] == '\t')) {
            i += 2;
            continue;
        }
        if (c == '\n' && i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t')) {
            i += 1;
            continue;
        }
        result += c;
    }
    return result;
}

bool isFreeText(std::string_view line)
{
    for (auto name : freeTexts) {
        if (line.size() > name.size() && ::strncasecmp(line.data(), name.data(), name.size()) == 0
            && (line[name.size()] == ':' || line[name.size()] == ';'))
            return true;
    }
    return false;
}

// Where the value starts: after the first colon outside quoted parameters.
size_t valueStart(std::string_view line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i + 1;
    }
    return std::string_view::npos;
}

}

ProtectedText protectTexts(std::string_view input)
{
    ProtectedText result;
    std::string text = unfold(input);
    result.text.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        size_t newline = text.find('\n', position);
        size_t lineEnd = newline == std::string::npos ? text.size() : newline;
        std::string_view line(text.data() + position, lineEnd - position);
        bool carriageReturn = !line.empty() && line.back() == '\r';
        if (carriageReturn)
            line.remove_suffix(1);
        size_t start = isFreeText(line) ? valueStart(line) : std::string_view::npos;
        if (start == std::string_view::npos) {
            result.text.append(text, position, lineEnd - position);
        } else {
            result.text.append(line.substr(0, start));
            result.text.append(tokenStart);
            result.text.append(std::to_string(result.raw.size()));
            result.text.append(tokenEnd);
            result.raw.emplace_back(line.substr(start));
            if (carriageReturn)
                result.text += '\r';
        }
        if (newline == std::string::npos)
            break;
        result.text += '\n';
        position = newline + 1;
    }
    return result;
}

std::optional<std::string> protectedValue(const ProtectedText& texts, std::string_view value)
{
    if (value.size() < tokenStart.size() + tokenEnd.size() + 1 || value.substr(0, tokenStart.size()) != tokenStart
        || value.substr(value.size() - tokenEnd.size()) != tokenEnd)
        return std::nullopt;
    auto digits = value.substr(tokenStart.size(), value.size() - tokenStart.size() - tokenEnd.size());
    size_t index = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        index = index * 10 + static_cast<size_t>(c - '0');
        if (index >= texts.raw.size())
            return std::nullopt;
    }
    return unescapeText(texts.raw[index]);
}

std::string restoreTexts(std::string serialised, const ProtectedText& texts)
{
    // Unfolded first, so that no fold splits a token.
    serialised = unfold(serialised);
    std::string result;
    result.reserve(serialised.size());
    size_t position = 0;
    while (position < serialised.size()) {
        size_t start = serialised.find(tokenStart, position);
        if (start == std::string::npos)
            break;
        size_t end = serialised.find(tokenEnd, start + tokenStart.size());
        if (end == std::string::npos)
            break;
        result.append(serialised, position, start - position);
        auto token = std::string_view(serialised).substr(start, end + tokenEnd.size() - start);
        size_t index = 0;
        bool valid = token.size() > tokenStart.size() + tokenEnd.size();
        for (char c : token.substr(tokenStart.size(), token.size() - tokenStart.size() - tokenEnd.size())) {
            valid = valid && std::isdigit(static_cast<unsigned char>(c));
            index = index * 10 + static_cast<size_t>(c - '0');
        }
        if (valid && index < texts.raw.size())
            result += texts.raw[index];
        else
            result.append(token);
        position = end + tokenEnd.size();
    }
    result.append(serialised, position, std::string::npos);
    return result;
}

std::string unescapeText(std::string_view raw)
{
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            text += raw[i];
            continue;
        }
        char next = raw[++i];
        if (next == 'n' || next == 'N')
            text += '\n';
        else
            text += next;
    }
    return text;
}

}
