// speech.transcribe and speech.status through the built helper, on real
// recordings of Debian's pocketsphinx-testdata, against pocketsphinx's own
// command-line decoder on the same files.

#include "support/HelperProcess.h"
#include "support/TemporaryFolder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <openssl/evp.h>
#include <unistd.h>

using namespace tarvio;
using tarvio::testing::HelperProcess;
namespace fs = std::filesystem;

namespace {

const fs::path testData = "/usr/share/pocketsphinx/test/data";
const fs::path englishModel = "/usr/share/pocketsphinx/model/en-us";

std::string run(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char chunk[65536];
    for (size_t count; (count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, count);
    ::pclose(pipe);
    return output;
}

// The clip as float samples at `rate`; sox does the resampling, so the
// helper's own converter is not checked against itself.
std::vector<float> clipAt(const fs::path& clip, int rate)
{
    std::string input = clip.extension() == ".raw" ? "-t raw -r 16000 -e signed -b 16 -c 1 '" + clip.string() + "'"
                                                   : "'" + clip.string() + "'";
    std::string bytes = run("sox " + input + " -t raw -e float -b 32 -c 1 -r " + std::to_string(rate) + " - 2>/dev/null");
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

std::string base64(const std::vector<float>& samples)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    size_t size = samples.size() * sizeof(float);
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(size));
    text.resize(static_cast<size_t>(length));
    return text;
}

using tarvio::testing::TemporaryFolder;

// What pocketsphinx_batch, which decodes each file as one utterance as the
// helper does, makes of the clip with the helper's search settings.
std::string commandLineText(const fs::path& clip)
{
    TemporaryFolder folder;
    std::ofstream(folder.path / "clips.ctl") << clip.stem().string() << "\n";
    std::string header = clip.extension() == ".wav" ? "44" : "0";
    run("pocketsphinx_batch -hmm " + (englishModel / "en-us").string() + " -lm " + (englishModel / "en-us.lm.bin").string()
        + " -dict " + (englishModel / "cmudict-en-us.dict").string() + " -fwdflat no -adcin yes -adchdr " + header + " -cepext "
        + clip.extension().string() + " -cepdir " + clip.parent_path().string() + " -ctl "
        + (folder.path / "clips.ctl").string() + " -hyp " + (folder.path / "clips.hyp").string()
        + " -logfn /dev/null >/dev/null 2>&1");
    std::ifstream hypothesis(folder.path / "clips.hyp");
    std::string line;
    std::getline(hypothesis, line);
    return line.substr(0, line.rfind(" ("));
}

Json transcribeParams(const std::vector<float>& samples, int rate, const std::string& locale, Json vocabulary = nullptr)
{
    Json params = {{"audioBase64", base64(samples)}, {"sampleRate", rate}, {"locale", locale}};
    if (!vocabulary.is_null())
        params["vocabulary"] = std::move(vocabulary);
    return params;
}

Json status(bool available, const char* backend)
{
    return Json{{"available", available}, {"backend", backend}, {"authorization", "authorized"}};
}

class SpeechEndToEnd : public ::testing::Test {
protected:
    TemporaryFolder dataHome;
    HelperProcess::Environment environment() const
    {
        return {{"XDG_DATA_HOME", dataHome.path.string()}, {"HOME", dataHome.path.string()}};
    }
};

}

TEST_F(SpeechEndToEnd, RecordingsComeBackAsTheCommandLineDecoderHearsThemAtEveryRate)
{
    HelperProcess helper(environment());
    for (const char* name : {"goforward.raw", "cards/002.wav", "tidigits/dhd.2934z.raw"}) {
        fs::path clip = testData / name;
        std::string expected = commandLineText(clip);
        ASSERT_FALSE(expected.empty()) << name;
        for (int rate : {16000, 48000, 44100}) {
            Json response = helper.call("speech.transcribe", transcribeParams(clipAt(clip, rate), rate, "en-US"));
            EXPECT_EQ(response["result"], (Json{{"text", expected}, {"backend", "sf_speech_recognizer"}}))
                << name << " at " << rate << ": " << response.dump();
        }
    }
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(SpeechEndToEnd, VocabularyHelpsItsOwnWordsWithoutForcingOthersIntoThem)
{
    HelperProcess helper(environment());
    fs::path clip = testData / "cards/002.wav";
    auto samples = clipAt(clip, 16000);
    std::string plain = commandLineText(clip);
    ASSERT_EQ(plain, "for queen of clubs");
    Json cards = Json::array({"ace", "two", "three", "four", "five", "king", "queen", "jack", "of clubs", "of hearts",
        "of spades", "of diamonds"});
    Json unrelated = Json::array({"open my calendar", "create a reminder", "call mom", "stop recording"});
    struct Case {
        Json vocabulary;
        std::string text;
    };
    std::vector<Case> cases = {
        {cards, "four queen of clubs"},
        {unrelated, plain},
        {Json::array({"  ", "\t"}), plain},
        {Json::array({"tarvio", 3}), plain},
        // Back to the same vocabulary after another one.
        {cards, "four queen of clubs"},
    };
    for (const auto& [vocabulary, text] : cases) {
        Json response = helper.call("speech.transcribe", transcribeParams(samples, 16000, "en-US", vocabulary));
        EXPECT_EQ(response["result"]["text"], text) << vocabulary.dump();
    }
}

TEST_F(SpeechEndToEnd, LocalesWithoutAModelOrAFamilyAreRefused)
{
    HelperProcess helper(environment());
    auto samples = clipAt(testData / "goforward.raw", 16000);
    struct Case {
        Json locale;
        std::string message;
    };
    std::vector<Case> cases = {
        {"pt-BR", "reconhecimento offline indisponível para pt-BR"},
        {nullptr, "reconhecimento offline indisponível para pt-BR"},
        {"tlh-KL", "idioma de fala não suportado: tlh-KL"},
        {"", "idioma de fala não suportado: "},
    };
    for (const auto& [locale, message] : cases) {
        Json params = {{"audioBase64", base64(samples)}};
        if (!locale.is_null())
            params["locale"] = locale;
        Json response = helper.call("speech.transcribe", params);
        EXPECT_EQ(response["error"], (Json{{"code", "permission_denied"}, {"message", message}})) << locale.dump();
    }
    EXPECT_EQ(helper.call("speech.status")["result"], status(false, "unavailable"));
    EXPECT_EQ(helper.call("speech.status", {{"locale", "en-US"}})["result"], status(true, "sf_speech_recognizer"));
    EXPECT_EQ(helper.call("speech.status", {{"locale", "tlh"}})["result"], status(false, "unavailable"));
}

TEST_F(SpeechEndToEnd, AModelInstalledInTheUsersDataFolderServesItsLanguage)
{
    // Stand-in for a Portuguese model: the English files under Portuguese names.
    fs::path model = dataHome.path / "tarvio-helper" / "pocketsphinx" / "model" / "pt-br";
    fs::create_directories(model);
    fs::create_directory_symlink(englishModel / "en-us", model / "pt-br");
    fs::create_symlink(englishModel / "en-us.lm.bin", model / "pt-br.lm.bin");
    fs::create_symlink(englishModel / "cmudict-en-us.dict", model / "pt-br.dict");

    HelperProcess helper(environment());
    EXPECT_EQ(helper.call("speech.status")["result"],
        (Json{{"available", true}, {"backend", "sf_speech_recognizer"}, {"authorization", "authorized"}}));
    Json response = helper.call("speech.transcribe", transcribeParams(clipAt(testData / "goforward.raw", 16000), 16000, "pt-BR"));
    EXPECT_EQ(response["result"]["text"], "go forward ten meters") << response.dump();
}

TEST_F(SpeechEndToEnd, LargePayloadsAreDecodedAndOverlongAudioIsRefused)
{
    HelperProcess helper(environment());
    // Four minutes of quiet noise: about 20 MB of Base64.
    std::vector<float> quiet(16000 * 240);
    for (size_t index = 0; index < quiet.size(); ++index)
        quiet[index] = static_cast<float>((index * 7919 % 2001) - 1000) * 1e-6f;
    Json response = helper.call("speech.transcribe", transcribeParams(quiet, 16000, "en-US"));
    EXPECT_TRUE(response.contains("result")) << response.dump().substr(0, 300);

    // Ten minutes at a rate far below speech is refused before any work.
    std::vector<float> slow(8000 * 600, 0.0f);
    response = helper.call("speech.transcribe", transcribeParams(slow, 8000, "en-US"));
    EXPECT_EQ(response["error"],
        (Json{{"code", "invalid_params"}, {"message", "áudio longo demais para reconhecimento (máximo de 300 s)"}}));
    EXPECT_EQ(helper.call("ping")["result"]["pong"], true);
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(SpeechEndToEnd, ABrokenModelInTheUsersFolderIsPassedOverAndReportedUnavailable)
{
    fs::path models = dataHome.path / "tarvio-helper" / "pocketsphinx" / "model";
    for (const char* language : {"pt-br", "en-us"}) {
        fs::path model = models / language;
        fs::create_directories(model / language);
        for (std::string name : {"/mdef", "/means", "/variances", "/transition_matrices"})
            std::ofstream(model / (language + name)) << std::string(4096, '\x7f') << "not a model";
        std::ofstream(model / (std::string(language) + ".lm.bin")) << std::string(4096, '\x7f');
        std::ofstream(model / (std::string(language) + ".dict")) << "a AH\n";
    }

    HelperProcess helper(environment());
    // The status tells what a transcription finds: no model for pt-BR.
    EXPECT_EQ(helper.call("speech.status")["result"], status(false, "unavailable"));
    auto samples = clipAt(testData / "goforward.raw", 16000);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Json response = helper.call("speech.transcribe", transcribeParams(samples, 16000, "pt-BR"));
        EXPECT_EQ(response["error"],
            (Json{{"code", "permission_denied"}, {"message", "reconhecimento offline indisponível para pt-BR"}}))
            << response.dump();
    }
    // The broken English copy gives way to the system's model.
    EXPECT_EQ(helper.call("speech.status", {{"locale", "en-US"}})["result"], status(true, "sf_speech_recognizer"));
    EXPECT_EQ(helper.call("speech.transcribe", transcribeParams(samples, 16000, "en-US"))["result"]["text"],
        "go forward ten meters");
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}
