#pragma once

#include "audio/PcmBuffer.h"
#include "speech/SpeechRecognition.h"
#include "speech/pocketsphinx/Decoder.h"
#include "speech/pocketsphinx/ModelCatalog.h"

#include <map>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvio::pocketsphinx {

// Loaded decoders by model, shared by every recognizer of the process.
class DecoderCache {
public:
    // Runs `work` with the model's decoder, loading it on first use; one
    // recognition at a time.
    bool withDecoder(const Model& model, const std::function<bool(Decoder&, std::string&)>& work, std::string& error);

private:
    std::mutex lock;
    std::map<std::filesystem::path, std::unique_ptr<Decoder>> decoders;
};

// The buffer as 16 kHz mono 16-bit samples; false with `error` when it
// cannot be converted or is too long.
bool modelSamples(const audio::PcmBuffer& buffer, std::vector<int16_t>& samples, std::string& error);

// The recognizer back end's service on Linux: pocketsphinx models, no
// consent system (always authorized).
class PocketsphinxRecognition : public SpeechRecognitionService {
public:
    explicit PocketsphinxRecognition(ModelCatalog catalog) : catalog(std::move(catalog)) {}

    SpeechAuthorizationStatus authorizationStatus() override { return 3; }
    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> done) override { done(3); }
    std::unique_ptr<SpeechRecognizer> recognizer(const std::string& localeId) override;

private:
    ModelCatalog catalog;
    std::shared_ptr<DecoderCache> decoders = std::make_shared<DecoderCache>();
};

}
