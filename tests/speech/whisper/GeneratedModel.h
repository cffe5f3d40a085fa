#pragma once

#include "speech/whisper/GgmlFile.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvio::testing {

using ModelShape = whisper::HyperParameters;

// A shape small enough for a test: windows of 16 mel frames, 32 states.
ModelShape smallShape();
// The shapes of the published tiny and base models.
ModelShape tinyShape();
ModelShape baseShape();

// A tensor as it will be written: its name, dims (innermost first) and
// values, which a caller may change.
struct GeneratedTensor {
    std::string name;
    std::vector<int64_t> dims;
    std::vector<float> values;
    whisper::TensorKind kind = whisper::TensorKind::f32;
};

struct ModelRecipe {
    ModelShape shape = smallShape();
    // Kind of the matrices; norms, biases and embeddings of position stay
    // f32, the convolutions f16 when this is quantized.
    whisper::TensorKind kind = whisper::TensorKind::f32;
    unsigned seed = 1;
    float scale = 0.1f;
    std::function<void(GeneratedTensor&)> adjust;
};

// The text tokens: the 256 single bytes, then words "w<id>" (a few of them
// readable: see wordToken), up to the end-of-text token.
int wordToken(const std::string& word);
std::vector<std::string> generatedTokens(int vocabularySize);

// Writes a complete model file with random weights.
void writeModel(const std::filesystem::path& path, const ModelRecipe& recipe);

// The bytes of `values` stored as `kind`.
std::vector<uint8_t> encodeTensor(whisper::TensorKind kind, const std::vector<float>& values);

// A model whose decoder, from <|notimestamps|>, says `words` (tokens of
// generatedTokens) and ends: each token's successor is written into the
// first decoder block's feed-forward layer, and every attention is zero.
ModelRecipe sayingModel(const std::vector<int>& words, ModelShape shape = smallShape());

}
