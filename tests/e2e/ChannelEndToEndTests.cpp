#include "support/HelperProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace tarvio;
using tarvio::testing::HelperProcess;

namespace {

std::vector<Json> parseLines(const std::string& text)
{
    std::vector<Json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(Json::parse(line));
    return lines;
}

const Json pong = Json::parse(R"({"pong":true,"version":"1.0.0"})");

}

TEST(ChannelEndToEnd, RequestsInOneWriteAreAnsweredInOrder)
{
    HelperProcess helper;
    helper.send("{\"id\":1,\"method\":\"ping\"}\n\n  \n{\"id\":2,\"method\":\"nope\"}\r\n[1]\n{\"id\":\"três\",\"method\":\"ping\"}\n");
    for (const char* expected : {
             R"({"id":1,"result":{"pong":true,"version":"1.0.0"}})",
             R"({"id":2,"error":{"code":"invalid_params","message":"método desconhecido: nope"}})",
             R"({"id":null,"error":{"code":"invalid_params","message":"linha não é uma requisição JSON válida"}})",
             R"({"id":"três","result":{"pong":true,"version":"1.0.0"}})"}) {
        auto line = helper.readLine();
        ASSERT_TRUE(line);
        EXPECT_EQ(Json::parse(*line), Json::parse(expected));
    }
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.remainingOutput(), "");
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST(ChannelEndToEnd, UnterminatedLastLineIsAnsweredThenExitZero)
{
    HelperProcess helper;
    helper.send(R"({"id":1,"method":"ping"})" "\n" R"({"id":2,"method":"ping"})");
    EXPECT_EQ(helper.finish(), 0);
    auto lines = parseLines(helper.remainingOutput());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["id"], 2);
    EXPECT_EQ(lines[1]["result"], pong);
}

TEST(ChannelEndToEnd, EachResponseLeavesBeforeTheNextRequest)
{
    HelperProcess helper;
    for (int i = 0; i < 50; ++i) {
        helper.send(R"({"id":)" + std::to_string(i) + R"(,"method":"ping"})" "\n");
        auto line = helper.readLine(std::chrono::seconds(5));
        ASSERT_TRUE(line);
        EXPECT_EQ(Json::parse(*line)["id"], i);
    }
}

TEST(ChannelEndToEnd, MultiMegabyteLine)
{
    HelperProcess helper;
    std::string big(6 * 1024 * 1024, 'a');
    std::string request = R"({"id":"big","method":"ping","params":{"blob":")" + big + R"("},"x":")" + big + "\xFF\"}\n";
    helper.send(request + R"({"id":"after","method":"ping"})" "\n");
    auto first = helper.readLine();
    ASSERT_TRUE(first);
    EXPECT_EQ(Json::parse(*first)["id"], "big");
    auto second = helper.readLine();
    ASSERT_TRUE(second);
    EXPECT_EQ(Json::parse(*second)["id"], "after");
}

TEST(ChannelEndToEnd, InvalidUtf8InTheIdIsReplaced)
{
    HelperProcess helper;
    helper.send("{\"id\":\"a\xC3\",\"method\":\"ping\"}\n");
    auto line = helper.readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(Json::parse(*line)["id"], "a\xEF\xBF\xBD");
}

TEST(ChannelEndToEnd, EmbeddedPropertyListMatchesTheFile)
{
    std::string dumped = ::testing::TempDir() + "/plist." + std::to_string(getpid());
    std::string command = "objcopy --dump-section .tarvio_plist=" + dumped + " " TARVIO_HELPER_PATH " /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto slurp = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    std::string embedded = slurp(dumped);
    std::remove(dumped.c_str());
    std::string original = slurp(TARVIO_SOURCE_DIR "/resources/Info.plist");
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(embedded, original);
}
