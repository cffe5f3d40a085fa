#include "audio/AudioConverter.h"
#include "audio/ToneAnalysis.h"

#include <gtest/gtest.h>

using namespace tarvio::audio;
using namespace tarvio::testing;

TEST(AudioFormat, RefusedAndEqualFormats)
{
    EXPECT_FALSE(AudioFormat::makeFloat(0, 1));
    EXPECT_FALSE(AudioFormat::makeFloat(-16000, 1));
    EXPECT_FALSE(AudioFormat::makeFloat(std::nan(""), 1));
    EXPECT_FALSE(AudioFormat::makeFloat(16000, 0));
    EXPECT_TRUE(AudioFormat::makeFloat(2.5, 1));
    EXPECT_EQ(*AudioFormat::makeFloat(16000, 1), *AudioFormat::make(SampleType::float32, 16000, 1, true));
    EXPECT_FALSE(*AudioFormat::makeFloat(16000, 2) == *AudioFormat::make(SampleType::float32, 16000, 2, true));
    EXPECT_FALSE(*AudioFormat::makeFloat(16000, 1) == *AudioFormat::makeFloat(16000.5, 1));
}

TEST(PcmBuffer, LengthCapacityAndPlanes)
{
    auto buffer = PcmBuffer::make(*AudioFormat::makeFloat(48000, 2), 100);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameLength(), 0u);
    buffer->setFrameLength(500);
    EXPECT_EQ(buffer->frameLength(), 100u);
    ASSERT_TRUE(buffer->floatChannel(1));
    EXPECT_FALSE(buffer->floatChannel(2));
    buffer->floatChannel(1)[99] = 1.0f;

    auto interleaved = PcmBuffer::make(*AudioFormat::make(SampleType::int16, 48000, 2, true), 10);
    EXPECT_EQ(interleaved->planeCount(), 1u);
    EXPECT_FALSE(interleaved->floatChannel(0));

    int16_t memory[8] = {};
    auto wrapped = PcmBuffer::wrap(*AudioFormat::make(SampleType::int16, 48000, 2, true), {memory}, 4);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->frameLength(), 4u);
    EXPECT_FALSE(PcmBuffer::wrap(*AudioFormat::makeFloat(48000, 2), {memory}, 4));
}

TEST(AudioConverter, RefusesOutputOtherThanMonoFloat)
{
    auto input = *AudioFormat::makeFloat(48000, 2);
    EXPECT_FALSE(AudioConverter::make(input, *AudioFormat::makeFloat(16000, 2)));
    EXPECT_FALSE(AudioConverter::make(input, *AudioFormat::make(SampleType::int16, 16000, 1, false)));
    EXPECT_TRUE(AudioConverter::make(input, *AudioFormat::makeFloat(16000, 1)));
}

namespace {

struct Provider {
    const PcmBuffer* buffer;
    InputStatus afterwards;
    int calls = 0;

    const PcmBuffer* operator()(uint32_t, InputStatus& status)
    {
        if (calls++ == 0) {
            status = InputStatus::haveData;
            return buffer;
        }
        status = afterwards;
        return nullptr;
    }
};

}

// End of stream flushes: the output holds exactly ratio × frames samples.
// No data now keeps the tail for the next call.
TEST(AudioConverter, EndOfStreamFlushesNoDataNowKeepsState)
{
    auto input = *AudioFormat::makeFloat(48000, 1);
    auto output = *AudioFormat::makeFloat(16000, 1);
    auto buffer = PcmBuffer::make(input, 48000);
    buffer->setFrameLength(48000);
    auto tone = sineTone(1000, 48000, 48000, 0.5);
    std::copy(tone.begin(), tone.end(), buffer->floatChannel(0));

    auto oneShot = AudioConverter::make(input, output);
    auto out = PcmBuffer::make(output, 16000 + 128);
    std::optional<std::string> error;
    Provider ending{buffer.get(), InputStatus::endOfStream};
    EXPECT_EQ(oneShot->convert(*out, error, std::ref(ending)), ConversionStatus::endOfStream);
    EXPECT_FALSE(error);
    EXPECT_EQ(out->frameLength(), 16000u);
    EXPECT_LT(errorDb(std::span(out->floatChannel(0), 16000), 1000, 16000, 0.5, 200, 15800), -100.0);
    // Asked again after the end, a provider would still answer 2; nothing more comes.
    Provider again{nullptr, InputStatus::endOfStream};
    oneShot->convert(*out, error, std::ref(again));
    EXPECT_EQ(out->frameLength(), 0u);

    auto stream = AudioConverter::make(input, output);
    Provider pausing{buffer.get(), InputStatus::noDataNow};
    EXPECT_EQ(stream->convert(*out, error, std::ref(pausing)), ConversionStatus::inputRanDry);
    EXPECT_LT(out->frameLength(), 16000u);
    EXPECT_GT(out->frameLength(), 15500u);
    EXPECT_EQ(pausing.calls, 2);
}

TEST(AudioConverter, ForeignBuffersAreErrors)
{
    auto input = *AudioFormat::makeFloat(48000, 1);
    auto converter = AudioConverter::make(input, *AudioFormat::makeFloat(16000, 1));
    std::optional<std::string> error;
    auto wrongOutput = PcmBuffer::make(*AudioFormat::makeFloat(8000, 1), 10);
    Provider none{nullptr, InputStatus::noDataNow};
    EXPECT_EQ(converter->convert(*wrongOutput, error, std::ref(none)), ConversionStatus::error);
    EXPECT_TRUE(error);

    auto wrongInput = PcmBuffer::make(*AudioFormat::makeFloat(44100, 1), 10);
    auto out = PcmBuffer::make(*AudioFormat::makeFloat(16000, 1), 10);
    Provider foreign{wrongInput.get(), InputStatus::noDataNow};
    EXPECT_EQ(converter->convert(*out, error, std::ref(foreign)), ConversionStatus::error);
    EXPECT_TRUE(error);
    EXPECT_EQ(out->frameLength(), 0u);
}
