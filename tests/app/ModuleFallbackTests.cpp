// The helper copied without its modules, or beside a module that cannot be
// loaded: the status methods keep their answers' shape, the others say
// which file is missing, and nothing answers "internal".

#include "support/HelperProcess.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

using tarvio::Json;
using tarvio::testing::HelperProcess;
using tarvio::testing::TemporaryFolder;

namespace {

std::set<std::string> memberNames(const Json& object)
{
    std::set<std::string> names;
    for (const auto& [name, value] : object.items())
        names.insert(name);
    return names;
}

class ModuleFallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(TARVIO_HELPER_PATH, executable());
        std::filesystem::create_directories(folder / "data");
    }

    std::filesystem::path executable() const { return folder / "tarvio-helper"; }
    std::string modulePath(const std::string& name) const
    {
        return (folder / "modules" / ("libtarvio-" + name + ".so")).string();
    }
    HelperProcess::Environment environment() const { return {{"XDG_DATA_HOME", (folder / "data").string()}}; }

    TemporaryFolder folder;
};

const Json unavailableSpeech = {{"available", false}, {"backend", "unavailable"}, {"authorization", "authorized"}};
const Json idleRecording = {{"state", "idle"}, {"durationMs", 0}, {"levels", {{"system", 0}, {"mic", 0}}}};

// Every method that can fail, with the module it lives in.
const std::vector<std::pair<std::string, std::string>> failingMethods = {
    {"speech.transcribe", "speech"},
    {"recording.permission", "recording"},
    {"recording.start", "recording"},
    {"recording.pause", "recording"},
    {"recording.resume", "recording"},
    {"recording.stop", "recording"},
    {"recording.selftest", "recording"},
};

TEST_F(ModuleFallback, StatusMethodsKeepTheRealAnswersShape)
{
    HelperProcess real(environment());
    Json realSpeech = real.call("speech.status", {{"locale", "pt-BR"}})["result"];
    Json realRecording = real.call("recording.status")["result"];
    real.finish();

    HelperProcess helper(executable().string(), environment());
    EXPECT_EQ(helper.call("ping")["result"]["pong"], true);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Json speech = helper.call("speech.status", {{"locale", "en-US"}});
        EXPECT_EQ(speech["result"], unavailableSpeech) << speech;
        EXPECT_EQ(memberNames(speech["result"]), memberNames(realSpeech));
        EXPECT_EQ(helper.call("recording.status")["result"], idleRecording);
    }
    EXPECT_EQ(realRecording, idleRecording);
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(ModuleFallback, OtherMethodsNameTheMissingFile)
{
    HelperProcess helper(executable().string(), environment());
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const auto& [method, module] : failingMethods) {
            SCOPED_TRACE(method);
            Json response = helper.call(method, {{"path", (folder / "x.wav").string()}});
            ASSERT_TRUE(response.contains("error")) << response;
            EXPECT_EQ(response["error"]["code"], "unavailable");
            EXPECT_EQ(response["error"]["message"], "módulo não encontrado: " + modulePath(module));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "x.wav"));
    EXPECT_EQ(helper.finish(), 0);
}

TEST_F(ModuleFallback, AFileThatIsNoModuleIsReportedWithTheLoadersReason)
{
    std::filesystem::create_directories(folder / "modules");
    std::ofstream(modulePath("speech")) << "not a shared object\n";
    std::filesystem::copy_file(FOREIGN_MODULE_PATH, modulePath("recording"));

    HelperProcess helper(executable().string(), environment());
    EXPECT_EQ(helper.call("speech.status")["result"], unavailableSpeech);
    EXPECT_EQ(helper.call("recording.status")["result"], idleRecording);
    for (const auto& [method, module] : {failingMethods.front(), failingMethods.back()}) {
        Json error = helper.call(method)["error"];
        EXPECT_EQ(error["code"], "unavailable") << error;
        std::string message = error["message"];
        std::string prefix = "não foi possível carregar o módulo " + modulePath(module) + ": ";
        EXPECT_EQ(message.substr(0, prefix.size()), prefix);
        EXPECT_GT(message.size(), prefix.size());
        EXPECT_EQ(message.find(modulePath(module), prefix.size()), std::string::npos) << message;
    }
    EXPECT_EQ(helper.finish(), 0);
}

}
