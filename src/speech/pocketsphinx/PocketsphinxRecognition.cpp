#include "speech/pocketsphinx/PocketsphinxRecognition.h"

#include "audio/AudioConverter.h"
#include "speech/AudioPayload.h"

#include <cmath>
#include <thread>

namespace tarvio::pocketsphinx {

namespace {

constexpr double modelRate = 16000;
constexpr uint32_t conversionBlock = 65536;

int16_t toModelSample(float value)
{
    if (!(value == value))
        return 0;
    float clamped = value < -1.0f ? -1.0f : (value > 1.0f ? 1.0f : value);
    return static_cast<int16_t>(std::lrintf(clamped * 32767.0f));
}

void appendModelSamples(const float* values, size_t count, std::vector<int16_t>& samples)
{
    for (size_t index = 0; index < count; ++index)
        samples.push_back(toModelSample(values[index]));
}

// Recognition on a thread of its own, joined when the task is released.
class PocketsphinxTask : public RecognitionTask {
public:
    PocketsphinxTask(std::shared_ptr<DecoderCache> decoders, Model model, const RecognitionRequest& request,
        RecognitionHandler handler)
    {
        std::vector<std::string> vocabulary = request.contextualStrings.value_or(std::vector<std::string>{});
        const audio::PcmBuffer* audio = request.audio;
        worker = std::thread([decoders = std::move(decoders), model = std::move(model), vocabulary = std::move(vocabulary),
                                 audio, handler = std::move(handler)] {
            std::string error;
            std::vector<int16_t> samples;
            if (!audio) {
                handler(std::nullopt, std::string("nenhum áudio para reconhecer"));
                return;
            }
            if (!modelSamples(*audio, samples, error)) {
                handler(std::nullopt, error);
                return;
            }
            std::string text;
            bool decoded = decoders->withDecoder(model,
                [&](Decoder& decoder, std::string& failure) { return decoder.decode(samples, vocabulary, text, failure); },
                error);
            if (!decoded) {
                handler(std::nullopt, error);
                return;
            }
            handler(RecognitionResult{text, true}, std::nullopt);
        });
    }

    ~PocketsphinxTask() override
    {
        if (worker.joinable())
            worker.join();
    }

private:
    std::thread worker;
};

class PocketsphinxRecognizer : public SpeechRecognizer {
public:
    PocketsphinxRecognizer(std::shared_ptr<DecoderCache> decoders, std::optional<Model> model)
        : decoders(std::move(decoders)), model(std::move(model)) {}

    bool supportsOnDeviceRecognition() const override { return model.has_value(); }

    std::unique_ptr<RecognitionTask> recognitionTask(const RecognitionRequest& request, RecognitionHandler handler) override
    {
        if (!model) {
            handler(std::nullopt, std::string("modelo de fala não instalado"));
            return std::make_unique<RecognitionTask>();
        }
        return std::make_unique<PocketsphinxTask>(decoders, *model, request, std::move(handler));
    }

private:
    std::shared_ptr<DecoderCache> decoders;
    std::optional<Model> model;
};

}

bool DecoderCache::withDecoder(const Model& model, const std::function<bool(Decoder&, std::string&)>& work,
    std::string& error)
{
    std::lock_guard guard(lock);
    auto& decoder = decoders[model.acousticModel];
    if (!decoder)
        decoder = Decoder::load(model, error);
    if (!decoder) {
        decoders.erase(model.acousticModel);
        return false;
    }
    return work(*decoder, error);
}

bool modelSamples(const audio::PcmBuffer& buffer, std::vector<int16_t>& samples, std::string& error)
{
    const audio::AudioFormat& format = buffer.format();
    double seconds = static_cast<double>(buffer.frameLength()) / format.sampleRate();
    if (!(seconds <= maximumUtteranceSeconds)) {
        error = overlongAudioMessage();
        return false;
    }
    samples.clear();
    samples.reserve(static_cast<size_t>(seconds * modelRate) + 1024);
    auto target = audio::AudioFormat::makeFloat(modelRate, 1);
    if (format == *target) {
        appendModelSamples(buffer.floatChannel(0), buffer.frameLength(), samples);
        return true;
    }
    auto converter = audio::AudioConverter::make(format, *target);
    auto block = audio::PcmBuffer::make(*target, conversionBlock);
    if (!converter || !block) {
        error = "falha ao criar conversor de áudio";
        return false;
    }
    // One provider for every block, so the buffer is handed over once.
    audio::InputProvider provider = OneShotInput(buffer);
    // Block by block, so the converter's output never needs one huge buffer.
    for (;;) {
        std::optional<std::string> failure;
        auto status = converter->convert(*block, failure, provider);
        if (failure) {
            error = *failure;
            return false;
        }
        appendModelSamples(block->floatChannel(0), block->frameLength(), samples);
        if (status == audio::ConversionStatus::endOfStream && block->frameLength() == 0)
            return true;
        if (status != audio::ConversionStatus::haveData && status != audio::ConversionStatus::endOfStream)
            return true;
    }
}

std::unique_ptr<SpeechRecognizer> PocketsphinxRecognition::recognizer(const std::string& localeId)
{
    if (ModelCatalog::modelNames(localeId).empty())
        return nullptr;
    // A model that does not load is passed over for the next one (a broken
    // copy in the user's folder for the system's), so what the status reports
    // is what a transcription will use.
    return std::make_unique<PocketsphinxRecognizer>(
        decoders, catalog.find(localeId, [](const Model& model) { return ModelCheck::shared().loads(model); }));
}

}
