#include "recording/pulse/StreamSum.h"

#include <gtest/gtest.h>

using tarvio::pulse::StreamSum;

namespace {

using Frames = std::vector<float>;

Frames push(StreamSum& sum, uint32_t stream, Frames samples, uint32_t channels = 1)
{
    return sum.push(stream, samples.data(), samples.size() / channels);
}

// Two mono streams that have both delivered, with nothing pending.
StreamSum bothLive(size_t maxLag)
{
    StreamSum sum(1, maxLag);
    sum.add(1);
    sum.add(2);
    EXPECT_EQ(push(sum, 1, {0}), Frames {0});
    EXPECT_EQ(push(sum, 2, {0}), Frames {});
    EXPECT_EQ(push(sum, 1, {0}), Frames {0});
    return sum;
}

TEST(StreamSum, OneStreamPassesStraightThroughAndUnknownOnesAreIgnored)
{
    StreamSum sum(2, 4);
    sum.add(7);
    EXPECT_EQ(push(sum, 7, {0.5f, 0.25f, 1, 2}, 2), (Frames {0.5f, 0.25f, 1, 2}));
    EXPECT_EQ(push(sum, 8, {1, 1}, 2), Frames {});
}

TEST(StreamSum, FramesGoOutOnceEveryLiveStreamHasThem)
{
    StreamSum sum = bothLive(100);
    EXPECT_EQ(push(sum, 2, {1}), Frames {});
    EXPECT_EQ(push(sum, 1, {0.5f, 0.25f}), Frames {1.5f});
    EXPECT_EQ(push(sum, 2, {2, 2}), Frames {2.25f});
}

TEST(StreamSum, ANewStreamIsWaitedForOnlyOnceItDelivers)
{
    StreamSum sum(1, 100);
    sum.add(1);
    EXPECT_EQ(push(sum, 1, {1}), Frames {1});
    sum.add(2);
    EXPECT_EQ(push(sum, 1, {1}), Frames {1});
}

TEST(StreamSum, AStalledStreamStopsHoldingTheOthersUp)
{
    StreamSum sum = bothLive(3);
    EXPECT_EQ(push(sum, 1, {1, 2, 3}), Frames {});
    // Beyond the lag limit everything goes out and stream 2 counts as silent.
    EXPECT_EQ(push(sum, 1, {4}), (Frames {1, 2, 3, 4}));
    EXPECT_EQ(push(sum, 1, {5}), Frames {5});
    // Once it delivers again it is waited for.
    EXPECT_EQ(push(sum, 2, {10}), Frames {});
    EXPECT_EQ(push(sum, 1, {6}), Frames {16});
}

TEST(StreamSum, RemovingTheSlowStreamReleasesTheRest)
{
    StreamSum sum = bothLive(100);
    EXPECT_EQ(push(sum, 1, {1, 2}), Frames {});
    sum.remove(2);
    EXPECT_EQ(push(sum, 1, {3}), (Frames {1, 2, 3}));
}

}
