#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvio::whisper {

// The model's languages, in the order of their tokens.
const std::vector<std::string>& languageCodes();

// Token texts and the special tokens, whose numbers depend on the
// vocabulary size (multilingual models have one more text token, and
// large-v3 one more language).
class Vocabulary {
public:
    Vocabulary(std::vector<std::string> storedTokens, int size);

    int size() const { return vocabularySize; }
    bool multilingual() const { return vocabularySize >= 51865; }
    // The languages the model knows; English alone for an English-only one.
    std::vector<std::string> languages() const;
    int languageCount() const;
    std::optional<int> languageToken(const std::string& code) const;

    int endOfText = 50256;
    int startOfTranscript = 50257;
    int translate = 50357;
    int transcribe = 50358;
    int startOfLm = 50359;
    int previous = 50360;
    int noSpeech = 50361;
    int noTimestamps = 50362;
    int timestampBegin = 50363;

    // The token's bytes; empty for tokens that are not text.
    std::string_view text(int token) const;
    std::optional<int> find(std::string_view text) const;
    // Greedy longest-match tokenization of `text`, word by word.
    std::vector<int> tokenize(std::string_view text) const;

private:
    std::vector<std::string> tokens;
    std::map<std::string, int, std::less<>> ids;
    int vocabularySize;
    size_t longest = 0;
};

}
