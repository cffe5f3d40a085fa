#include "GeneratedModel.h"
#include "speech/whisper/GgmlFile.h"
#include "speech/whisper/WhisperModel.h"
#include "support/TemporaryFolder.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

namespace tarvio::testing {
namespace {

using whisper::TensorKind;

std::vector<float> decode(TensorKind kind, const std::vector<uint8_t>& bytes, int64_t count)
{
    std::vector<float> out(static_cast<size_t>(count));
    whisper::dequantize(kind, bytes.data(), count, out.data());
    return out;
}

// Hand-built blocks, against each kind's defining formula.
TEST(GgmlBlocks, Q8ZeroIsScaleTimesSignedByte)
{
    std::vector<uint8_t> block = {0x00, 0x38}; // d = 0.5
    for (int j = 0; j < 32; ++j)
        block.push_back(static_cast<uint8_t>(static_cast<int8_t>(j - 16)));
    auto values = decode(TensorKind::q8_0, block, 32);
    for (int j = 0; j < 32; ++j)
        EXPECT_FLOAT_EQ(values[j], 0.5f * static_cast<float>(j - 16)) << j;
}

TEST(GgmlBlocks, Q5BlocksJoinNibbleAndHighBit)
{
    // Low nibble of byte j is value j, high nibble value j + 16; bit j of
    // the high word is the fifth bit of value j.
    std::vector<uint8_t> low(16);
    uint32_t high = 0;
    std::vector<int> levels(32);
    for (int j = 0; j < 32; ++j)
        levels[j] = (j * 7 + 3) % 32;
    for (int j = 0; j < 16; ++j) {
        low[j] = static_cast<uint8_t>((levels[j] & 15) | ((levels[j + 16] & 15) << 4));
        high |= static_cast<uint32_t>(levels[j] >> 4) << j;
        high |= static_cast<uint32_t>(levels[j + 16] >> 4) << (j + 16);
    }
    auto highBytes = [&] {
        return std::vector<uint8_t>{static_cast<uint8_t>(high), static_cast<uint8_t>(high >> 8),
            static_cast<uint8_t>(high >> 16), static_cast<uint8_t>(high >> 24)};
    };

    std::vector<uint8_t> q50 = {0x00, 0x3c}; // d = 1
    auto hb = highBytes();
    q50.insert(q50.end(), hb.begin(), hb.end());
    q50.insert(q50.end(), low.begin(), low.end());
    std::vector<uint8_t> q51 = {0x00, 0x40, 0x00, 0xbc}; // d = 2, m = -1
    q51.insert(q51.end(), hb.begin(), hb.end());
    q51.insert(q51.end(), low.begin(), low.end());

    auto zero = decode(TensorKind::q5_0, q50, 32);
    auto one = decode(TensorKind::q5_1, q51, 32);
    for (int j = 0; j < 32; ++j) {
        EXPECT_FLOAT_EQ(zero[j], static_cast<float>(levels[j] - 16)) << j;
        EXPECT_FLOAT_EQ(one[j], 2.0f * static_cast<float>(levels[j]) - 1.0f) << j;
    }
}

TEST(GgmlBlocks, HalvesConvertBothWays)
{
    struct Case {
        uint16_t half;
        float value;
    };
    for (auto [half, value] : {Case{0x3c00, 1.0f}, Case{0xc000, -2.0f}, Case{0x3555, 0.333251953125f},
             Case{0x0001, 5.9604644775390625e-08f}, Case{0x7bff, 65504.0f}, Case{0x0000, 0.0f}}) {
        EXPECT_EQ(whisper::halfToFloat(half), value) << half;
        EXPECT_EQ(whisper::floatToHalf(value), half) << value;
    }
}

// Every kind loads, and each matrix comes back within its kind's step.
TEST(GgmlFile, EveryKindLoadsItsMatrices)
{
    TemporaryFolder folder;
    std::vector<float> original;
    {
        ModelRecipe recipe;
        recipe.adjust = [&](GeneratedTensor& tensor) {
            if (tensor.name == "decoder.blocks.0.attn.query.weight")
                original = tensor.values;
        };
        writeModel(folder / "f32.bin", recipe);
    }
    struct Case {
        TensorKind kind;
        float tolerance;
    };
    for (auto [kind, tolerance] : {Case{TensorKind::f32, 0.0f}, Case{TensorKind::f16, 1e-3f},
             Case{TensorKind::q8_0, 0.004f}, Case{TensorKind::q5_0, 0.03f}, Case{TensorKind::q5_1, 0.02f}}) {
        ModelRecipe recipe;
        recipe.kind = kind;
        writeModel(folder / "model.bin", recipe);
        auto file = whisper::GgmlFile::open(folder / "model.bin");
        EXPECT_EQ(file.tensors.at("decoder.blocks.0.attn.query.weight").kind, kind);
        auto values = file.readTensor("decoder.blocks.0.attn.query.weight");
        ASSERT_EQ(values.size(), original.size());
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_NEAR(values[i], original[i], tolerance) << static_cast<int>(kind) << " at " << i;
        EXPECT_NO_THROW(whisper::WhisperModel::load(file));
    }
}

TEST(GgmlFile, HeaderFiltersAndVocabularyAreRead)
{
    TemporaryFolder folder;
    writeModel(folder / "model.bin", ModelRecipe{});
    auto file = whisper::GgmlFile::open(folder / "model.bin");
    EXPECT_EQ(file.hyper.vocabularySize, 51865);
    EXPECT_EQ(file.hyper.audioContext, 8);
    EXPECT_EQ(file.hyper.textLayers, 1);
    EXPECT_EQ(file.filterBands, 80);
    EXPECT_EQ(file.filterBins, 201);
    EXPECT_EQ(file.melFilters.size(), 80u * 201u);
    ASSERT_EQ(file.tokens.size(), 50257u);
    EXPECT_EQ(file.tokens[' '], " ");
    EXPECT_EQ(file.tokens[wordToken(" mundo")], " mundo");
    EXPECT_EQ(file.tensors.at("encoder.conv1.weight").dims, (std::vector<int64_t>{3, 80, 32}));
}

// Damage of every kind is caught before any weight is used.
TEST(GgmlFile, DamagedFilesAreRefused)
{
    TemporaryFolder folder;
    auto good = folder / "good.bin";
    writeModel(good, ModelRecipe{});
    auto size = std::filesystem::file_size(good);

    auto damaged = [&](auto damage) {
        std::filesystem::copy_file(good, folder / "bad.bin", std::filesystem::copy_options::overwrite_existing);
        damage(folder / "bad.bin");
        return folder / "bad.bin";
    };
    auto overwrite = [](const std::filesystem::path& path, std::streamoff offset, std::string bytes) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    std::vector<std::pair<std::string, std::filesystem::path>> cases = {
        {"truncated in the last tensor", damaged([&](auto path) { std::filesystem::resize_file(path, size - 10); })},
        {"truncated in the header", damaged([&](auto path) { std::filesystem::resize_file(path, 20); })},
        {"empty", damaged([&](auto path) { std::filesystem::resize_file(path, 0); })},
        {"trailing bytes", damaged([&](auto path) { std::ofstream(path, std::ios::app) << "xyz"; })},
        {"wrong magic", damaged([&](auto path) { overwrite(path, 0, "GGUF"); })},
        {"negative state", damaged([&](auto path) { overwrite(path, 12, std::string("\xff\xff\xff\xff", 4)); })},
        {"missing", folder / "absent.bin"},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_THROW(
            {
                auto file = whisper::GgmlFile::open(path);
                whisper::WhisperModel::checkTensors(file);
            },
            whisper::ModelFileError)
            << name;
    }

    // A consistent file whose tensors do not match its header.
    ModelRecipe wrongShape;
    wrongShape.adjust = [](GeneratedTensor& tensor) {
        if (tensor.name == "decoder.ln.bias")
            tensor.name = "decoder.ln.bias2";
    };
    writeModel(folder / "renamed.bin", wrongShape);
    EXPECT_THROW(whisper::WhisperModel::checkTensors(whisper::GgmlFile::open(folder / "renamed.bin")),
        whisper::ModelFileError);
}

}
}
