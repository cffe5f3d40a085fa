#include "recording/StreamConverter.h"
#include "audio/ToneAnalysis.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace tarvio;
using namespace tarvio::testing;

namespace {

std::unique_ptr<audio::PcmBuffer> stereoTone(const audio::AudioFormat& format, double frequency, size_t frames,
    size_t start)
{
    auto buffer = audio::PcmBuffer::make(format, uint32_t(frames));
    buffer->setFrameLength(uint32_t(frames));
    auto samples = sineTone(frequency, format.sampleRate(), frames, 0.5, start);
    for (uint32_t channel = 0; channel < format.channelCount(); ++channel)
        std::copy(samples.begin(), samples.end(), buffer->floatChannel(channel));
    return buffer;
}

}

TEST(StreamConverter, CapacityTable)
{
    struct Case {
        double rate;
        uint32_t frames;
        double ratio;
        uint32_t capacity;
    };
    const Case cases[] = {
        {48000, 4096, 0.3333333333333333, 1621},
        {8000, 4096, 2.0, 2 * 4096 + 256},
        {16000, 4096, 1.0, 4096 + 256},
        {44100, 4096, 16000.0 / 44100, 1486 + 256},
        {48000, 0, 0.3333333333333333, 256},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.rate);
        auto converter = StreamConverter::make(*audio::AudioFormat::makeFloat(row.rate, 1));
        ASSERT_TRUE(converter);
        EXPECT_EQ(converter->ratio(), row.ratio);
        EXPECT_EQ(converter->outputCapacity(row.frames), row.capacity);
    }
    // A ratio so large that the capacity leaves 32 bits has none.
    auto tiny = StreamConverter::make(*audio::AudioFormat::makeFloat(0.001, 1));
    ASSERT_TRUE(tiny);
    EXPECT_FALSE(tiny->outputCapacity(4096));
}

// The state carries over: two blocks of one tone join into one continuous
// 16 kHz tone, sample for sample where the ideal tone is.
TEST(StreamConverter, SuccessiveBlocksFormOneContinuousTone)
{
    auto format = *audio::AudioFormat::makeFloat(48000, 2);
    auto converter = StreamConverter::make(format);
    ASSERT_TRUE(converter);
    std::vector<float> joined;
    for (size_t block = 0; block < 2; ++block) {
        auto out = converter->convert(*stereoTone(format, 1000, 4096, block * 4096));
        EXPECT_GT(out.size(), 900u);
        EXPECT_LE(out.size(), 1621u);
        joined.insert(joined.end(), out.begin(), out.end());
    }
    // Only the filter's tail (under 450 samples) may be held back.
    EXPECT_GT(joined.size(), 2 * 4096 / 3 - 450);
    EXPECT_LE(joined.size(), 2 * 4096 / 3 + 1u);
    // After the start-up transient the output is the ideal tone within
    // -100 dB, across the join too.
    EXPECT_LT(errorDb(joined, 1000, 16000, 0.5, 200, joined.size()), -100.0);
}

TEST(StreamConverter, InputTypesAndRatesTable)
{
    struct Case {
        audio::SampleType type;
        double rate;
        uint32_t channels;
        bool interleaved;
    };
    const Case cases[] = {
        {audio::SampleType::int16, 44100, 2, true},
        {audio::SampleType::int32, 48000, 2, false},
        {audio::SampleType::float32, 16000, 1, false},
        {audio::SampleType::float32, 48000, 6, true},
        {audio::SampleType::float64, 8000, 1, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(::testing::Message() << int(row.type) << " " << row.rate << " " << row.channels);
        auto format = *audio::AudioFormat::make(row.type, row.rate, row.channels, row.interleaved);
        auto converter = StreamConverter::make(format);
        ASSERT_TRUE(converter);
        std::vector<float> joined;
        const uint32_t frames = 2048;
        for (size_t block = 0; block < 8; ++block) {
            auto buffer = audio::PcmBuffer::make(format, frames);
            buffer->setFrameLength(frames);
            auto tone = sineTone(440, row.rate, frames, 0.5, block * frames);
            for (uint32_t frame = 0; frame < frames; ++frame) {
                for (uint32_t channel = 0; channel < row.channels; ++channel) {
                    size_t plane = row.interleaved ? 0 : channel;
                    size_t slot = row.interleaved ? size_t(frame) * row.channels + channel : frame;
                    std::byte* base = buffer->plane(plane);
                    switch (row.type) {
                    case audio::SampleType::int16: {
                        int16_t value = int16_t(std::lround(tone[frame] * 32768.0));
                        std::memcpy(base + slot * 2, &value, 2);
                        break;
                    }
                    case audio::SampleType::int32: {
                        int32_t value = int32_t(std::lround(double(tone[frame]) * 2147483648.0));
                        std::memcpy(base + slot * 4, &value, 4);
                        break;
                    }
                    case audio::SampleType::float32: std::memcpy(base + slot * 4, &tone[frame], 4); break;
                    case audio::SampleType::float64: {
                        double value = tone[frame];
                        std::memcpy(base + slot * 8, &value, 8);
                        break;
                    }
                    }
                }
            }
            auto out = converter->convert(*buffer);
            joined.insert(joined.end(), out.begin(), out.end());
        }
        double expected = 8.0 * frames * converter->ratio();
        // Never more than the input calls for; the resampler's delay (under
        // 80 ms) is held back.
        EXPECT_LE(double(joined.size()), expected + 1);
        EXPECT_GT(double(joined.size()), expected - 1300);
        // 16-bit input limits the precision to about -90 dB.
        EXPECT_LT(errorDb(joined, 440, 16000, 0.5, 200, joined.size()), -85.0);
    }
}

TEST(StreamConverter, ChannelsAreAveraged)
{
    auto format = *audio::AudioFormat::makeFloat(16000, 2);
    auto converter = StreamConverter::make(format);
    auto buffer = audio::PcmBuffer::make(format, 3);
    buffer->setFrameLength(3);
    const float left[] = {0.5f, -1.0f, 0.25f};
    const float right[] = {0.25f, 1.0f, 0.25f};
    std::copy(std::begin(left), std::end(left), buffer->floatChannel(0));
    std::copy(std::begin(right), std::end(right), buffer->floatChannel(1));
    EXPECT_EQ(converter->convert(*buffer), (std::vector<float>{0.375f, 0.0f, 0.25f}));
}

TEST(StreamConverter, EmptyOrForeignBuffersGiveEmptyBlocks)
{
    auto format = *audio::AudioFormat::makeFloat(48000, 1);
    auto converter = StreamConverter::make(format);
    auto empty = audio::PcmBuffer::make(format, 16);
    EXPECT_TRUE(converter->convert(*empty).empty());
    auto foreign = audio::PcmBuffer::make(*audio::AudioFormat::makeFloat(44100, 1), 16);
    foreign->setFrameLength(16);
    EXPECT_TRUE(converter->convert(*foreign).empty());
    // The converter goes on with the next buffer of its own format.
    EXPECT_FALSE(converter->convert(*stereoTone(format, 1000, 4096, 0)).empty());
}
