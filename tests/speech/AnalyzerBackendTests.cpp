#include "FakeSpeechAnalysis.h"
#include "speech/AnalyzerBackend.h"
#include "speech/AudioPayload.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::FakeSpeechAnalysis;
using Kind = AnalyzerOutcome::Kind;

namespace {

AnalyzerOutcome run(FakeSpeechAnalysis& service, const std::vector<std::string>& vocabulary = {},
    double rate = 16000, const std::string& locale = "pt-BR")
{
    auto buffer = makePcmFloatBuffer(std::vector<float>(4800, 0.1f), rate);
    return transcribeWithSpeechTranscriber(service, *buffer, locale, vocabulary);
}

}

TEST(AnalyzerBackendTest, NormalizedLocaleIdentifiers)
{
    EXPECT_EQ(normalizedLocaleId("pt_BR"), "pt-br");
    EXPECT_EQ(normalizedLocaleId("EN-us"), "en-us");
    EXPECT_EQ(normalizedLocaleId(""), "");
}

TEST(AnalyzerBackendTest, MissingServiceLocaleOrModelGivesNoOutcome)
{
    struct Case {
        std::string name;
        bool available;
        std::vector<std::pair<std::string, std::string>> supported;
        std::vector<std::string> installed;
        Kind expected;
    };
    std::vector<Case> cases = {
        {"service unavailable", false, {{"pt-BR", "pt_BR"}}, {"pt_BR"}, Kind::none},
        {"no supported equivalent", true, {}, {"pt_BR"}, Kind::none},
        {"model not installed", true, {{"pt-BR", "pt_BR"}}, {"en_US", "pt_PT"}, Kind::none},
        {"installed, other case and separator", true, {{"pt-BR", "pt-BR"}}, {"en_US", "PT_br"}, Kind::text},
    };
    for (const auto& testCase : cases) {
        FakeSpeechAnalysis service;
        service.available = testCase.available;
        service.supported = testCase.supported;
        service.installed = testCase.installed;
        AnalyzerOutcome outcome = run(service);
        EXPECT_EQ(outcome.kind, testCase.expected) << testCase.name;
        EXPECT_EQ(service.sessions, testCase.expected == Kind::none ? 0 : 1) << testCase.name;
    }
}

TEST(AnalyzerBackendTest, ModelCheckReturnsTheSupportedLocale)
{
    FakeSpeechAnalysis service;
    service.supported = {{"pt-BR", "pt_BR"}};
    service.installed = {"pt-br"};
    EXPECT_EQ(installedTranscriberLocale(service, "pt-BR"), "pt_BR");
    EXPECT_EQ(installedTranscriberLocale(service, "en-US"), std::nullopt);
    run(service);
    EXPECT_EQ(service.sessionLocale, "pt_BR");
}

TEST(AnalyzerBackendTest, FinalResultsAreJoinedAsTheyAreThenTrimmed)
{
    struct Case {
        std::vector<TranscriptionResult> results;
        std::string text;
    };
    std::vector<Case> cases = {
        {{{"abrir", true}, {"xx", false}, {" agenda ", true}}, "abrir agenda"},
        {{{"meio", false}, {"fim", false}}, ""},
        {{}, ""},
        {{{"a", true}, {"b", true}}, "ab"},
    };
    for (const auto& [results, text] : cases) {
        FakeSpeechAnalysis service;
        service.results = results;
        AnalyzerOutcome outcome = run(service);
        EXPECT_EQ(outcome.kind, Kind::text);
        EXPECT_EQ(outcome.value, text);
    }
}

TEST(AnalyzerBackendTest, AudioIsConvertedOnceToTheAnalyzersFormat)
{
    FakeSpeechAnalysis service;
    run(service, {}, 48000);
    ASSERT_EQ(service.inputRates.size(), 1u);
    EXPECT_EQ(service.inputRates[0], 16000);
    EXPECT_NEAR(service.inputFrames[0], 1600, 2);

    // No preferred format: the buffer goes as it is.
    FakeSpeechAnalysis unconverted;
    unconverted.bestFormat = std::nullopt;
    run(unconverted, {}, 48000);
    ASSERT_EQ(unconverted.inputRates.size(), 1u);
    EXPECT_EQ(unconverted.inputRates[0], 48000);
    EXPECT_EQ(unconverted.inputFrames[0], 4800u);
}

TEST(AnalyzerBackendTest, VocabularyBecomesOneGeneralEntryOnlyWhenNotEmpty)
{
    FakeSpeechAnalysis service;
    run(service, {"um", "dois", "três"});
    ASSERT_TRUE(service.context);
    EXPECT_EQ(service.context->generalContextualStrings, (std::vector<std::string>{"um", "dois", "três"}));
    run(service, {});
    ASSERT_TRUE(service.context);
    EXPECT_FALSE(service.context->generalContextualStrings);
}

TEST(AnalyzerBackendTest, FailuresInsideTheRunAreReportedAsFailures)
{
    FakeSpeechAnalysis finalizing;
    finalizing.finalizeError = "análise interrompida";
    AnalyzerOutcome outcome = run(finalizing);
    EXPECT_EQ(outcome.kind, Kind::failure);
    EXPECT_EQ(outcome.value, "análise interrompida");
    // The child was cancelled and had ended before the outcome came back.
    EXPECT_TRUE(finalizing.childCancelled);

    FakeSpeechAnalysis iterating;
    iterating.resultsError = "resultados perdidos";
    outcome = run(iterating);
    EXPECT_EQ(outcome.kind, Kind::failure);
    EXPECT_EQ(outcome.value, "resultados perdidos");

    // A conversion the platform refuses (far too many frames to upsample).
    FakeSpeechAnalysis converting;
    converting.bestFormat = audio::AudioFormat::makeFloat(1e9, 1);
    auto buffer = makePcmFloatBuffer(std::vector<float>(100000, 0.0f), 1);
    outcome = transcribeWithSpeechTranscriber(converting, *buffer, "pt-BR", {});
    EXPECT_EQ(outcome.kind, Kind::failure);
    EXPECT_EQ(outcome.value, "falha ao alocar buffer convertido");
    EXPECT_TRUE(converting.inputRates.empty());
}
