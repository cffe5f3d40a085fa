#include "speech/whisper/Vocabulary.h"

#include <algorithm>
#include <cctype>

namespace tarvio::whisper {

const std::vector<std::string>& languageCodes()
{
    static const std::vector<std::string> codes = {"en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr", "pl",
        "ca", "nl", "ar", "sv", "it", "id", "hi", "fi", "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no",
        "th", "ur", "hr", "bg", "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr", "az", "sl", "kn", "et",
        "mk", "br", "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw", "gl", "mr", "pa", "si", "km", "sn", "yo", "so",
        "af", "oc", "ka", "be", "tg", "sd", "gu", "am", "yi", "lo", "uz", "fo", "ht", "ps", "tk", "nn", "mt", "sa", "lb",
        "my", "bo", "tl", "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su", "yue"};
    return codes;
}

Vocabulary::Vocabulary(std::vector<std::string> storedTokens, int size) : tokens(std::move(storedTokens)), vocabularySize(size)
{
    if (multilingual()) {
        ++endOfText;
        ++startOfTranscript;
        int shift = languageCount() - 98;
        for (int* token : {&translate, &transcribe, &startOfLm, &previous, &noSpeech, &noTimestamps, &timestampBegin})
            *token += shift;
    }
    for (size_t id = 0; id < tokens.size(); ++id) {
        ids.emplace(tokens[id], static_cast<int>(id));
        longest = std::max(longest, tokens[id].size());
    }
}

int Vocabulary::languageCount() const
{
    if (!multilingual())
        return 1;
    return std::clamp(vocabularySize - 51765 - 1, 0, static_cast<int>(languageCodes().size()));
}

std::vector<std::string> Vocabulary::languages() const
{
    const auto& codes = languageCodes();
    return {codes.begin(), codes.begin() + languageCount()};
}

std::optional<int> Vocabulary::languageToken(const std::string& code) const
{
    auto known = languages();
    auto found = std::find(known.begin(), known.end(), code);
    if (found == known.end())
        return std::nullopt;
    if (!multilingual())
        return std::nullopt;
    return startOfTranscript + 1 + static_cast<int>(found - known.begin());
}

std::string_view Vocabulary::text(int token) const
{
    if (token < 0 || token >= endOfText || static_cast<size_t>(token) >= tokens.size())
        return {};
    return tokens[static_cast<size_t>(token)];
}

std::optional<int> Vocabulary::find(std::string_view text) const
{
    auto found = ids.find(text);
    if (found == ids.end())
        return std::nullopt;
    return found->second;
}

std::vector<int> Vocabulary::tokenize(std::string_view text) const
{
    // Words keep their leading space, as the model's own tokens do; then
    // each word is split into the longest known pieces.
    std::vector<std::string_view> words;
    size_t start = 0;
    for (size_t i = 1; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ') {
            if (i > start)
                words.push_back(text.substr(start, i - start));
            start = i;
        }
    }
    std::vector<int> result;
    for (auto word : words) {
        size_t position = 0;
        while (position < word.size()) {
            size_t length = std::min(longest, word.size() - position);
            for (; length > 0; --length) {
                if (auto id = find(word.substr(position, length)); id && *id < endOfText) {
                    result.push_back(*id);
                    break;
                }
            }
            // A byte the vocabulary lacks is dropped.
            position += std::max<size_t>(length, 1);
        }
    }
    return result;
}

}
