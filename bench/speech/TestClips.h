#pragma once

// The recordings of Debian's pocketsphinx-testdata package with their
// transcripts, and the word accuracy measure.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tarvio::bench {

inline const std::string testData = "/usr/share/pocketsphinx/test/data/";

struct Clip {
    std::string path;
    std::string transcript;
    // Words and phrases of the clip's domain, as a host would send them.
    std::vector<std::string> domainVocabulary;
};

inline std::vector<Clip> testClips()
{
    const std::vector<std::string> cards = {"ace", "two", "three", "four", "five", "six", "seven", "eight", "nine",
        "ten", "jack", "queen", "king", "of clubs", "of hearts", "of diamonds", "of spades"};
    const std::vector<std::string> moves = {"go forward", "go backward", "ten meters", "one meter"};
    const std::vector<std::string> digits = {"zero", "oh", "one", "two", "three", "four", "five", "six", "seven",
        "eight", "nine"};
    const std::vector<std::string> novel = {"mister john dashwood", "amiable", "prudently", "ill disposed",
        "respectable", "cold hearted", "selfish"};
    std::string books = testData + "librivox/sense_and_sensibility_01_austen_64kb-";
    return {
        {testData + "goforward.raw", "go forward ten meters", moves},
        {testData + "tidigits/dhd.2934z.raw", "two nine three four zero", digits},
        {testData + "cards/001.wav", "ten of clubs", cards},
        {testData + "cards/002.wav", "four queen of clubs", cards},
        {testData + "cards/003.wav", "seven of clubs", cards},
        {testData + "cards/004.wav", "five five", cards},
        {testData + "cards/005.wav", "eight of spades four of clubs seven of hearts", cards},
        {books + "0870.wav", "and mister john dashwood had then leisure to consider how much there might be prudently in his power to do for them", novel},
        {books + "0880.wav", "he was not an ill disposed young man", novel},
        {books + "0890.wav", "unless to be rather cold hearted and rather selfish is to be ill disposed", novel},
        {books + "0920.wav", "had he married a more a amiable woman he might have been made still more respectable than he was", novel},
        {books + "0930.wav", "he might even have been made amiable himself", novel},
    };
}

// Phrases of an assistant's own commands, unrelated to any clip.
inline std::vector<std::string> unrelatedVocabulary()
{
    return {"open my calendar", "create a reminder", "start recording", "stop recording", "what is on my agenda",
        "call mom", "turn on the lights"};
}

// 16-bit mono samples at 16 kHz: raw files as they are, WAV files after
// their 44-byte header.
inline std::vector<int16_t> clipSamples(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t skip = path.ends_with(".wav") ? 44 : 0;
    std::vector<int16_t> samples;
    for (size_t offset = skip; offset + 1 < bytes.size(); offset += 2)
        samples.push_back(static_cast<int16_t>(uint8_t(bytes[offset]) | (uint8_t(bytes[offset + 1]) << 8)));
    return samples;
}

inline std::vector<std::string> words(const std::string& text)
{
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

// Word errors (substitutions, insertions, deletions) of `hypothesis`.
inline size_t wordErrors(const std::string& reference, const std::string& hypothesis)
{
    auto expected = words(reference);
    auto got = words(hypothesis);
    std::vector<size_t> previous(got.size() + 1), current(got.size() + 1);
    for (size_t column = 0; column <= got.size(); ++column)
        previous[column] = column;
    for (size_t row = 1; row <= expected.size(); ++row) {
        current[0] = row;
        for (size_t column = 1; column <= got.size(); ++column) {
            size_t substitution = previous[column - 1] + (expected[row - 1] == got[column - 1] ? 0 : 1);
            current[column] = std::min({substitution, previous[column] + 1, current[column - 1] + 1});
        }
        std::swap(previous, current);
    }
    return previous[got.size()];
}

}
