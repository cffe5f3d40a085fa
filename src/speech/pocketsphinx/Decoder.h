#pragma once

#include "speech/pocketsphinx/ModelCatalog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;
struct ngram_model_s;

namespace tarvio::pocketsphinx {

// One loaded pocketsphinx decoder (about 100 MB for a general model); kept
// between requests because loading takes longer than a short command.
class Decoder {
public:
    // Weight of the vocabulary's own model against the general one.
    static constexpr float defaultVocabularyWeight = 0.3f;

    // None when pocketsphinx refuses the model; `error` then says why.
    static std::unique_ptr<Decoder> load(const Model& model, std::string& error, float vocabularyWeight = defaultVocabularyWeight);
    ~Decoder();

    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes 16 kHz mono samples as one complete utterance. The vocabulary
    // (words and phrases) raises the odds of its words without closing the
    // language to others. False on failure, with `error` set.
    bool decode(const std::vector<int16_t>& samples, const std::vector<std::string>& vocabulary, std::string& text,
        std::string& error);

    bool knowsWord(const std::string& word);

private:
    Decoder(cmd_ln_s* config, ps_decoder_s* decoder, float vocabularyWeight);
    // Makes the search for `vocabulary` current; false leaves the general one.
    bool selectSearch(const std::vector<std::string>& vocabulary);
    ngram_model_s* generalModel();

    cmd_ln_s* config;
    ps_decoder_s* decoder;
    float vocabularyWeight;
    std::string generalSearch;
    // The vocabulary whose search is built, when one is.
    std::vector<std::string> builtVocabulary;
    bool vocabularySearchBuilt = false;
};

}
