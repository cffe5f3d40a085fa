#pragma once

#include "speech/pocketsphinx/ModelCatalog.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;
struct ngram_model_s;

namespace tarvio::pocketsphinx {

// Whether pocketsphinx loads a model, remembered for each version of its
// files (names, sizes, modification times, inodes): a model the user
// installed is tested once per version, not on every request.
class ModelCheck {
public:
    using Test = std::function<bool(const Model&)>;
    // The real test: packaged models pass as they are; any other model is
    // loaded once in a child process, since sphinxbase ends the whole
    // process on some malformed files.
    ModelCheck();
    explicit ModelCheck(Test test) : test(std::move(test)) {}

    bool loads(const Model& model);

    // The process's one check, shared by loading and by the status.
    static ModelCheck& shared();

private:
    Test test;
    std::mutex lock;
    std::map<std::string, bool> verdicts;
};

// One loaded pocketsphinx decoder (about 100 MB for a general model); kept
// between requests because loading takes longer than a short command.
class Decoder {
public:
    // Weight of the vocabulary's own model against the general one.
    static constexpr float defaultVocabularyWeight = 0.3f;

    // None when pocketsphinx refuses the model (ModelCheck::shared() judges
    // it first); `error` then says why.
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
