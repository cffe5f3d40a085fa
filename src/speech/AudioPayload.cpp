#include "speech/AudioPayload.h"

#include "channel/HelperError.h"
#include "channel/Params.h"
#include "speech/Base64.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarvio {

static_assert(std::endian::native == std::endian::little, "samples are copied as little-endian floats");

std::string overlongAudioMessage()
{
    return "áudio longo demais para reconhecimento (máximo de "
        + std::to_string(static_cast<int>(maximumUtteranceSeconds)) + " s)";
}

AudioPayload decodeAudioPayload(const Json& params)
{
    const Json* text = member(params, "audioBase64");
    if (!text || !text->is_string())
        throw invalidParams("audioBase64 inválido");
    const auto& base64 = text->get_ref<const std::string&>();
    if (base64.empty())
        throw invalidParams("audioBase64 inválido");
    auto byteCount = base64DecodedSize(base64);
    if (!byteCount)
        throw invalidParams("audioBase64 inválido");

    AudioPayload payload;
    if (auto rate = numberParam(params, "sampleRate"))
        payload.sampleRate = *rate;
    else if (auto integral = integerParam(params, "sampleRate"))
        payload.sampleRate = static_cast<double>(*integral);
    // Checked before decoding, so an oversized payload costs no copy. A rate
    // that is not a positive number is left to the buffer's creation.
    double seconds = static_cast<double>(*byteCount / 4) / payload.sampleRate;
    if (payload.sampleRate > 0 && !(seconds <= maximumUtteranceSeconds))
        throw invalidParams(overlongAudioMessage());

    // Decoded straight into the sample storage; a length that is not whole
    // samples still has to be valid Base64 before it counts as bad audio.
    payload.samples.resize((*byteCount + 3) / 4);
    if (!decodeBase64Into(base64, reinterpret_cast<std::byte*>(payload.samples.data())))
        throw invalidParams("audioBase64 inválido");
    if (*byteCount < 4 || *byteCount % 4 != 0)
        throw invalidParams("áudio Float32 inválido");
    return payload;
}

std::unique_ptr<audio::PcmBuffer> makePcmFloatBuffer(const std::vector<float>& samples, double sampleRate)
{
    if (samples.empty())
        throw invalidParams("áudio vazio");
    auto format = audio::AudioFormat::makeFloat(sampleRate, 1);
    if (!format)
        throw internalError("falha ao criar buffer de áudio");
    if (samples.size() > std::numeric_limits<uint32_t>::max())
        throw internalError("falha ao criar buffer de áudio");
    auto frames = static_cast<uint32_t>(samples.size());
    auto buffer = audio::PcmBuffer::make(*format, frames);
    if (!buffer)
        throw internalError("falha ao criar buffer de áudio");
    buffer->setFrameLength(frames);
    std::memcpy(buffer->floatChannel(0), samples.data(), samples.size() * sizeof(float));
    return buffer;
}

std::optional<uint32_t> convertedCapacity(double inputRate, double targetRate, uint32_t frames)
{
    double ratio = targetRate / inputRate;
    double scaled = ratio * static_cast<double>(frames);
    if (!std::isfinite(scaled) || scaled < 0)
        return std::nullopt;
    double truncated = std::trunc(scaled);
    if (truncated + 128 > static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::nullopt;
    return static_cast<uint32_t>(truncated) + 128;
}

const audio::PcmBuffer* OneShotInput::operator()(uint32_t, audio::InputStatus& status)
{
    if (handedOver) {
        status = audio::InputStatus::endOfStream;
        return nullptr;
    }
    handedOver = true;
    status = audio::InputStatus::haveData;
    return &buffer;
}

const audio::PcmBuffer& convertBuffer(const audio::PcmBuffer& input, const audio::AudioFormat& target,
    std::unique_ptr<audio::PcmBuffer>& owned)
{
    if (input.format() == target)
        return input;
    auto converter = audio::AudioConverter::make(input.format(), target);
    if (!converter)
        throw internalError("falha ao criar conversor de áudio");
    auto capacity = convertedCapacity(input.format().sampleRate(), target.sampleRate(), input.frameLength());
    if (!capacity)
        throw internalError("falha ao alocar buffer convertido");
    auto output = audio::PcmBuffer::make(target, *capacity);
    if (!output)
        throw internalError("falha ao alocar buffer convertido");
    OneShotInput provider(input);
    std::optional<std::string> error;
    converter->convert(*output, error, std::ref(provider));
    if (error)
        throw internalError(*error);
    owned = std::move(output);
    return *owned;
}

}
