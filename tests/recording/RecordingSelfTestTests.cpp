#include "channel/HelperError.h"
#include "recording/RecordingSelfTest.h"
#include "recording/WavFile.h"
#include "recording/WavWriter.h"
#include "support/HelperProcess.h"

#include <gtest/gtest.h>

using namespace tarvio;
using namespace tarvio::testing;

namespace {

// The file is a valid WAV file holding exactly `samples` samples.
void expectCompleteFile(const std::filesystem::path& path, const Json& result)
{
    auto bytes = readBytes(path);
    size_t samples = result["samples"].get<size_t>();
    ASSERT_EQ(bytes.size(), 44 + 2 * samples);
    EXPECT_EQ(le32At(bytes, 40), 2 * samples);
    EXPECT_EQ(le32At(bytes, 4), 2 * samples + 36);
    int peak = 0;
    for (int16_t sample : wavSamples(bytes))
        peak = std::max(peak, std::abs(int(sample)));
    EXPECT_EQ(peak, result["peak"].get<int>());
}

}

TEST(RecordingSelfTest, FiguresAndFile)
{
    TemporaryFolder folder;
    auto path = folder / "selftest.wav";
    Json result = recordingSelfTest({{"path", path.string()}});
    ASSERT_TRUE(result["samples"].is_number_integer());
    EXPECT_EQ(result["samples"], result["convertedSamples"]);
    // One second, less the resampler's held-back tail, within the capacity.
    EXPECT_GT(result["convertedSamples"].get<int>(), 15500);
    EXPECT_LE(result["convertedSamples"].get<int>(), 16000 + 256);
    // The crest of the half-scale tone plus the constant 0.25.
    EXPECT_NEAR(result["peak"].get<int>(), 24575, 30);
    EXPECT_LE(result["peak"].get<int>(), 24575 + 3);
    expectCompleteFile(path, result);
}

TEST(RecordingSelfTest, RefusedPaths)
{
    for (const Json& params : {Json::object(), Json{{"path", ""}}, Json{{"path", 5}}, Json{{"path", nullptr}}}) {
        SCOPED_TRACE(params.dump());
        try {
            recordingSelfTest(params);
            ADD_FAILURE() << "no error";
        } catch (const HelperError& error) {
            EXPECT_EQ(error.code, "invalid_params");
            EXPECT_EQ(error.message, "path é obrigatório");
        }
    }
    TemporaryFolder folder;
    std::string path = (folder / "missing/selftest.wav").string();
    try {
        recordingSelfTest({{"path", path}});
        ADD_FAILURE() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível criar " + path);
    }
}

// The file of a recording in progress, through any path: refused, and the
// recording's file is untouched. A file that cannot hold the test: an error.
TEST(RecordingSelfTest, FilesItMustNotOrCannotWrite)
{
    TemporaryFolder folder;
    auto recorded = folder / "rec.wav";
    auto link = folder / "link.wav";
    WavWriter recording(recorded.string());
    std::vector<int16_t> samples(1000, 3);
    recording.append(samples);
    std::filesystem::create_symlink(recorded, link);
    std::filesystem::create_hard_link(recorded, folder / "hard.wav");
    for (const auto& path : {recorded, link, folder / "hard.wav"}) {
        SCOPED_TRACE(path);
        try {
            recordingSelfTest({{"path", path.string()}});
            ADD_FAILURE() << "no error";
        } catch (const HelperError& error) {
            EXPECT_EQ(error.code, "internal");
            EXPECT_EQ(error.message, "não foi possível criar " + path.string());
        }
    }
    EXPECT_EQ(readBytes(recorded).size(), 44u + 2000u);
    recording.finish();

    std::string full = (folder / "full.wav").string();
    FileSizeLimit limit(44 + 1000);
    try {
        recordingSelfTest({{"path", full}});
        ADD_FAILURE() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível gravar " + full + ": File too large");
    }
}

TEST(RecordingSelfTestEndToEnd, AnswersThroughTheHelper)
{
    TemporaryFolder folder;
    auto path = folder / "e2e.wav";
    HelperProcess helper;
    Json response = helper.call("recording.selftest", {{"path", path.string()}});
    ASSERT_TRUE(response.contains("result")) << response.dump();
    expectCompleteFile(path, response["result"]);
    Json refused = helper.call("recording.selftest", {{"path", (folder / "no/x.wav").string()}});
    EXPECT_EQ(refused["error"]["code"], "internal");
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}
