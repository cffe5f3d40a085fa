#include "recording/Mixer.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvio;

namespace {

std::vector<float> filled(size_t count, float value) { return std::vector<float>(count, value); }

// Levels cannot be set directly: previous levels come from earlier pulls.
void primeLevels(Mixer& mixer, float system, float mic)
{
    mixer.push(0, filled(1, system / 4));
    mixer.push(1, filled(1, mic / 4));
    mixer.pull(1, {true, true});
}

}

TEST(Mixer, PullOfNothingTakesNothing)
{
    Mixer mixer;
    primeLevels(mixer, 0.5f, 0.5f);
    mixer.push(0, filled(10, 0.1f));
    EXPECT_TRUE(mixer.pull(0, {true, true}).empty());
    EXPECT_TRUE(mixer.pull(-3, {true, true}).empty());
    EXPECT_EQ(mixer.levels(), (std::array<float, 2>{0.5f, 0.5f}));
    EXPECT_EQ(mixer.pull(10, {true, true}), std::vector<int16_t>(10, int16_t(0.1f * 32767.0f)));
}

TEST(Mixer, ShortSourceIsFollowedBySilenceAndLevelsDecay)
{
    Mixer mixer;
    primeLevels(mixer, 0.5f, 0.5f);
    mixer.push(0, filled(1000, 0.5f));
    auto out = mixer.pull(1600, {true, true});
    ASSERT_EQ(out.size(), 1600u);
    for (size_t index = 0; index < out.size(); ++index)
        ASSERT_EQ(out[index], index < 1000 ? 16383 : 0) << index;
    auto levels = mixer.levels();
    EXPECT_EQ(levels[0], 1.0f);
    EXPECT_EQ(levels[1], 0.6f * 0.5f);
    EXPECT_DOUBLE_EQ(double(levels[1]), 0.30000001192092896);
    EXPECT_EQ(mixer.pull(1, {true, true}), std::vector<int16_t>{0}); // both queues empty
}

TEST(Mixer, SampleConversionTable)
{
    struct Case {
        float system;
        float mic;
        int16_t expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {0.75f, 0.75f, 32767},
        {-0.75f, -0.75f, -32767},
        {0.25f, 0.0f, 8191},
        {-0.25f, 0.0f, -8191},
        {0.99999f, 0.0f, 32766},
        {1.0f, 0.0f, 32767},
        {-1.0f, 0.0f, -32767},
        {-3.0f, 0.0f, -32767},
        {nan, 0.0f, 32767},
        {infinity, 0.0f, 32767},
        {-infinity, 0.0f, -32767},
        {infinity, -infinity, 32767}, // NaN sum
        {1e-6f, 0.0f, 0},
        {-1e-4f, 0.0f, -3},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(::testing::Message() << row.system << " + " << row.mic);
        Mixer mixer;
        mixer.push(0, filled(1, row.system));
        mixer.push(1, filled(1, row.mic));
        EXPECT_EQ(mixer.pull(1, {true, true}), std::vector<int16_t>{row.expected});
        auto levels = mixer.levels();
        for (float level : levels)
            EXPECT_TRUE(level >= 0.0f && level <= 1.0f) << level;
    }
}

TEST(Mixer, LevelFollowsConsumedSamplesScaledAndHeld)
{
    Mixer mixer;
    // RMS of alternating ±0.1 is 0.1; four times that is 0.4.
    std::vector<float> block;
    for (int index = 0; index < 1600; ++index)
        block.push_back(index % 2 ? 0.1f : -0.1f);
    mixer.push(1, block);
    mixer.pull(1600, {true, true});
    EXPECT_NEAR(mixer.levels()[1], 0.4f, 1e-5); // a float sum of 1600 squares
    EXPECT_EQ(mixer.levels()[0], 0.0f);
    // Nothing new: held with a decay of 0.6 per pull.
    float held = mixer.levels()[1];
    mixer.pull(1600, {true, true});
    EXPECT_EQ(mixer.levels()[1], 0.6f * held);
    // A quieter block does not pull the level below the decayed hold.
    mixer.push(1, filled(1600, 0.01f));
    mixer.pull(1600, {true, true});
    EXPECT_EQ(mixer.levels()[1], 0.6f * (0.6f * held));
}

TEST(Mixer, BacklogBounds)
{
    struct Case {
        size_t pushed;
        bool active;
        size_t pulled;
        size_t left; // queue length after the pull
    };
    const Case cases[] = {
        {32000 + 8000, false, 0, 32000},
        {32000 + 8000, true, 1, 8000},
        {1600 + 8000 + 500, true, 1600, 8000},
        {1600 + 8000 + 500, false, 1600, 8500},
        {1600 + 8000, true, 1600, 8000},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.pushed);
        Mixer mixer;
        // Sample i grows with i and is never 0, so what is left shows which samples were kept.
        std::vector<float> samples(row.pushed);
        for (size_t index = 0; index < samples.size(); ++index)
            samples[index] = float(index + 3) / 65536.0f;
        mixer.push(0, samples);
        if (row.pulled)
            mixer.pull(int64_t(row.pulled), {row.active, true});
        // Drain without trimming to read what was left.
        auto rest = mixer.pull(40000, {false, false});
        size_t left = 0;
        while (left < rest.size() && rest[left] != 0)
            ++left;
        EXPECT_EQ(left, row.left);
        int16_t newest = int16_t(float(row.pushed + 2) / 65536.0f * 32767.0f);
        EXPECT_EQ(rest[row.left - 1], newest);
    }
}

TEST(Mixer, PushesOfTheTwoSourcesAreSummedInOrder)
{
    Mixer mixer;
    mixer.push(0, std::vector<float>{0.1f, 0.2f});
    mixer.push(0, std::vector<float>{0.3f});
    mixer.push(1, std::vector<float>{0.05f});
    auto out = mixer.pull(4, {true, true});
    EXPECT_EQ(out, (std::vector<int16_t>{int16_t((0.1f + 0.05f) * 32767.0f), int16_t(0.2f * 32767.0f),
                       int16_t(0.3f * 32767.0f), 0}));
}

TEST(Mixer, ClearQueuesKeepsLevels)
{
    Mixer mixer;
    primeLevels(mixer, 0.2f, 0.4f);
    mixer.push(0, filled(100, 0.5f));
    mixer.clearQueues();
    EXPECT_EQ(mixer.pull(100, {true, true}), std::vector<int16_t>(100, 0));
    EXPECT_NEAR(mixer.levels()[1], 0.6f * 0.4f, 1e-6);
}

// A source starts, and starts again after running dry or a pause, with a
// cushion of silence, so blocks that do not line up with the pulls never
// leave gaps in the middle of its sound.
TEST(Mixer, CushionedSourceHasNoGapsBetweenBlocks)
{
    Mixer mixer(4000);
    std::vector<int16_t> out;
    auto pullInto = [&](int64_t count) {
        auto pulled = mixer.pull(count, {true, true});
        out.insert(out.end(), pulled.begin(), pulled.end());
    };
    // Blocks of 1365 samples every 85 ms against pulls of 1600 every 100 ms.
    for (int millisecond = 1; millisecond <= 3000; ++millisecond) {
        if (millisecond % 85 == 50)
            mixer.push(1, filled(1365, 0.5f));
        if (millisecond % 100 == 0)
            pullInto(1600);
    }
    const int16_t sound = int16_t(0.5f * 32767.0f);
    // Silence until the first block (at 50 ms) plus its cushion, then sound.
    size_t firstSound = std::find(out.begin(), out.end(), sound) - out.begin();
    EXPECT_EQ(firstSound, 4000u - 1365u);
    EXPECT_EQ(std::count(out.begin() + long(firstSound), out.end(), 0), 0);

    // After a pause, the same: 3000 samples of cushion before a 1000-sample block.
    mixer.clearQueues();
    out.clear();
    mixer.push(1, filled(1000, 0.5f));
    pullInto(1600);
    pullInto(1600);
    std::vector<int16_t> expected(3000, 0);
    expected.resize(3200, sound);
    EXPECT_EQ(out, expected);
}
