#include "desktop/x11/X11Clipboard.h"

#include "desktop/ClipboardFile.h"
#include "desktop/XRequestor.h"
#include "desktop/XServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace tarvio;
using namespace std::chrono_literals;
using tarvio::testing::ClipboardManager;
using tarvio::testing::runCommand;
using tarvio::testing::shellQuoted;
using tarvio::testing::XRequestor;
using tarvio::testing::XServer;
namespace fs = std::filesystem;

namespace {

class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running());
        char pattern[] = "/tmp/tarvio-x11clipboard.XXXXXX";
        folder = fs::path(::mkdtemp(pattern)) / "pasta de relatórios";
        fs::create_directory(folder);
        file = folder / "ação final.pdf";
        std::ofstream(file) << "pdf";
    }
    void TearDown() override { fs::remove_all(folder.parent_path()); }

    // What a paste of `target` yields, or none when the owner refuses.
    std::optional<std::string> paste(const std::string& target)
    {
        auto result = runCommand(server.name(), "timeout 5 xclip -o -selection clipboard -t " + shellQuoted(target) + " 2>/dev/null");
        if (result.status != 0)
            return std::nullopt;
        return result.output;
    }

    void copyWithXclip(const std::string& text)
    {
        runCommand(server.name(), "printf %s " + shellQuoted(text) + " | xclip -i -selection clipboard >/dev/null 2>&1");
    }

    XServer server;
    fs::path folder;
    fs::path file;
};

}

TEST_F(X11ClipboardTest, PastesTheFileInEveryTextForm)
{
    X11Clipboard clipboard(server.name());
    for (const fs::path& item : {file, folder}) {
        ClipboardFile written = clipboardFile(item.string());
        ASSERT_TRUE(clipboard.writeFile(written)) << item;
        std::string uri = "file://" + percentEncodePath(item.string());
        EXPECT_EQ(paste("TARGETS"), "TARGETS\nTIMESTAMP\nMULTIPLE\ntext/uri-list\nx-special/gnome-copied-files\nUTF8_STRING\n");
        EXPECT_EQ(paste("text/uri-list"), uri + "\r\n");
        EXPECT_EQ(paste("x-special/gnome-copied-files"), "copy\n" + uri);
        EXPECT_EQ(paste("UTF8_STRING"), item.string());
        EXPECT_EQ(paste("image/png"), std::nullopt);
    }
}

TEST_F(X11ClipboardTest, LetsGoWhenAnotherClientCopiesAndTakesItBackOnTheNextWrite)
{
    X11Clipboard clipboard(server.name());
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(file.string())));
    copyWithXclip("texto copiado");
    EXPECT_EQ(paste("UTF8_STRING"), "texto copiado");
    // Nothing is grabbed back behind the other client's back.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(paste("UTF8_STRING"), "texto copiado");

    ASSERT_TRUE(clipboard.writeFile(clipboardFile(folder.string())));
    EXPECT_EQ(paste("UTF8_STRING"), folder.string());
}

TEST_F(X11ClipboardTest, AnswersMultipleOldStyleAndEarlyRequests)
{
    X11Clipboard clipboard(server.name());
    ClipboardFile written = clipboardFile(file.string());
    ASSERT_TRUE(clipboard.writeFile(written));
    XRequestor requestor(server.name());
    xcb_atom_t uriList = requestor.atom("text/uri-list");
    xcb_atom_t utf8 = requestor.atom("UTF8_STRING");
    xcb_atom_t first = requestor.atom("TARVIO_TEST_FIRST");
    xcb_atom_t second = requestor.atom("TARVIO_TEST_SECOND");
    xcb_atom_t third = requestor.atom("TARVIO_TEST_THIRD");
    xcb_atom_t unknown = requestor.atom("image/png");
    xcb_atom_t pairs = requestor.atom("TARVIO_TEST_PAIRS");

    requestor.setAtoms(pairs, requestor.atom("ATOM_PAIR"), {uriList, first, unknown, second, utf8, third});
    ASSERT_EQ(requestor.convert(requestor.atom("MULTIPLE"), pairs), pairs);
    EXPECT_EQ(requestor.atoms(pairs), (std::vector<xcb_atom_t>{uriList, first, unknown, XCB_NONE, utf8, third}));
    EXPECT_EQ(requestor.text(first), uriListText(written));
    EXPECT_EQ(requestor.text(third), written.path);
    // MULTIPLE needs a property to read its pairs from.
    EXPECT_EQ(requestor.convert(requestor.atom("MULTIPLE"), XCB_NONE), std::nullopt);

    // A requestor naming no property gets the target as the property.
    ASSERT_EQ(requestor.convert(utf8, XCB_NONE), utf8);
    EXPECT_EQ(requestor.text(utf8), written.path);

    // The time the selection was taken, and no answer for times before it.
    ASSERT_EQ(requestor.convert(requestor.atom("TIMESTAMP"), first), first);
    std::vector<xcb_atom_t> time = requestor.atoms(first);
    ASSERT_EQ(time.size(), 1u);
    EXPECT_GT(time[0], 0u);
    EXPECT_EQ(requestor.convert(utf8, second, time[0] - 1), std::nullopt);
    EXPECT_EQ(requestor.convert(utf8, second, time[0]), second);
}

TEST_F(X11ClipboardTest, SurvivesTheServerGoingAwayAndComingBack)
{
    std::unique_ptr<XServer> first = XServer::aboveTheCommonNumbers();
    ASSERT_TRUE(first->running());
    X11Clipboard clipboard(first->name());
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(file.string())));
    int display = first->number();
    first->stop();
    // Writing to the dead connection must not kill the process, even where
    // SIGPIPE is not ignored.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    EXPECT_FALSE(clipboard.writeFile(clipboardFile(file.string())));
    EXPECT_FALSE(clipboard.writeFile(clipboardFile(file.string())));
    std::signal(SIGPIPE, previous);

    XServer again(1512, 982, display);
    ASSERT_TRUE(again.running());
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(folder.string())));
    EXPECT_EQ(runCommand(again.name(), "timeout 5 xclip -o -selection clipboard").output, folder.string());
}

TEST_F(X11ClipboardTest, AStuckServerDoesNotHoldUpTheWriter)
{
    X11Clipboard clipboard(server.name(), 300ms);
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(file.string())));
    ::kill(server.pid(), SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(clipboard.writeFile(clipboardFile(folder.string())));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    ::kill(server.pid(), SIGCONT);

    // Once the server wakes, the abandoned write must not stay in effect.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(paste("UTF8_STRING"), std::nullopt);
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(folder.string())));
    EXPECT_EQ(paste("UTF8_STRING"), folder.string());
}

TEST_F(X11ClipboardTest, DataBeyondTheLargestRequestIsRefusedAndEmptiesTheClipboard)
{
    X11Clipboard clipboard(server.name());
    ASSERT_TRUE(clipboard.writeFile(clipboardFile(file.string())));
    // Beyond what even BIG-REQUESTS carries (16 MiB); such data would need INCR.
    std::string huge = "/" + std::string(17 << 20, 'a');
    EXPECT_FALSE(clipboard.writeFile({huge, "file://" + huge}));
    EXPECT_EQ(paste("UTF8_STRING"), std::nullopt);
}

TEST_F(X11ClipboardTest, HandsTheCopyToARunningClipboardManagerAtExit)
{
    {
        // No manager: nothing to hand to.
        X11Clipboard clipboard(server.name());
        ASSERT_TRUE(clipboard.writeFile(clipboardFile(file.string())));
        EXPECT_FALSE(clipboard.handOver());
    }
    EXPECT_EQ(paste("UTF8_STRING"), std::nullopt);

    ClipboardManager manager(server.name());
    ASSERT_TRUE(manager.ready) << "csd-clipboard did not start";
    ClipboardFile written = clipboardFile(file.string());
    {
        X11Clipboard clipboard(server.name());
        ASSERT_TRUE(clipboard.writeFile(written));
        EXPECT_TRUE(clipboard.handOver());
    }
    // The helper's connection is gone; the manager serves the copy.
    EXPECT_EQ(paste("text/uri-list"), uriListText(written));
    EXPECT_EQ(paste("x-special/gnome-copied-files"), gnomeCopiedFilesText(written));
    EXPECT_EQ(paste("UTF8_STRING"), written.path);

    // What another client copied since is not ours to hand over.
    X11Clipboard clipboard(server.name());
    ASSERT_TRUE(clipboard.writeFile(written));
    copyWithXclip("texto copiado");
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(clipboard.handOver());
}

TEST(X11Clipboard, NoServerAnswersFalse)
{
    X11Clipboard clipboard("not a display");
    EXPECT_FALSE(clipboard.writeFile({"/tmp", "file:///tmp"}));
}
