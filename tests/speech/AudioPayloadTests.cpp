#include "channel/HelperError.h"
#include "speech/AudioPayload.h"
#include "speech/Base64.h"

#include <cmath>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>

using namespace tarvio;

namespace {

std::string encode(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

std::optional<std::string> decode(const std::string& text)
{
    auto size = base64DecodedSize(text);
    if (!size)
        return std::nullopt;
    std::string bytes(*size, '\0');
    if (!decodeBase64Into(text, reinterpret_cast<std::byte*>(bytes.data())))
        return std::nullopt;
    return bytes;
}

HelperError payloadError(const Json& params)
{
    try {
        decodeAudioPayload(params);
    } catch (const HelperError& error) {
        return error;
    }
    return {"", ""};
}

}

TEST(Base64Test, RoundTripsEveryLengthAndRefusesEveryForeignCharacterAnywhere)
{
    std::mt19937 random(7);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t length = 0; length <= 40; ++length) {
        std::string bytes(length, '\0');
        for (auto& byte : bytes)
            byte = static_cast<char>(random());
        std::string text = encode(bytes);
        ASSERT_EQ(decode(text), bytes) << text;
        for (size_t position = 0; position < text.size(); ++position) {
            for (int character = 0; character < 256; ++character) {
                bool allowed = alphabet.find(static_cast<char>(character)) != std::string::npos;
                // Padding is allowed where the encoder put it.
                if (allowed || text[position] == '=' || character == '=')
                    continue;
                std::string broken = text;
                broken[position] = static_cast<char>(character);
                ASSERT_FALSE(decode(broken)) << "byte " << character << " at " << position << " of " << text;
            }
        }
    }
}

TEST(Base64Test, RefusesMalformedShapes)
{
    for (std::string text : {"YQ", "YQ=", "YQ===", "Y===", "=YQ=", "Y=Q=", "YQ==YQ==", "YQ== ", " YQ==", "YQ==\n",
             "YWJj\nYWJj", "YW Jj", "YW-j", "YW_j"}) {
        EXPECT_FALSE(decode(text)) << text;
    }
    EXPECT_EQ(decode("YQ=="), "a");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode(""), "");
}

TEST(AudioPayloadTest, RefusesBadPayloadsWithTheirMessages)
{
    struct Case {
        Json params;
        std::string message;
    };
    const std::string badText = "audioBase64 inválido";
    const std::string badLength = "áudio Float32 inválido";
    std::vector<Case> cases = {
        {Json::object(), badText},
        {{{"audioBase64", 12}}, badText},
        {{{"audioBase64", ""}}, badText},
        {{{"audioBase64", nullptr}}, badText},
        {{{"audioBase64", "AACAPw==\n"}}, badText},
        {{{"audioBase64", "AACA Pw=="}}, badText},
        {{{"audioBase64", "AACAPw"}}, badText},
        {{{"audioBase64", "-_-_"}}, badText},
        {{{"audioBase64", encode("abc")}}, badLength},
        {{{"audioBase64", encode("abcdef")}}, badLength},
        {{{"audioBase64", encode("a")}}, badLength},
    };
    for (const auto& [params, message] : cases) {
        HelperError error = payloadError(params);
        EXPECT_EQ(error.code, "invalid_params") << params.dump();
        EXPECT_EQ(error.message, message) << params.dump();
    }
}

TEST(AudioPayloadTest, AudioBeyondTheLimitIsRefusedFromItsLengthAlone)
{
    // At 2 Hz the limit is 600 samples.
    const std::string limit(600 * 4, '\0');
    EXPECT_EQ(decodeAudioPayload({{"audioBase64", encode(limit)}, {"sampleRate", 2}}).samples.size(), 600u);
    struct Case {
        std::string base64;
        Json rate;
    };
    const std::vector<Case> overlong = {
        {encode(limit + std::string(4, '\0')), 2},
        {encode(limit + std::string(4, '\0')), 2.0},
        // Not even valid Base64: nothing of it is decoded.
        {std::string(4 * 900, '*'), 2},
        {encode(std::string(4, '\0')), 1e-9},
    };
    for (const auto& [base64, rate] : overlong) {
        HelperError error = payloadError({{"audioBase64", base64}, {"sampleRate", rate}});
        EXPECT_EQ(error.code, "invalid_params") << rate;
        EXPECT_EQ(error.message, "áudio longo demais para reconhecimento (máximo de 300 s)") << rate;
    }
    // Rates that are not positive numbers are no length to measure against.
    for (Json rate : {Json(0), Json(-8000), Json(false)})
        EXPECT_EQ(decodeAudioPayload({{"audioBase64", encode(limit)}, {"sampleRate", rate}}).samples.size(), 600u);
}

TEST(AudioPayloadTest, SamplesAreLittleEndianFloatsTakenAsTheyAre)
{
    std::string bytes("\x00\x00\x80\x3F\x00\x00\x80\xBF\x00\x00\xC0\x7F\x00\x00\x80\x7F", 16);
    AudioPayload payload = decodeAudioPayload({{"audioBase64", encode(bytes)}});
    ASSERT_EQ(payload.samples.size(), 4u);
    EXPECT_EQ(payload.samples[0], 1.0f);
    EXPECT_EQ(payload.samples[1], -1.0f);
    EXPECT_TRUE(std::isnan(payload.samples[2]));
    EXPECT_TRUE(std::isinf(payload.samples[3]));
}

TEST(AudioPayloadTest, SampleRateIsAnyNumberOrBooleanElse16000)
{
    struct Case {
        Json rate;
        double expected;
    };
    std::vector<Case> cases = {
        {48000, 48000.0},
        {48000.0, 48000.0},
        {2.5, 2.5},
        {true, 1.0},
        {false, 0.0},
        {-8000, -8000.0},
        {"48000", 16000.0},
        {nullptr, 16000.0},
        {Json::array({48000}), 16000.0},
        {Json(int64_t(9007199254740993)), 9007199254740992.0},
    };
    for (const auto& [rate, expected] : cases) {
        Json params = {{"audioBase64", "AACAPw=="}, {"sampleRate", rate}};
        EXPECT_EQ(decodeAudioPayload(params).sampleRate, expected) << rate.dump();
    }
    EXPECT_EQ(decodeAudioPayload({{"audioBase64", "AACAPw=="}}).sampleRate, 16000.0);
}

TEST(PcmFloatBufferTest, HoldsTheSamplesAtTheRate)
{
    auto buffer = makePcmFloatBuffer({0.5f, -0.25f, 1.0f}, 22050);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->format(), *audio::AudioFormat::makeFloat(22050, 1));
    EXPECT_EQ(buffer->frameLength(), 3u);
    EXPECT_EQ(buffer->frameCapacity(), 3u);
    EXPECT_EQ(buffer->floatChannel(0)[1], -0.25f);
}

TEST(PcmFloatBufferTest, RefusesEmptyAudioAndImpossibleRates)
{
    try {
        makePcmFloatBuffer({}, 16000);
        FAIL();
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "invalid_params");
        EXPECT_EQ(error.message, "áudio vazio");
    }
    for (double rate : {0.0, -16000.0, std::nan("")}) {
        try {
            makePcmFloatBuffer({1.0f}, rate);
            FAIL() << rate;
        } catch (const HelperError& error) {
            EXPECT_EQ(error.code, "internal");
            EXPECT_EQ(error.message, "falha ao criar buffer de áudio");
        }
    }
}

TEST(ConvertBufferTest, CapacityIsTheRatioTimesTheFramesPlusHeadroom)
{
    struct Case {
        double from, to;
        uint32_t frames;
        std::optional<uint32_t> capacity;
    };
    std::vector<Case> cases = {
        {48000, 16000, 100, 161},
        {48000, 16000, 48000, 16128},
        {8000, 16000, 100, 328},
        {44100, 16000, 0, 128},
        {1, 16000, 300000, std::nullopt},
    };
    for (const auto& [from, to, frames, capacity] : cases)
        EXPECT_EQ(convertedCapacity(from, to, frames), capacity) << from << " " << frames;
}

TEST(ConvertBufferTest, SameFormatGivesTheVeryBufferAndOtherFormatsAreResampled)
{
    auto buffer = makePcmFloatBuffer(std::vector<float>(4800, 0.25f), 48000);
    std::unique_ptr<audio::PcmBuffer> owned;
    EXPECT_EQ(&convertBuffer(*buffer, buffer->format(), owned), buffer.get());
    EXPECT_FALSE(owned);

    const audio::PcmBuffer& converted = convertBuffer(*buffer, *audio::AudioFormat::makeFloat(16000, 1), owned);
    EXPECT_EQ(&converted, owned.get());
    EXPECT_EQ(converted.frameCapacity(), 1600u + 128u);
    EXPECT_NEAR(converted.frameLength(), 1600, 2);
    EXPECT_NEAR(converted.floatChannel(0)[800], 0.25f, 1e-3);
}

TEST(ConvertBufferTest, RefusalsAreInternalErrors)
{
    auto slow = makePcmFloatBuffer(std::vector<float>(300000, 0.0f), 1);
    auto buffer = makePcmFloatBuffer({1.0f}, 48000);
    struct Case {
        const audio::PcmBuffer& input;
        audio::AudioFormat target;
        std::string message;
    };
    std::vector<Case> cases = {
        {*buffer, *audio::AudioFormat::make(audio::SampleType::int16, 16000, 1, false), "falha ao criar conversor de áudio"},
        {*slow, *audio::AudioFormat::makeFloat(16000, 1), "falha ao alocar buffer convertido"},
    };
    for (const auto& [input, target, message] : cases) {
        std::unique_ptr<audio::PcmBuffer> owned;
        try {
            convertBuffer(input, target, owned);
            FAIL() << message;
        } catch (const HelperError& error) {
            EXPECT_EQ(error.code, "internal");
            EXPECT_EQ(error.message, message);
        }
    }
}

TEST(ConvertBufferTest, OneShotInputHandsOverOnceThenEndsForGood)
{
    auto buffer = makePcmFloatBuffer({1.0f}, 16000);
    OneShotInput input(*buffer);
    audio::InputStatus status = audio::InputStatus::noDataNow;
    EXPECT_EQ(input(512, status), buffer.get());
    EXPECT_EQ(status, audio::InputStatus::haveData);
    for (int call = 0; call < 2; ++call) {
        status = audio::InputStatus::haveData;
        EXPECT_EQ(input(512, status), nullptr);
        EXPECT_EQ(status, audio::InputStatus::endOfStream);
    }
}
