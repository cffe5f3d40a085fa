#include "support/HelperProcess.h"

#include "desktop/ClipboardFile.h"
#include "desktop/XServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarvio;
using tarvio::testing::ClipboardManager;
using tarvio::testing::HelperProcess;
using tarvio::testing::runCommand;
using tarvio::testing::XServer;
namespace fs = std::filesystem;

namespace {

class DesktopEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarvio-desktop-e2e.XXXXXX";
        folder = ::mkdtemp(pattern);
        file = folder / "notas de aula çãé.txt";
        std::ofstream(file) << "notas";
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
    fs::path file;
};

std::string pasteUriList(const XServer& server)
{
    return runCommand(server.name(), "timeout 5 xclip -o -selection clipboard -t text/uri-list").output;
}

}

TEST_F(DesktopEndToEnd, WithoutADisplay)
{
    HelperProcess helper(HelperProcess::Environment{{"DISPLAY", ""}});
    EXPECT_EQ(helper.call("screen.notch")["result"], Json::array());
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", file.string()}})["result"], Json::parse(R"({"ok":false})"));
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", 5}})["error"],
        Json::parse(R"({"code":"invalid_params","message":"path é obrigatório"})"));
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", "/tmp/none.pdf"}})["error"],
        Json::parse(R"({"code":"not_found","message":"arquivo não encontrado: /tmp/none.pdf"})"));

    Json thermal = helper.call("system.thermal", {{"debug", true}})["result"];
    ASSERT_TRUE(thermal.is_object()) << thermal;
    EXPECT_EQ(thermal.size(), 7u);
    EXPECT_TRUE(thermal["sensors"].is_array());
    EXPECT_TRUE(thermal["thermalState"].is_string());
    EXPECT_EQ(helper.call("system.thermal")["result"].size(), 6u);

    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(DesktopEndToEnd, ScreensAndClipboardOnARealServer)
{
    std::unique_ptr<XServer> running = XServer::aboveTheCommonNumbers(3024, 982);
    ASSERT_TRUE(running->running());
    XServer& server = *running;
    ASSERT_EQ(runCommand(server.name(),
                  "xrandr --setmonitor left 1512/400x982/260+0+0 screen && "
                  "xrandr --setmonitor right 1512/400x982/260+1512+0 none")
                  .status,
        0);
    HelperProcess helper(HelperProcess::Environment{{"DISPLAY", server.name()}});

    Json screens = helper.call("screen.notch")["result"];
    ASSERT_EQ(screens.size(), 2u) << screens;
    EXPECT_EQ(screens[0]["frame"], Json::parse(R"({"x":0,"y":0,"width":1512,"height":982})"));
    EXPECT_EQ(screens[1]["frame"], Json::parse(R"({"x":1512,"y":0,"width":1512,"height":982})"));
    EXPECT_NE(screens[0]["displayId"], screens[1]["displayId"]);

    std::string uri = "file://" + percentEncodePath(file.string()) + "\r\n";
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", file.string()}})["result"]["ok"], true);
    EXPECT_EQ(pasteUriList(server), uri);
    runCommand(server.name(), "echo outro | xclip -i -selection clipboard >/dev/null 2>&1");
    EXPECT_EQ(pasteUriList(server), "outro\n");
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", file.string()}})["result"]["ok"], true);
    EXPECT_EQ(pasteUriList(server), uri);

    // The server going away costs the clipboard, not the helper.
    server.stop();
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", file.string()}})["result"]["ok"], false);
    EXPECT_EQ(helper.call("screen.notch")["result"], Json::array());
    EXPECT_EQ(helper.call("ping")["result"]["pong"], true);
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(DesktopEndToEnd, TheCopyOutlivesTheHelperWhereAClipboardManagerRuns)
{
    XServer server;
    ASSERT_TRUE(server.running());
    ClipboardManager manager(server.name());
    ASSERT_TRUE(manager.ready) << "csd-clipboard did not start";
    fs::path link = folder / "atalho";
    fs::create_symlink(file, link);
    HelperProcess helper(HelperProcess::Environment{{"DISPLAY", server.name()}});
    EXPECT_EQ(helper.call("clipboard.writeFile", {{"path", link.string()}})["result"]["ok"], true);
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(pasteUriList(server), "file://" + percentEncodePath(link.string()) + "\r\n");
}
