#include "channel/HelperError.h"
#include "recording/FakeCaptureDevices.h"
#include "recording/RecordingCommands.h"
#include "recording/TestClock.h"
#include "recording/WavFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tarvio;
using namespace tarvio::testing;
using namespace std::chrono_literals;

namespace {

// Consent as a desktop with a prompt would give it: asking settles it.
class FakeMicrophoneAccess final : public MicrophoneAccess {
public:
    int status() override { return current; }
    bool ask() override
    {
        ++asked;
        current = grantsWhenAsked ? authorized : denied;
        return grantsWhenAsked;
    }

    int current = authorized;
    bool grantsWhenAsked = true;
    int asked = 0;
};

class RecordingCommandsTest : public ::testing::Test {
protected:
    Json start(Json params)
    {
        if (!params.contains("path"))
            params["path"] = file.string();
        return commands.recordingStart(params);
    }
    template<typename Action>
    HelperError errorOf(Action&& action)
    {
        try {
            action();
        } catch (const HelperError& error) {
            return error;
        }
        ADD_FAILURE() << "no error";
        return {"", ""};
    }

    TemporaryFolder folder;
    std::filesystem::path file = folder / "rec.wav";
    FakeCaptureDevices devices;
    FakeMicrophoneAccess access;
    std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
    RecordingCommands commands {devices, access, clock};
};

const Json idle = {{"state", "idle"}, {"durationMs", 0}, {"levels", {{"system", 0}, {"mic", 0}}}};

}

TEST_F(RecordingCommandsTest, WithoutARecordingStatusIsIdleAndTheOthersRefuse)
{
    EXPECT_EQ(commands.recordingStatus({}), idle);
    EXPECT_TRUE(commands.recordingStatus({})["levels"]["mic"].is_number_integer());
    for (auto command : {&RecordingCommands::recordingPause, &RecordingCommands::recordingResume,
             &RecordingCommands::recordingStop}) {
        HelperError error = errorOf([&] { (commands.*command)(Json::object()); });
        EXPECT_EQ(error.code, "not_found");
        EXPECT_EQ(error.message, "nenhuma gravação em andamento");
    }
}

TEST_F(RecordingCommandsTest, StartRefusesBadParameters)
{
    struct Case {
        Json params;
        std::string message;
    };
    const std::vector<Case> cases {
        {{{"sources", "mic"}}, "path é obrigatório"},
        {{{"path", 5}}, "path é obrigatório"},
        {{{"path", ""}}, "path é obrigatório"},
        {{{"path", file.string()}, {"sources", "Both"}}, "sources deve ser both, system ou mic"},
        {{{"path", file.string()}, {"sources", "mic "}}, "sources deve ser both, system ou mic"},
        // The file system would stop at the NUL and write another file.
        {{{"path", file.string() + std::string(1, '\0') + "/../x.wav"}}, "path não pode conter o caractere NUL"},
    };
    for (const Case& test : cases) {
        HelperError error = errorOf([&] { commands.recordingStart(test.params); });
        EXPECT_EQ(error.code, "invalid_params") << test.params;
        EXPECT_EQ(error.message, test.message) << test.params;
    }
    EXPECT_EQ(commands.recordingStatus({}), idle);
    EXPECT_FALSE(std::filesystem::exists(file));
    // A "sources" of the wrong type means both.
    EXPECT_EQ(start({{"sources", 3}})["sources"], (Json {{"system", true}, {"mic", true}}));
}

TEST_F(RecordingCommandsTest, ASecondStartIsRefusedBeforeItsParametersAreRead)
{
    start({});
    HelperError error = errorOf([&] { commands.recordingStart({{"path", ""}}); });
    EXPECT_EQ(error.code, "invalid_params");
    EXPECT_EQ(error.message, "já existe uma gravação em andamento");
}

TEST_F(RecordingCommandsTest, ExcludedProcessesFollowTheHelperItself)
{
    start({{"excludePids", {123, "456", 7.9, true, false, -3.5, nullptr, Json::array(), Json::object()}}});
    EXPECT_EQ(devices.excluded, (std::vector<int32_t> {int32_t(getpid()), 123, 7, 1, 0, -3}));
    commands.recordingStop({});
    start({{"excludePids", "123"}});
    EXPECT_EQ(devices.excluded, (std::vector<int32_t> {int32_t(getpid())}));
}

TEST_F(RecordingCommandsTest, MicrophoneConsentDecidesWhatStarts)
{
    struct Case {
        int status;
        bool grants;
        std::string sources;
        bool asks;
        std::optional<bool> micStarts; // none: refused with permission_denied
        Json warnings;
    };
    const std::vector<Case> cases {
        {3, true, "both", false, true, Json::array()},
        {0, true, "mic", true, true, Json::array()},
        {0, false, "mic", true, std::nullopt, {}},
        {0, false, "both", true, false, {"mic_denied"}},
        {2, true, "mic", false, std::nullopt, {}},
        {1, true, "both", false, false, {"mic_denied"}},
        {2, true, "system", false, false, Json::array()},
        {0, true, "system", false, false, Json::array()},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.sources + " with status " + std::to_string(test.status));
        access.current = test.status;
        access.grantsWhenAsked = test.grants;
        access.asked = 0;
        if (!test.micStarts) {
            HelperError error = errorOf([&] { start({{"sources", test.sources}}); });
            EXPECT_EQ(error.code, "permission_denied");
            EXPECT_EQ(error.message,
                "sem permissão de microfone; permita em Ajustes do Sistema > Privacidade e Segurança > Microfone");
            EXPECT_EQ(access.asked, test.asks ? 1 : 0);
            continue;
        }
        Json started = start({{"sources", test.sources}});
        EXPECT_EQ(access.asked, test.asks ? 1 : 0);
        EXPECT_EQ(started["sources"]["mic"], *test.micStarts);
        EXPECT_EQ(started["sources"]["system"], test.sources != "mic");
        EXPECT_EQ(started["warnings"], test.warnings);
        EXPECT_EQ(started["id"].get<std::string>().size(), 36u);
        commands.recordingStop({});
    }
}

TEST_F(RecordingCommandsTest, PermissionNamesEveryStatus)
{
    const std::vector<std::pair<int, std::string>> names {
        {0, "notDetermined"}, {1, "restricted"}, {2, "denied"}, {3, "authorized"}, {7, "unknown"}};
    for (const auto& [status, name] : names) {
        access.current = status;
        EXPECT_EQ(commands.recordingPermission({}), (Json {{"mic", name}, {"system", "unknown"}, {"systemSupported", true}}));
    }
    EXPECT_EQ(access.asked, 0);
    devices.supported = false;
    EXPECT_EQ(commands.recordingPermission({})["system"], "unsupported");
    EXPECT_EQ(commands.recordingPermission({})["systemSupported"], false);
}

TEST_F(RecordingCommandsTest, SourceFailuresBecomeWarningsOrErrors)
{
    struct Case {
        std::string sources;
        bool micFails;
        bool systemFails;
        bool supported;
        Json warnings;             // when it starts
        std::string errorMessage;  // when it does not
    };
    const std::string tapRefused = "não foi possível capturar o som do computador (código -4); permita em Ajustes do "
                                   "Sistema > Privacidade e Segurança > Gravação de Áudio do Sistema";
    const std::vector<Case> cases {
        {"both", true, false, true, {"mic_unavailable"}, ""},
        {"both", false, true, true, {"system_audio_unavailable"}, ""},
        {"both", false, false, false, {"system_audio_unsupported"}, ""},
        {"both", true, true, true, {}, tapRefused},
        {"system", false, true, true, {}, tapRefused},
        {"mic", true, false, true, {}, "nenhum microfone disponível"},
        {"system", false, false, false, {}, "o som do computador exige macOS 14.2 ou mais novo"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.sources + (test.micFails ? " mic fails" : "") + (test.systemFails ? " system fails" : ""));
        devices.micFailure = test.micFails ? std::optional(unavailable("nenhum microfone disponível")) : std::nullopt;
        devices.systemFailure = test.systemFails ? std::optional(permissionDenied(tapRefused)) : std::nullopt;
        devices.supported = test.supported;
        if (!test.errorMessage.empty()) {
            HelperError error = errorOf([&] { start({{"sources", test.sources}}); });
            EXPECT_EQ(error.message, test.errorMessage);
            EXPECT_EQ(commands.recordingStatus({}), idle);
            // The file stays behind, finished and empty.
            EXPECT_EQ(readBytes(file).size(), 44u);
            continue;
        }
        Json started = start({{"sources", test.sources}});
        EXPECT_EQ(started["warnings"], test.warnings);
        EXPECT_EQ(started["sources"]["mic"], !test.micFails);
        EXPECT_EQ(started["sources"]["system"], !test.systemFails && test.supported);
        commands.recordingStop({});
    }
}

TEST_F(RecordingCommandsTest, PauseAndResumeAnswerWithTheStatus)
{
    devices.micStream = 0.5f;
    start({{"sources", "mic"}});
    ASSERT_TRUE(clock->advanceTicks(10));
    Json status = commands.recordingStatus({});
    EXPECT_EQ(status["state"], "recording");
    EXPECT_EQ(status["durationMs"], 1000);
    EXPECT_EQ(status["sources"], (Json {{"system", false}, {"mic", true}}));
    EXPECT_TRUE(status["levels"]["mic"].is_number_float());
    EXPECT_GT(status["levels"]["mic"].get<double>(), 0.0);
    EXPECT_EQ(status["levels"]["system"], 0.0);

    EXPECT_EQ(commands.recordingResume({})["state"], "recording");
    EXPECT_EQ(commands.recordingPause({})["state"], "paused");
    Json paused = commands.recordingPause({});
    EXPECT_EQ(paused["state"], "paused");
    ASSERT_TRUE(clock->advance(5s));
    EXPECT_EQ(commands.recordingStatus({})["durationMs"], 1000);
    EXPECT_EQ(commands.recordingResume({})["state"], "recording");
    ASSERT_TRUE(clock->advanceTicks(5));
    EXPECT_EQ(commands.recordingStop({}), (Json {{"durationMs", 1500}, {"path", file.string()}, {"lostMs", 0}}));
    EXPECT_EQ(readBytes(file).size(), 44u + 2 * 24000u);
}

TEST_F(RecordingCommandsTest, StopReturnsThePathAsGivenOnce)
{
    const std::string path = (folder / " odd name.wav").string();
    start({{"path", path}, {"sources", "system"}});
    EXPECT_EQ(commands.recordingStop({})["path"], path);
    EXPECT_EQ(errorOf([&] { commands.recordingStop({}); }).code, "not_found");
    EXPECT_EQ(commands.recordingStatus({}), idle);
}

// What the host must know while it records: a source that went away, and a
// file that cannot be written (the recording goes on meanwhile).
TEST_F(RecordingCommandsTest, StatusTellsLostSourcesAndFailingWrites)
{
    start({});
    auto trouble = [&] {
        Json status = commands.recordingStatus({});
        return Json {{"lostSources", status["lostSources"]}, {"writeFailing", status["writeFailing"]},
            {"writeError", status["writeError"]}, {"lostMs", status["lostMs"]}};
    };
    auto expected = [](bool systemLost, bool micLost, Json error, int lostMs) {
        return Json {{"lostSources", {{"system", systemLost}, {"mic", micLost}}}, {"writeFailing", !error.is_null()},
            {"writeError", error}, {"lostMs", lostMs}};
    };
    ASSERT_TRUE(clock->advanceTicks(5));
    EXPECT_EQ(trouble(), expected(false, false, nullptr, 0));
    devices.mic->lost = true;
    EXPECT_EQ(trouble(), expected(false, true, nullptr, 0));
    devices.mic->lost = false;
    devices.system->lost = true;
    {
        FileSizeLimit full(44 + 5 * 3200);
        ASSERT_TRUE(clock->advanceTicks(3));
        EXPECT_EQ(trouble(), expected(true, false, "File too large", 300));
        EXPECT_EQ(commands.recordingStatus({})["state"], "recording");
    }
    devices.system->lost = false;
    ASSERT_TRUE(clock->advanceTicks(2));
    EXPECT_EQ(trouble(), expected(false, false, nullptr, 300));
    EXPECT_EQ(commands.recordingStop({}), (Json {{"durationMs", 1000}, {"path", file.string()}, {"lostMs", 300}}));
    EXPECT_EQ(readBytes(file).size(), 44u + 32000u);
}
