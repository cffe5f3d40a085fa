#include "speech/pocketsphinx/VocabularyModel.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <utf8proc.h>

namespace tarvio::pocketsphinx {

namespace {

constexpr double discount = 0.5;

bool isWordCharacter(utf8proc_int32_t codepoint)
{
    switch (utf8proc_category(codepoint)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ND:
        return true;
    default:
        return false;
    }
}

void appendCodepoint(std::string& text, utf8proc_int32_t codepoint)
{
    utf8proc_uint8_t bytes[4];
    auto length = utf8proc_encode_char(codepoint, bytes);
    text.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

std::string logText(double probability)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", std::log10(probability));
    return text;
}

}

std::vector<std::string> phraseWords(const std::string& phrase)
{
    std::vector<std::string> words;
    std::string current;
    auto flush = [&] {
        // Joiners at either end are not part of the word.
        while (!current.empty() && (current.back() == '\'' || current.back() == '-'))
            current.pop_back();
        if (!current.empty())
            words.push_back(current);
        current.clear();
    };
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(phrase.data());
    for (size_t offset = 0; offset < phrase.size();) {
        utf8proc_int32_t codepoint = 0;
        auto length = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(phrase.size() - offset), &codepoint);
        if (length <= 0) {
            length = 1;
            codepoint = -1;
        }
        offset += static_cast<size_t>(length);
        if (codepoint >= 0 && isWordCharacter(codepoint)) {
            appendCodepoint(current, utf8proc_tolower(codepoint));
            continue;
        }
        if ((codepoint == '\'' || codepoint == 0x2019 || codepoint == '-') && !current.empty()) {
            current.push_back(codepoint == '-' ? '-' : '\'');
            continue;
        }
        flush();
    }
    flush();
    return words;
}

std::string vocabularyArpa(const std::vector<std::string>& phrases, const std::function<bool(const std::string&)>& known)
{
    const std::string start = "<s>";
    const std::string end = "</s>";
    std::map<std::string, double> unigramCounts;
    std::map<std::string, std::map<std::string, double>> bigramCounts;
    for (const auto& phrase : phrases) {
        std::vector<std::string> sentence{start};
        for (auto& word : phraseWords(phrase)) {
            if (known(word))
                sentence.push_back(std::move(word));
        }
        if (sentence.size() == 1)
            continue;
        sentence.push_back(end);
        for (size_t index = 0; index < sentence.size(); ++index) {
            unigramCounts[sentence[index]] += 1;
            if (index + 1 < sentence.size())
                bigramCounts[sentence[index]][sentence[index + 1]] += 1;
        }
    }
    if (unigramCounts.empty())
        return {};

    // Unigrams: add-one over the words and the sentence end; the sentence
    // start is never predicted.
    double total = 0;
    for (const auto& [word, count] : unigramCounts) {
        if (word != start)
            total += count;
    }
    double types = static_cast<double>(unigramCounts.size() - 1);
    std::map<std::string, double> unigram;
    for (const auto& [word, count] : unigramCounts) {
        if (word != start)
            unigram[word] = (count + 1) / (total + types);
    }
    // Absolute discounting; what is taken goes back to the unigrams of
    // words not seen after this one.
    std::map<std::string, double> backoff;
    size_t bigramTotal = 0;
    for (const auto& [history, followers] : bigramCounts) {
        double historyCount = 0;
        double seenMass = 0;
        for (const auto& [word, count] : followers) {
            historyCount += count;
            seenMass += unigram[word];
        }
        double reserved = discount * static_cast<double>(followers.size()) / historyCount;
        double unseenMass = 1 - seenMass;
        backoff[history] = unseenMass > 1e-9 ? reserved / unseenMass : 1.0;
        bigramTotal += followers.size();
    }

    std::string arpa = "\\data\\\n";
    arpa += "ngram 1=" + std::to_string(unigramCounts.size()) + "\n";
    arpa += "ngram 2=" + std::to_string(bigramTotal) + "\n\n\\1-grams:\n";
    for (const auto& [word, count] : unigramCounts) {
        std::string probability = word == start ? "-99" : logText(unigram[word]);
        arpa += probability + " " + word;
        if (backoff.count(word))
            arpa += " " + logText(backoff[word]);
        arpa += "\n";
    }
    arpa += "\n\\2-grams:\n";
    for (const auto& [history, followers] : bigramCounts) {
        double historyCount = 0;
        for (const auto& [word, count] : followers)
            historyCount += count;
        for (const auto& [word, count] : followers)
            arpa += logText((count - discount) / historyCount) + " " + history + " " + word + "\n";
    }
    arpa += "\n\\end\\\n";
    return arpa;
}

}
