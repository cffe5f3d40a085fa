#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvio::pocketsphinx {

// The words of a phrase as the dictionaries spell them: lowercase, split at
// whitespace and punctuation (apostrophes and hyphens inside words stay).
std::vector<std::string> phraseWords(const std::string& phrase);

// A small back-off bigram model, in ARPA text, of the phrases: each phrase
// is a sentence; words that `known` refuses are left out. Empty when no
// phrase keeps a word.
std::string vocabularyArpa(const std::vector<std::string>& phrases, const std::function<bool(const std::string&)>& known);

}
