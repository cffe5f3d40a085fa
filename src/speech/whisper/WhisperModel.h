#pragma once

#include "speech/whisper/GgmlFile.h"
#include "speech/whisper/LogMel.h"
#include "speech/whisper/StoredMatrix.h"
#include "speech/whisper/Vocabulary.h"

#include <memory>
#include <vector>

namespace tarvio::whisper {

// Row-major rows x columns of floats.
struct Matrix {
    int rows = 0;
    int columns = 0;
    std::vector<float> values;

    Matrix() = default;
    Matrix(int rows, int columns) : rows(rows), columns(columns), values(static_cast<size_t>(rows) * columns) {}
    float* row(int index) { return values.data() + static_cast<size_t>(index) * columns; }
    const float* row(int index) const { return values.data() + static_cast<size_t>(index) * columns; }
};

struct Linear {
    // outputs x inputs, in the file's kind.
    StoredMatrix weight;
    std::vector<float> bias;
};

struct Norm {
    std::vector<float> weight;
    std::vector<float> bias;
};

struct Attention {
    Linear query;
    Linear key;
    Linear value;
    Linear out;
};

struct EncoderBlock {
    Norm attentionNorm;
    Attention attention;
    Norm mlpNorm;
    Linear mlpUp;
    Linear mlpDown;
};

struct DecoderBlock {
    Norm attentionNorm;
    Attention attention;
    Norm crossNorm;
    Attention cross;
    Norm mlpNorm;
    Linear mlpUp;
    Linear mlpDown;
};

// Keys and values of every decoder layer's attention over the audio.
struct CrossCache {
    std::vector<Matrix> keys;
    std::vector<Matrix> values;
};

// Keys and values of every decoder layer for the tokens seen so far (rows
// grow with them; room for the whole context is reserved up front).
struct SelfCache {
    int length = 0;
    std::vector<Matrix> keys;
    std::vector<Matrix> values;
};

// The loaded network: weight matrices in their stored kind, norms, biases
// and embeddings of position as floats.
class WhisperModel {
public:
    // Throws ModelFileError when a tensor is missing or has another shape.
    static std::shared_ptr<const WhisperModel> load(const GgmlFile& file);
    // Checks the table of tensors against the header without reading data.
    static void checkTensors(const GgmlFile& file);

    const HyperParameters& hyper() const { return parameters; }
    const Vocabulary& vocabulary() const { return *words; }
    const std::vector<float>& melFilters() const { return filters; }

    // The encoder over the window of mel frames starting at `firstFrame`:
    // audioContext x audioState.
    Matrix encode(const LogMel& mel, int firstFrame) const;
    CrossCache crossAttention(const Matrix& encoded) const;
    SelfCache emptyCache() const;
    // Feeds `tokens` after those in `cache`, which grows; returns the logits
    // of every token fed (tokens x vocabulary), or only of the last one when
    // `lastOnly`.
    Matrix decode(const std::vector<int>& tokens, SelfCache& cache, const CrossCache& cross, bool lastOnly) const;

private:
    HyperParameters parameters;
    std::unique_ptr<Vocabulary> words;
    std::vector<float> filters;

    Matrix encoderPosition;
    Linear conv1;
    Linear conv2;
    std::vector<EncoderBlock> encoderBlocks;
    Norm encoderNorm;

    Matrix decoderPosition;
    StoredMatrix tokenEmbedding;
    std::vector<DecoderBlock> decoderBlocks;
    Norm decoderNorm;
};

}
