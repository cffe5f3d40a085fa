#include "desktop/x11/RandrScreens.h"

#include "desktop/ScreenNotch.h"
#include "desktop/XServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

using namespace tarvio;
using namespace std::chrono_literals;
using tarvio::testing::CommandResult;
using tarvio::testing::runCommand;
using tarvio::testing::XServer;

TEST(RandrScreens, SharedServerHasOneScreen)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs the test command's X server";
    RandrScreens screens;
    Json result = screenNotch(screens);
    ASSERT_EQ(result.size(), 1u) << result;
    EXPECT_NE(result[0]["displayId"], 0);
    EXPECT_EQ(result[0]["frame"], Json::parse(R"({"x":0,"y":0,"width":1512,"height":982})"));
    EXPECT_EQ(result[0]["safeAreaTop"], 0);
    EXPECT_EQ(result[0]["notchWidth"], 0);
    EXPECT_TRUE(result[0]["auxiliaryTopLeftArea"].is_null());
}

TEST(RandrScreens, TwoMonitorsSideBySide)
{
    XServer server(3024, 982);
    ASSERT_TRUE(server.running());
    ASSERT_EQ(runCommand(server.name(),
                  "xrandr --setmonitor left 1512/400x982/260+0+0 screen && "
                  "xrandr --setmonitor right 1512/400x982/260+1512+0 none")
                  .status,
        0);
    std::vector<ScreenGeometry> screens = RandrScreens(server.name()).list();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(rect(screens[0].frame), Json::parse(R"({"x":0,"y":0,"width":1512,"height":982})"));
    EXPECT_EQ(rect(screens[1].frame), Json::parse(R"({"x":1512,"y":0,"width":1512,"height":982})"));
    // The first monitor is named by its output, the second (no output) by
    // its name atom.
    ASSERT_TRUE(screens[0].displayNumber && screens[1].displayNumber);
    EXPECT_NE(*screens[0].displayNumber, 0u);
    EXPECT_NE(*screens[1].displayNumber, 0u);
    EXPECT_NE(*screens[0].displayNumber, *screens[1].displayNumber);

    // Removing a monitor shows in the next answer.
    ASSERT_EQ(runCommand(server.name(), "xrandr --delmonitor right").status, 0);
    EXPECT_EQ(RandrScreens(server.name()).list().size(), 1u);
}

TEST(RandrScreens, ANameAtomEqualToAnOutputStillGivesUniqueNumbers)
{
    XServer server(3024, 982);
    ASSERT_TRUE(server.running());
    // A monitor without outputs, named by the atom whose number is the
    // automatic monitor's output id.
    CommandResult made = runCommand(server.name(),
        "output=$(xrandr --verbose | awk '/Identifier:/ {print $2; exit}') && "
        "name=$(xlsatoms -range $((output))-$((output)) | cut -f2) && [ -n \"$name\" ] && "
        "xrandr --setmonitor \"$name\" 1512/400x982/260+1512+0 none && printf %d \"$output\"");
    ASSERT_EQ(made.status, 0) << made.output;
    std::vector<ScreenGeometry> screens = RandrScreens(server.name()).list();
    ASSERT_EQ(screens.size(), 2u);
    ASSERT_TRUE(screens[0].displayNumber && screens[1].displayNumber);
    // The monitor with the output keeps the output's id; the one named by
    // the atom gets another number, the same on every call.
    size_t automatic = screens[0].frame.x == 0 ? 0 : 1;
    EXPECT_EQ(std::to_string(*screens[automatic].displayNumber), made.output);
    EXPECT_NE(*screens[0].displayNumber, *screens[1].displayNumber);
    EXPECT_EQ(RandrScreens(server.name()).list()[1 - automatic].displayNumber, screens[1 - automatic].displayNumber);
}

TEST(RandrScreens, AStoppedServerCountsAsNoDisplayWithoutHoldingTheCaller)
{
    XServer server;
    ASSERT_TRUE(server.running());
    RandrScreens screens(server.name(), 300ms);
    ASSERT_EQ(screens.list().size(), 1u);

    ::kill(server.pid(), SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(screens.list().empty());
    // A second request while the first query is still stuck.
    EXPECT_TRUE(screens.list().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    ::kill(server.pid(), SIGCONT);

    // Once the server wakes, the stuck query ends and the screen is back.
    size_t found = 0;
    for (int attempt = 0; attempt < 50 && found == 0; ++attempt) {
        std::this_thread::sleep_for(100ms);
        found = screens.list().size();
    }
    EXPECT_EQ(found, 1u);
}

TEST(RandrScreens, WithoutRandrTheScreenIsOneMonitor)
{
    XServer server(1024, 768, std::nullopt, {"-extension", "RANDR"});
    ASSERT_TRUE(server.running());
    std::vector<ScreenGeometry> screens = RandrScreens(server.name()).list();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(rect(screens[0].frame), Json::parse(R"({"x":0,"y":0,"width":1024,"height":768})"));
    EXPECT_FALSE(screens[0].displayNumber);
}

TEST(RandrScreens, NoServerGivesNoScreens)
{
    EXPECT_TRUE(RandrScreens(":999999").list().empty());
    EXPECT_TRUE(RandrScreens("not a display").list().empty());
}
