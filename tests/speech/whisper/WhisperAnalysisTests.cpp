#include "GeneratedModel.h"
#include "speech/AnalyzerBackend.h"
#include "speech/AudioPayload.h"
#include "speech/FakeSpeechRecognition.h"
#include "speech/SpeechMethods.h"
#include "speech/whisper/WhisperAnalysis.h"
#include "support/TemporaryFolder.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace tarvio::testing {
namespace {

using whisper::InstalledModel;
using whisper::WhisperAnalysis;

std::vector<float> tone(double seconds, double rate)
{
    std::vector<float> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 300.0 * i / rate));
    return samples;
}

std::string base64(const std::vector<float>& samples)
{
    std::string text(4 * ((samples.size() * 4 + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), reinterpret_cast<const unsigned char*>(samples.data()),
        static_cast<int>(samples.size() * 4));
    return text;
}

// A user folder and a system folder, empty until a test fills them.
struct Shelves {
    TemporaryFolder root;
    std::filesystem::path user = root / "user";
    std::filesystem::path system = root / "system";
    Shelves()
    {
        std::filesystem::create_directories(user);
        std::filesystem::create_directories(system);
    }
    WhisperAnalysis service() { return WhisperAnalysis({user, system}); }
};

ModelRecipe saying(std::vector<std::string> words, int vocabularySize = 51865)
{
    std::vector<int> tokens;
    for (const auto& word : words)
        tokens.push_back(wordToken(word));
    ModelShape shape = smallShape();
    shape.vocabularySize = vocabularySize;
    return sayingModel(tokens, shape);
}

TEST(WhisperAnalysis, TranscribesInstalledLanguagesThroughTheBackEnd)
{
    Shelves shelves;
    writeModel(shelves.system / "ggml-tiny.bin", saying({" Olá", " mundo"}));
    auto service = shelves.service();
    EXPECT_EQ(service.supportedLocale("pt_BR"), "pt");
    EXPECT_EQ(service.supportedLocale("EN-us"), "en");
    EXPECT_EQ(service.supportedLocale("xx-YY"), std::nullopt);
    EXPECT_EQ(service.supportedLocale(""), std::nullopt);
    auto installed = service.installedLocales();
    EXPECT_EQ(installed.size(), 99u);
    EXPECT_EQ(installedTranscriberLocale(service, "pt-PT"), "pt");

    // 48 kHz input is converted to the model's rate; the text is trimmed.
    auto buffer = makePcmFloatBuffer(tone(0.15, 48000), 48000);
    auto outcome = transcribeWithSpeechTranscriber(service, *buffer, "pt-BR", {"Tarvio", "Zé"});
    EXPECT_EQ(outcome.kind, AnalyzerOutcome::Kind::text);
    EXPECT_EQ(outcome.value, "Olá mundo");
    // The model stays loaded between requests.
    auto first = service.modelFor("pt");
    EXPECT_EQ(service.modelFor("pt"), first);

    FakeSpeechRecognition recognition;
    recognition.status = 1;
    SpeechServices services{service, recognition};
    EXPECT_EQ(speechStatus(services, Json::object()),
        (Json{{"available", true}, {"backend", "speech_transcriber"}, {"authorization", "authorized"}}));
    Json request = {{"audioBase64", base64(tone(0.15, 16000))}, {"locale", "pt-BR"}};
    EXPECT_EQ(speechTranscribe(services, request), (Json{{"text", "Olá mundo"}, {"backend", "speech_transcriber"}}));
    EXPECT_EQ(recognition.recognitions, 0);
}

// Whatever keeps a model from serving sends the request to the recognizer.
TEST(WhisperAnalysis, UnusableModelsGiveNoOutcome)
{
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path&)> install;
        std::string locale;
    };
    auto writeThen = [](std::function<void(const std::filesystem::path&)> damage) {
        return [damage](const std::filesystem::path& folder) {
            writeModel(folder / "ggml-tiny.bin", saying({" Olá"}));
            damage(folder / "ggml-tiny.bin");
        };
    };
    std::vector<Case> cases = {
        {"no model at all", [](const std::filesystem::path&) {}, "pt-BR"},
        {"truncated", writeThen([](auto path) { std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2); }), "pt-BR"},
        {"corrupt header", writeThen([](auto path) { std::filesystem::resize_file(path, 0); std::ofstream out(path); out << "not a model at all"; }), "pt-BR"},
        {"not a .bin", [](auto folder) { writeModel(folder / "ggml-tiny.gguf", saying({" Olá"})); }, "pt-BR"},
        {"English-only model, Portuguese asked", [](auto folder) { writeModel(folder / "ggml-tiny.en.bin", saying({" hello"}, 51864)); }, "pt-BR"},
        {"a language no model knows", [](auto folder) { writeModel(folder / "ggml-tiny.bin", saying({" Olá"})); }, "tlh"},
    };
    for (const auto& testCase : cases) {
        Shelves shelves;
        testCase.install(shelves.user);
        auto service = shelves.service();
        auto buffer = makePcmFloatBuffer(tone(0.15, 16000), 16000);
        auto outcome = transcribeWithSpeechTranscriber(service, *buffer, testCase.locale, {});
        EXPECT_EQ(outcome.kind, AnalyzerOutcome::Kind::none) << testCase.name;

        FakeSpeechRecognition recognition;
        recognition.servedLocales = recognition.onDeviceLocales = {testCase.locale};
        SpeechServices services{service, recognition};
        EXPECT_EQ(speechStatus(services, Json{{"locale", testCase.locale}}),
            (Json{{"available", true}, {"backend", "sf_speech_recognizer"}, {"authorization", "authorized"}}))
            << testCase.name;
        Json request = {{"audioBase64", base64(tone(0.15, 16000))}, {"locale", testCase.locale}};
        EXPECT_EQ(speechTranscribe(services, request), (Json{{"text", "ok"}, {"backend", "sf_speech_recognizer"}}))
            << testCase.name;
    }
}

TEST(WhisperAnalysis, EnglishOnlyModelServesEnglish)
{
    Shelves shelves;
    writeModel(shelves.user / "ggml-tiny.en.bin", saying({" hello", " world"}, 51864));
    auto service = shelves.service();
    EXPECT_EQ(service.installedLocales(), (std::vector<std::string>{"en"}));
    auto buffer = makePcmFloatBuffer(tone(0.15, 16000), 16000);
    auto outcome = transcribeWithSpeechTranscriber(service, *buffer, "en-US", {});
    EXPECT_EQ(outcome.value, "hello world");
}

TEST(ModelShelf, PickRulePrefersTheLargestFastModel)
{
    auto model = [](std::string name, int layers, bool multilingual, uint64_t bytes, size_t folder = 0) {
        InstalledModel entry;
        entry.path = name;
        entry.audioLayers = layers;
        entry.multilingual = multilingual;
        entry.languages = multilingual ? std::vector<std::string>{"en", "pt"} : std::vector<std::string>{"en"};
        entry.bytes = bytes;
        entry.folder = folder;
        return entry;
    };
    struct Case {
        std::string name;
        std::vector<InstalledModel> models;
        std::string language;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"base over tiny", {model("tiny", 4, true, 75), model("base", 6, true, 142)}, "pt", "base"},
        {"base over small", {model("small", 12, true, 466), model("base", 6, true, 142)}, "pt", "base"},
        {"small over large when none is fast", {model("large", 32, true, 3000), model("small", 12, true, 466)}, "pt", "small"},
        {"English-only for English", {model("base", 6, true, 142), model("base.en", 6, false, 142)}, "en", "base.en"},
        {"English-only never for Portuguese", {model("base.en", 6, false, 142), model("tiny", 4, true, 75)}, "pt", "tiny"},
        {"less quantized first", {model("base-q5_1", 6, true, 57), model("base", 6, true, 142)}, "pt", "base"},
        {"user folder over system folder", {model("system", 6, true, 142, 1), model("user", 6, true, 142, 0)}, "pt", "user"},
    };
    for (const auto& testCase : cases) {
        auto picked = whisper::pickModel(testCase.models, testCase.language);
        ASSERT_TRUE(picked) << testCase.name;
        EXPECT_EQ(picked->path, testCase.expected) << testCase.name;
    }
    EXPECT_FALSE(whisper::pickModel({model("base.en", 6, false, 142)}, "pt"));
}

TEST(ModelShelf, FoldersFollowXdgDataHome)
{
    auto saved = std::getenv("XDG_DATA_HOME") ? std::optional<std::string>(std::getenv("XDG_DATA_HOME")) : std::nullopt;
    ::setenv("XDG_DATA_HOME", "/tmp/data", 1);
    EXPECT_EQ(whisper::standardModelFolders(),
        (std::vector<std::filesystem::path>{"/tmp/data/tarvio-helper/whisper", "/usr/share/tarvio-helper/whisper"}));
    if (saved)
        ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

}
}
