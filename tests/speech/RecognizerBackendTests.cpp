#include "FakeSpeechRecognition.h"
#include "channel/HelperError.h"
#include "speech/AudioPayload.h"
#include "speech/RecognizerBackend.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::FakeSpeechRecognition;
using tarvio::testing::ScriptedCallback;

namespace {

std::unique_ptr<audio::PcmBuffer> someAudio() { return makePcmFloatBuffer({0.1f, 0.2f, 0.3f}, 44100); }

HelperError refusal(FakeSpeechRecognition& service, const std::string& locale)
{
    auto buffer = someAudio();
    try {
        transcribeWithSFSpeechRecognizer(service, *buffer, locale, {});
    } catch (const HelperError& error) {
        return error;
    }
    return {"", ""};
}

}

TEST(SpeechAuthorizationTest, NamesEveryStatus)
{
    std::vector<std::pair<int, std::string>> cases = {{0, "notDetermined"}, {1, "denied"}, {2, "restricted"},
        {3, "authorized"}, {4, "unknown"}, {-1, "unknown"}};
    for (const auto& [status, name] : cases)
        EXPECT_EQ(speechAuthorizationName(status), name);
}

TEST(SpeechAuthorizationTest, RefusedOrUndecidedPermissionIsReportedBeforeTheLocale)
{
    struct Case {
        int status;
        int answer;
        std::string message;
        int prompts;
    };
    std::vector<Case> cases = {
        {1, 3, "permissão de reconhecimento de fala negada (denied)", 0},
        {2, 3, "permissão de reconhecimento de fala negada (restricted)", 0},
        {7, 3, "permissão de reconhecimento de fala negada (unknown)", 0},
        {0, 1, "permissão de reconhecimento de fala negada (denied)", 1},
        {0, 2, "permissão de reconhecimento de fala negada (restricted)", 1},
    };
    for (const auto& [status, answer, message, prompts] : cases) {
        FakeSpeechRecognition service;
        service.status = status;
        service.answer = answer;
        HelperError error = refusal(service, "xx-unserved");
        EXPECT_EQ(error.code, "permission_denied");
        EXPECT_EQ(error.message, message);
        EXPECT_EQ(service.authorizationRequests, prompts);
        EXPECT_EQ(service.recognitions, 0);
    }
}

TEST(SpeechAuthorizationTest, APromptThatGrantsGoesOnToRecognitionInTheSameCall)
{
    FakeSpeechRecognition service;
    service.status = 0;
    service.answer = 3;
    auto buffer = someAudio();
    EXPECT_EQ(transcribeWithSFSpeechRecognizer(service, *buffer, "en-US", {}), "ok");
    EXPECT_EQ(service.authorizationRequests, 1);
    EXPECT_EQ(service.recognitions, 1);
    // Decided now: no second prompt.
    transcribeWithSFSpeechRecognizer(service, *buffer, "en-US", {});
    EXPECT_EQ(service.authorizationRequests, 1);
}

TEST(RecognizerBackendTest, UnservedLocalesAndMissingOnDeviceSupportAreRefused)
{
    FakeSpeechRecognition service;
    service.servedLocales = {"en-US", "pt-BR", ""};
    service.onDeviceLocales = {"en-US"};
    struct Case {
        std::string locale;
        std::string message;
    };
    std::vector<Case> cases = {
        {"xx-YY", "idioma de fala não suportado: xx-YY"},
        {"en_us", "idioma de fala não suportado: en_us"},
        {"pt-BR", "reconhecimento offline indisponível para pt-BR"},
        {"", "reconhecimento offline indisponível para "},
    };
    for (const auto& [locale, message] : cases) {
        HelperError error = refusal(service, locale);
        EXPECT_EQ(error.code, "permission_denied");
        EXPECT_EQ(error.message, message);
    }
    EXPECT_EQ(service.recognitions, 0);
}

TEST(RecognizerBackendTest, RequestCarriesTheWholeUnconvertedAudioAndTheVocabularyOnlyWhenGiven)
{
    FakeSpeechRecognition service;
    auto buffer = someAudio();
    transcribeWithSFSpeechRecognizer(service, *buffer, "en-US", {});
    EXPECT_FALSE(service.lastRequest.contextualStrings);
    EXPECT_TRUE(service.lastRequest.requiresOnDeviceRecognition);
    EXPECT_FALSE(service.lastRequest.shouldReportPartialResults);
    EXPECT_TRUE(service.lastRequest.audioEnded);
    EXPECT_EQ(service.lastRequest.audio, buffer.get());
    EXPECT_EQ(service.lastSamples, (std::vector<float>{0.1f, 0.2f, 0.3f}));

    transcribeWithSFSpeechRecognizer(service, *buffer, "en-US", {"abrir agenda", "lembrete"});
    EXPECT_EQ(service.lastRequest.contextualStrings, (std::vector<std::string>{"abrir agenda", "lembrete"}));
}

TEST(RecognizerBackendTest, TheLastTextIsTrimmedAndAnErrorCountsOnlyWithoutText)
{
    struct Case {
        std::string name;
        std::vector<ScriptedCallback> script;
        std::optional<std::string> text;
        std::string error;
    };
    std::vector<Case> cases = {
        {"final trimmed", {{RecognitionResult{"  go forward\n", true}, std::nullopt}}, "go forward", ""},
        {"latest result wins", {{RecognitionResult{"go", false}, std::nullopt}, {RecognitionResult{"go home", true}, std::nullopt}},
            "go home", ""},
        {"error after partial text", {{RecognitionResult{" olá ", false}, std::nullopt}, {std::nullopt, "falhou"}}, "olá", ""},
        {"error alone", {{std::nullopt, "sem rede"}}, std::nullopt, "sem rede"},
        {"empty final", {{RecognitionResult{"", true}, std::nullopt}}, "", ""},
        {"error beside a result is ignored", {{RecognitionResult{"sim", true}, "ignorado"}}, "sim", ""},
        {"empty calls do nothing", {{std::nullopt, std::nullopt}, {RecognitionResult{"fim", true}, std::nullopt}}, "fim", ""},
        {"unicode spaces trimmed", {{RecognitionResult{"\u00a0\u2003sim\u2029", true}, std::nullopt}}, "sim", ""},
    };
    for (const auto& testCase : cases) {
        FakeSpeechRecognition service;
        service.script = testCase.script;
        auto buffer = someAudio();
        try {
            std::string text = transcribeWithSFSpeechRecognizer(service, *buffer, "en-US", {});
            EXPECT_EQ(testCase.text, text) << testCase.name;
        } catch (const HelperError& error) {
            EXPECT_FALSE(testCase.text) << testCase.name;
            EXPECT_EQ(error.code, "internal") << testCase.name;
            EXPECT_EQ(error.message, testCase.error) << testCase.name;
        }
    }
}
