#include "GeneratedModel.h"
#include "speech/whisper/Transcriber.h"
#include "support/TemporaryFolder.h"

#include <cmath>
#include <gtest/gtest.h>

namespace tarvio::testing {
namespace {

using namespace tarvio::whisper;

std::shared_ptr<const WhisperModel> loadRecipe(const ModelRecipe& recipe)
{
    TemporaryFolder folder;
    writeModel(folder / "model.bin", recipe);
    return WhisperModel::load(GgmlFile::open(folder / "model.bin"));
}

std::vector<float> tone(double seconds)
{
    std::vector<float> samples(static_cast<size_t>(seconds * sampleRate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440.0 * i / sampleRate));
    return samples;
}

// Feeding one token at a time through the cache gives the logits of the
// whole sequence computed at once.
TEST(WhisperDecoder, CachedStepsEqualRecomputing)
{
    ModelRecipe recipe;
    recipe.shape.textLayers = 2;
    recipe.scale = 0.3f;
    auto model = loadRecipe(recipe);
    LogMel mel = logMelSpectrogram(tone(0.2), model->melFilters(), 80, 2);
    CrossCache cross = model->crossAttention(model->encode(mel, 0));
    std::vector<int> tokens = {50258, 50267, 50360, 50364, 300, 7, 9000, 257};

    SelfCache whole = model->emptyCache();
    Matrix all = model->decode(tokens, whole, cross, false);
    SelfCache stepwise = model->emptyCache();
    Matrix prompt = model->decode({tokens.begin(), tokens.begin() + 4}, stepwise, cross, false);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const float* expected = all.row(static_cast<int>(i));
        const float* actual = nullptr;
        Matrix step;
        if (i < 4) {
            actual = prompt.row(static_cast<int>(i));
        } else {
            step = model->decode({tokens[i]}, stepwise, cross, true);
            actual = step.row(0);
        }
        for (int v = 0; v < all.columns; v += 97)
            ASSERT_NEAR(actual[v], expected[v], 1e-4f * (1.0f + std::fabs(expected[v]))) << "token " << i;
    }
    EXPECT_EQ(stepwise.length, whole.length);
    // The logits depend on the audio at all.
    Matrix silentEncoded = model->encode(logMelSpectrogram(std::vector<float>(3200, 0.0f), model->melFilters(), 80, 1), 0);
    CrossCache silent = model->crossAttention(silentEncoded);
    SelfCache other = model->emptyCache();
    Matrix silentLogits = model->decode(tokens, other, silent, false);
    EXPECT_NE(silentLogits.values, all.values);
}

TEST(WhisperDecoder, ModelSaysItsChosenWords)
{
    auto model = loadRecipe(sayingModel({wordToken(" Olá"), wordToken(" mundo"), wordToken(" e")}));
    DecodingOptions options;
    options.language = "pt";
    EXPECT_EQ(transcribeSamples(*model, tone(0.1), options), " Olá mundo e");
    EXPECT_EQ(transcribeSamples(*model, {}, options), "");
}

// Audio of several windows is heard window by window, each saying the words.
TEST(WhisperDecoder, LongAudioGoesWindowByWindow)
{
    auto model = loadRecipe(sayingModel({wordToken(" Zé")}));
    // Windows of 16 frames (0.16 s): 0.5 s makes three, the rest is too
    // short for a fourth.
    EXPECT_EQ(transcribeSamples(*model, tone(0.5), {}), " Zé Zé Zé");
}

TEST(WhisperDecoder, StartTokensCarryPromptLanguageAndTask)
{
    Vocabulary multilingual(generatedTokens(51865), 51865);
    auto prompt = multilingual.tokenize(" Tarvio e Zé");
    EXPECT_EQ(prompt, (std::vector<int>{wordToken(" Tarvio"), wordToken(" e"), wordToken(" Zé")}));
    EXPECT_EQ(initialTokens(multilingual, 448, "pt", prompt),
        (std::vector<int>{50361, wordToken(" Tarvio"), wordToken(" e"), wordToken(" Zé"), 50258, 50267, 50359, 50363}));
    EXPECT_EQ(initialTokens(multilingual, 448, "en", {}), (std::vector<int>{50258, 50259, 50359, 50363}));
    // Only the newest half context of previous text is kept.
    std::vector<int> longPrompt(300, wordToken(" agenda"));
    longPrompt.back() = wordToken(" Tarvio");
    auto start = initialTokens(multilingual, 448, "pt", longPrompt);
    EXPECT_EQ(start.size(), 1u + 223u + 4u);
    EXPECT_EQ(start[223], wordToken(" Tarvio"));

    // English-only: no language or task; large-v3's extra language moves the
    // task tokens.
    Vocabulary english(generatedTokens(51864), 51864);
    EXPECT_EQ(initialTokens(english, 448, "pt", {}), (std::vector<int>{50257, 50362}));
    EXPECT_EQ(english.languages(), (std::vector<std::string>{"en"}));
    Vocabulary large(generatedTokens(51866), 51866);
    EXPECT_EQ(initialTokens(large, 448, "yue", {}), (std::vector<int>{50258, 50358, 50360, 50364}));
    EXPECT_EQ(large.languageCount(), 100);
}

TEST(WhisperDecoder, SpecialTokensNeverWin)
{
    Vocabulary vocabulary(generatedTokens(51865), 51865);
    std::vector<float> first(51865, 1.0f);
    suppressTokens(vocabulary, first, true);
    EXPECT_TRUE(std::isinf(first[50257])) << "end of text at the first step";
    EXPECT_TRUE(std::isinf(first[' '])) << "blank at the first step";
    for (int token : {50258, 50259, 50357, 50358, 50359, 50360, 50361, 50362, 50363, 50364, 51864})
        EXPECT_TRUE(std::isinf(first[static_cast<size_t>(token)])) << token;
    EXPECT_EQ(first[wordToken(" Olá")], 1.0f);

    std::vector<float> later(51865, 1.0f);
    suppressTokens(vocabulary, later, false);
    EXPECT_EQ(later[50257], 1.0f);
    EXPECT_EQ(later[' '], 1.0f);
}

}
}
