#include "speech/pocketsphinx/Decoder.h"
#include "support/TemporaryFolder.h"
#include "speech/pocketsphinx/ModelCatalog.h"
#include "speech/pocketsphinx/VocabularyModel.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvio::pocketsphinx;
namespace fs = std::filesystem;

namespace {

using tarvio::testing::TemporaryFolder;

void touch(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

// A model folder in the layout Debian uses for en-us.
void installModel(const fs::path& root, const std::string& name, bool withDictionary = true)
{
    touch(root / name / name / "mdef");
    touch(root / name / (name + ".lm.bin"));
    touch(root / name / (name + "-phone.lm.bin"));
    if (withDictionary)
        touch(root / name / ("cmudict-" + name + ".dict"));
}

}

TEST(ModelCatalogTest, ModelNamesFollowTheLanguageFamily)
{
    struct Case {
        std::string locale;
        std::vector<std::string> names;
    };
    std::vector<Case> cases = {
        {"en-US", {"en-us", "en"}},
        {"EN", {"en-us", "en"}},
        {"en-GB", {"en-gb", "en-us", "en"}},
        {"pt-BR", {"pt-br", "pt"}},
        {"pt_PT.UTF-8", {"pt-pt", "pt-br", "pt"}},
        {"zh-Hans-CN", {"zh-cn", "zh"}},
        {"de-Latn-AT", {"de-at", "de-de", "de"}},
        {"", {}},
        {"xx-YY", {}},
        {"english", {}},
        {"e1-US", {}},
    };
    for (const auto& [locale, names] : cases)
        EXPECT_EQ(ModelCatalog::modelNames(locale), names) << locale;
}

TEST(ModelCatalogTest, FindsACompleteModelUserFolderFirst)
{
    TemporaryFolder user, system;
    installModel(system.path, "en-us");
    installModel(system.path, "pt-br", false);
    ModelCatalog catalog({user.path, system.path});

    auto english = catalog.find("en-US");
    ASSERT_TRUE(english);
    EXPECT_EQ(english->acousticModel, system.path / "en-us" / "en-us");
    EXPECT_EQ(english->languageModel, system.path / "en-us" / "en-us.lm.bin");
    EXPECT_EQ(english->dictionary, system.path / "en-us" / "cmudict-en-us.dict");
    // Without a dictionary the model is not complete.
    EXPECT_FALSE(catalog.find("pt-BR"));

    installModel(user.path, "pt-br");
    installModel(user.path, "en-us");
    EXPECT_EQ(catalog.find("pt-BR")->acousticModel, user.path / "pt-br" / "pt-br");
    EXPECT_EQ(catalog.find("en-GB")->acousticModel, user.path / "en-us" / "en-us");
}

TEST(ModelCatalogTest, ModelsThatDoNotLoadArePassedOver)
{
    TemporaryFolder user, system;
    installModel(user.path, "en-us");
    installModel(system.path, "en-us");
    ModelCatalog catalog({user.path, system.path});
    auto fromSystem = [&](const Model& model) { return model.acousticModel.string().starts_with(system.path.string()); };
    EXPECT_EQ(catalog.find("en-US", fromSystem)->acousticModel, system.path / "en-us" / "en-us");
    EXPECT_FALSE(catalog.find("en-US", [](const Model&) { return false; }));
}

TEST(ModelCheckTest, TestsEachVersionOfTheModelFilesOnce)
{
    TemporaryFolder root;
    installModel(root.path, "pt-br");
    Model model = *ModelCatalog({root.path}).find("pt-BR");
    int tests = 0;
    bool verdict = false;
    ModelCheck check([&](const Model&) {
        ++tests;
        return verdict;
    });
    EXPECT_FALSE(check.loads(model));
    EXPECT_FALSE(check.loads(model));
    EXPECT_EQ(tests, 1);

    // A file of the acoustic model rewritten, then one added: new versions.
    verdict = true;
    std::ofstream(model.acousticModel / "mdef") << "fixed";
    EXPECT_TRUE(check.loads(model));
    std::ofstream(model.acousticModel / "means") << "means";
    EXPECT_TRUE(check.loads(model));
    EXPECT_TRUE(check.loads(model));
    EXPECT_EQ(tests, 3);
}

TEST(ModelCheckTest, TheRealCheckRefusesAMalformedModelAndPassesThePackagedOne)
{
    TemporaryFolder root;
    installModel(root.path, "pt-br");
    std::ofstream(root.path / "pt-br" / "pt-br" / "mdef") << std::string(4096, '\x7f');
    ModelCheck check;
    EXPECT_FALSE(check.loads(*ModelCatalog({root.path}).find("pt-BR")));
    auto packaged = ModelCatalog({"/usr/share/pocketsphinx/model"}).find("en-US");
    ASSERT_TRUE(packaged);
    EXPECT_TRUE(check.loads(*packaged));
}

TEST(ModelCatalogTest, FilesWithOtherNamesAreFoundBySuffix)
{
    TemporaryFolder root;
    touch(root.path / "pt-br" / "acoustic" / "mdef");
    touch(root.path / "pt-br" / "portugues-phone.lm.bin");
    touch(root.path / "pt-br" / "portugues.lm");
    touch(root.path / "pt-br" / "portugues.dic");
    auto model = ModelCatalog({root.path}).find("pt-BR");
    ASSERT_TRUE(model);
    EXPECT_EQ(model->acousticModel, root.path / "pt-br" / "acoustic");
    EXPECT_EQ(model->languageModel, root.path / "pt-br" / "portugues.lm");
    EXPECT_EQ(model->dictionary, root.path / "pt-br" / "portugues.dic");
}

TEST(VocabularyModelTest, PhrasesBecomeLowercaseWords)
{
    struct Case {
        std::string phrase;
        std::vector<std::string> words;
    };
    std::vector<Case> cases = {
        {"Go Forward, ten-meters!", {"go", "forward", "ten-meters"}},
        {"  don't\tstop ", {"don't", "stop"}},
        {"'quoted' -dash-", {"quoted", "dash"}},
        {"Ação RÁPIDA", {"ação", "rápida"}},
        {"\n", {}},
    };
    for (const auto& [phrase, words] : cases)
        EXPECT_EQ(phraseWords(phrase), words) << phrase;
}

TEST(VocabularyModelTest, ArpaHoldsTheKnownWordsAndTheirSequences)
{
    auto known = [](const std::string& word) { return word != "tarvio"; };
    std::string arpa = vocabularyArpa({"Open calendar", "open Tarvio", "tarvio"}, known);
    EXPECT_NE(arpa.find("ngram 1=4\n"), std::string::npos) << arpa;
    EXPECT_NE(arpa.find("ngram 2=4\n"), std::string::npos) << arpa;
    EXPECT_NE(arpa.find(" open calendar\n"), std::string::npos) << arpa;
    EXPECT_NE(arpa.find(" <s> open\n"), std::string::npos) << arpa;
    EXPECT_NE(arpa.find(" open </s>\n"), std::string::npos) << arpa;
    EXPECT_EQ(arpa.find("tarvio"), std::string::npos) << arpa;
    EXPECT_TRUE(arpa.ends_with("\\end\\\n"));
    EXPECT_EQ(vocabularyArpa({"tarvio", "  "}, known), "");
}

TEST(DecoderTest, DecodesWithAndWithoutVocabularyWritingNothingToTheStandardStreams)
{
    auto model = ModelCatalog({"/usr/share/pocketsphinx/model"}).find("en-US");
    ASSERT_TRUE(model);
    std::ifstream file("/usr/share/pocketsphinx/test/data/goforward.raw", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string error;
    auto decoder = Decoder::load(*model, error);
    std::vector<std::string> texts(4);
    if (decoder) {
        decoder->decode(samples, {}, texts[0], error);
        decoder->decode(samples, {"go forward", "Tarvio", "turn left"}, texts[1], error);
        // Replacing a vocabulary's search, then back to the general one.
        decoder->decode(samples, {"stop recording"}, texts[2], error);
        decoder->decode(samples, {}, texts[3], error);
    }
    decoder.reset();
    std::string output = ::testing::internal::GetCapturedStdout();
    std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(texts, std::vector<std::string>(4, "go forward ten meters"));
    EXPECT_EQ(output, "");
    EXPECT_EQ(errors, "");
}
