#include "desktop/ClipboardFile.h"
#include "desktop/ClipboardWriteFile.h"

#include "channel/HelperError.h"
#include "desktop/Doubles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarvio;
using tarvio::testing::RecordingClipboard;
namespace fs = std::filesystem;

namespace {

// A temporary folder holding one file, removed afterwards.
class ClipboardFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarvio-clipboard.XXXXXX";
        folder = ::mkdtemp(pattern);
        file = folder / "relatório final.pdf";
        std::ofstream(file) << "pdf";
    }
    void TearDown() override { fs::remove_all(folder); }

    HelperError errorOf(const Json& params)
    {
        try {
            clipboardWriteFile(params, clipboard);
        } catch (const HelperError& error) {
            return error;
        }
        return {"", "no error"};
    }

    fs::path folder;
    fs::path file;
    RecordingClipboard clipboard;
};

}

TEST(ClipboardFile, PercentEncodesEveryByteOutsideTheUnreservedSet)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/a-b.c_d~e/F9", "/tmp/a-b.c_d~e/F9"},
        {"/tmp/dir with spaces/a b", "/tmp/dir%20with%20spaces/a%20b"},
        {"/tmp/ação/relatório.pdf", "/tmp/a%C3%A7%C3%A3o/relat%C3%B3rio.pdf"},
        {"/x/%#?&=+;:@!$'()*,[]", "/x/%25%23%3F%26%3D%2B%3B%3A%40%21%24%27%28%29%2A%2C%5B%5D"},
        {std::string("/x/\x01\x7f\xff", 6), "/x/%01%7F%FF"},
        {"/x/line\nbreak\r", "/x/line%0Abreak%0D"},
    };
    for (const auto& [path, encoded] : cases)
        EXPECT_EQ(percentEncodePath(path), encoded) << path;
}

TEST(ClipboardFile, SelectionTextsCarryTheUri)
{
    ClipboardFile file{"/tmp/a b", "file:///tmp/a%20b"};
    EXPECT_EQ(uriListText(file), "file:///tmp/a%20b\r\n");
    EXPECT_EQ(gnomeCopiedFilesText(file), "copy\nfile:///tmp/a%20b");
}

TEST_F(ClipboardFiles, RefusesMissingPathsAndLeavesTheClipboardAlone)
{
    const std::pair<const char*, HelperError> cases[] = {
        {R"({})", invalidParams("path é obrigatório")},
        {R"({"path":12})", invalidParams("path é obrigatório")},
        {R"({"path":""})", invalidParams("path é obrigatório")},
        {R"({"path":null})", invalidParams("path é obrigatório")},
        {R"({"path":["/tmp"]})", invalidParams("path é obrigatório")},
        {R"({"path":"/tmp/none.pdf"})", notFound("arquivo não encontrado: /tmp/none.pdf")},
        {R"({"path":"   "})", notFound("arquivo não encontrado:    ")},
        {R"({"path":"/tmp\u0000/x"})", notFound("arquivo não encontrado: " + std::string("/tmp\0/x", 7))},
    };
    for (const auto& [params, expected] : cases) {
        HelperError error = errorOf(Json::parse(params));
        EXPECT_EQ(error.code, expected.code) << params;
        EXPECT_EQ(error.message, expected.message) << params;
    }
    // A path with spaces around an existing one is taken as it stands.
    HelperError padded = errorOf({{"path", " " + file.string() + " "}});
    EXPECT_EQ(padded.code, "not_found");
    EXPECT_TRUE(clipboard.writes.empty());
}

TEST_F(ClipboardFiles, WritesTheAbsolutePathAndReportsTheClipboardsAnswer)
{
    fs::create_directory(folder / "sub folder");
    fs::create_symlink(file, folder / "link");
    fs::path real = file;
    std::string realUri = "file://" + percentEncodePath(real.string());

    EXPECT_EQ(clipboardWriteFile({{"path", file.string()}}, clipboard), Json::parse(R"({"ok":true})"));
    EXPECT_EQ(clipboardWriteFile({{"path", (folder / "link").string()}}, clipboard)["ok"], true);
    EXPECT_EQ(clipboardWriteFile({{"path", (folder / "sub folder").string()}}, clipboard)["ok"], true);
    fs::path previous = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(clipboardWriteFile({{"path", "./sub folder/../relatório final.pdf"}}, clipboard)["ok"], true);
    fs::current_path(previous);
    clipboard.accepts = false;
    EXPECT_EQ(clipboardWriteFile({{"path", file.string()}}, clipboard), Json::parse(R"({"ok":false})"));

    ASSERT_EQ(clipboard.writes.size(), 5u);
    EXPECT_EQ(clipboard.writes[0].path, real.string());
    EXPECT_EQ(clipboard.writes[0].uri, realUri);
    EXPECT_NE(realUri.find("relat%C3%B3rio%20final.pdf"), std::string::npos);
    // A link is copied as the link, not as its target.
    EXPECT_EQ(clipboard.writes[1].uri, "file://" + percentEncodePath((folder / "link").string()));
    EXPECT_EQ(clipboard.writes[2].path, (folder / "sub folder").string());
    // Relative to the working directory; "." goes, ".." stays for the
    // system to resolve.
    EXPECT_EQ(clipboard.writes[3].path, (folder / "sub folder/../relatório final.pdf").string());
}

TEST(ClipboardFile, AbsolutePathsLoseOnlyDotSegmentsAndRepeatedSlashes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/a//b/./c", "/a/b/c"},
        {"/a/b/", "/a/b/"},
        {"/a/b/.", "/a/b/"},
        {"/", "/"},
        {"/a/../b", "/a/../b"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(clipboardFile(path).path, expected) << path;
}
