#include "FakeSpeechAnalysis.h"
#include "FakeSpeechRecognition.h"
#include "channel/HelperError.h"
#include "speech/SpeechMethods.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::FakeSpeechAnalysis;
using tarvio::testing::FakeSpeechRecognition;

namespace {

// One sample, 1.0.
const std::string oneSample = "AACAPw==";

struct Services {
    FakeSpeechAnalysis analysis;
    FakeSpeechRecognition recognition;
    SpeechServices services() { return {analysis, recognition}; }
};

}

TEST(VocabularyTest, OnlyAListOfStringsCountsAndBlankEntriesAreDropped)
{
    struct Case {
        Json value;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {Json::array({"abrir agenda", 3, "x"}), {}},
        {"abrir", {}},
        {Json::array({" ", "\t", "\u00a0\u3000", "agenda", " lembrete "}), {"agenda", " lembrete "}},
        {Json::array({"\n", "a", "a"}), {"\n", "a", "a"}},
        {Json::array(), {}},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(readVocabulary({{"vocabulary", value}}), expected) << value.dump();
    EXPECT_TRUE(readVocabulary(Json::object()).empty());
}

TEST(SpeechTranscribeTest, PayloadErrorsComeFirstAndNoBackEndRuns)
{
    Services fakes;
    try {
        speechTranscribe(fakes.services(), {{"locale", "pt-BR"}});
        FAIL();
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "invalid_params");
        EXPECT_EQ(error.message, "audioBase64 inválido");
    }
    EXPECT_EQ(fakes.analysis.sessions, 0);
    EXPECT_EQ(fakes.recognition.recognitions, 0);
}

TEST(SpeechTranscribeTest, ChoosesTheBackEndAndFallsBack)
{
    struct Case {
        std::string name;
        bool systemSupported;
        std::vector<std::string> installed;
        std::optional<std::string> finalizeError;
        std::vector<TranscriptionResult> results;
        std::string backend;
        std::string text;
    };
    std::vector<Case> cases = {
        {"analyzer answers", true, {"pt_BR"}, std::nullopt, {{"olá", true}}, "speech_transcriber", "olá"},
        {"analyzer without words still answers", true, {"pt_BR"}, std::nullopt, {}, "speech_transcriber", ""},
        {"no installed model", true, {}, std::nullopt, {{"olá", true}}, "sf_speech_recognizer", "ok"},
        {"analyzer failure is dropped", true, {"pt_BR"}, "falhou", {{"olá", true}}, "sf_speech_recognizer", "ok"},
        {"older system", false, {"pt_BR"}, std::nullopt, {{"olá", true}}, "sf_speech_recognizer", "ok"},
    };
    for (const auto& testCase : cases) {
        Services fakes;
        fakes.analysis.systemSupported = testCase.systemSupported;
        fakes.analysis.installed = testCase.installed;
        fakes.analysis.finalizeError = testCase.finalizeError;
        fakes.analysis.results = testCase.results;
        fakes.recognition.servedLocales = fakes.recognition.onDeviceLocales = {"pt-BR"};
        Json result = speechTranscribe(fakes.services(), {{"audioBase64", oneSample}});
        EXPECT_EQ(result, (Json{{"text", testCase.text}, {"backend", testCase.backend}})) << testCase.name;
        EXPECT_EQ(fakes.recognition.recognitions, testCase.backend == "sf_speech_recognizer" ? 1 : 0) << testCase.name;
    }
}

TEST(SpeechTranscribeTest, BothBackEndsGetTheSameBufferLocaleAndVocabulary)
{
    Services fakes;
    fakes.analysis.installed = {};
    fakes.analysis.supported = {{"en-US", "en_US"}};
    fakes.recognition.servedLocales = fakes.recognition.onDeviceLocales = {"en-US"};
    Json params = {{"audioBase64", oneSample}, {"sampleRate", 22050}, {"locale", "en-US"},
        {"vocabulary", Json::array({"open", " "})}};
    speechTranscribe(fakes.services(), params);
    EXPECT_EQ(fakes.recognition.lastRequest.contextualStrings, (std::vector<std::string>{"open"}));
    EXPECT_EQ(fakes.recognition.lastSamples, (std::vector<float>{1.0f}));
}

TEST(SpeechTranscribeTest, LocaleDefaultsToBrazilianPortugueseAndAnEmptyOneIsPassedOn)
{
    Services fakes;
    fakes.analysis.systemSupported = false;
    fakes.recognition.servedLocales = fakes.recognition.onDeviceLocales = {"pt-BR"};
    EXPECT_EQ(speechTranscribe(fakes.services(), {{"audioBase64", oneSample}, {"locale", 12}})["text"], "ok");
    try {
        speechTranscribe(fakes.services(), {{"audioBase64", oneSample}, {"locale", ""}});
        FAIL();
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "permission_denied");
        EXPECT_EQ(error.message, "idioma de fala não suportado: ");
    }
}

TEST(SpeechStatusTest, ReportsTheBackEndThatWouldServeTheLocale)
{
    struct Case {
        std::string name;
        bool systemSupported;
        bool available;
        std::vector<std::string> installed;
        int status;
        std::vector<std::string> onDevice;
        Json expected;
    };
    auto answer = [](bool available, const char* backend, const char* authorization) {
        return Json{{"available", available}, {"backend", backend}, {"authorization", authorization}};
    };
    std::vector<Case> cases = {
        {"analyzer model installed", true, true, {"pt_BR"}, 1, {}, answer(true, "speech_transcriber", "authorized")},
        {"analyzer model missing", true, true, {}, 3, {"pt-BR"}, answer(true, "sf_speech_recognizer", "authorized")},
        {"analyzer service unavailable", true, false, {"pt_BR"}, 3, {}, answer(false, "unavailable", "authorized")},
        {"not asked yet", false, true, {"pt_BR"}, 0, {"pt-BR"}, answer(true, "sf_speech_recognizer", "notDetermined")},
        {"refused", false, true, {}, 1, {"pt-BR"}, answer(false, "sf_speech_recognizer", "denied")},
        {"restricted", false, true, {}, 2, {"pt-BR"}, answer(false, "sf_speech_recognizer", "restricted")},
        {"unknown status", false, true, {}, 9, {"pt-BR"}, answer(false, "sf_speech_recognizer", "unknown")},
        {"not served", false, true, {}, 3, {}, answer(false, "unavailable", "authorized")},
    };
    for (const auto& testCase : cases) {
        Services fakes;
        fakes.analysis.systemSupported = testCase.systemSupported;
        fakes.analysis.available = testCase.available;
        fakes.analysis.installed = testCase.installed;
        fakes.recognition.status = testCase.status;
        fakes.recognition.servedLocales = {"pt-BR"};
        fakes.recognition.onDeviceLocales = testCase.onDevice;
        EXPECT_EQ(speechStatus(fakes.services(), Json::object()), testCase.expected) << testCase.name;
        EXPECT_EQ(fakes.recognition.authorizationRequests, 0) << testCase.name;
        EXPECT_EQ(fakes.analysis.sessions, 0) << testCase.name;
    }
}
