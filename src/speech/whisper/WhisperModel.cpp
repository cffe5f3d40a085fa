#include "speech/whisper/WhisperModel.h"

#include "speech/whisper/Parallel.h"
#include "speech/whisper/VectorMath.h"

#include <algorithm>
#include <cblas.h>
#include <cmath>

namespace tarvio::whisper {

namespace {

constexpr float normEpsilon = 1e-5f;
// Elementwise passes below this many values stay on one thread.
constexpr size_t splitValues = 65536;

// Gives `matrix` a shape, keeping its storage: the encoder reuses its
// buffers from layer to layer instead of finding fresh pages each time.
void reshape(Matrix& matrix, int rows, int columns)
{
    matrix.rows = rows;
    matrix.columns = columns;
    matrix.values.resize(static_cast<size_t>(rows) * columns);
}

// y = x W^T + b, x: rows x inputs.
void apply(const Linear& layer, const Matrix& x, Matrix& y)
{
    reshape(y, x.rows, layer.weight.rows());
    if (!layer.bias.empty()) {
        for (int row = 0; row < x.rows; ++row)
            std::copy(layer.bias.begin(), layer.bias.end(), y.row(row));
    }
    layer.weight.multiply(x.values.data(), x.rows, y.values.data(), y.columns, !layer.bias.empty());
}

Matrix apply(const Linear& layer, const Matrix& x)
{
    Matrix y;
    apply(layer, x, y);
    return y;
}

// target += x W^T + b: a layer's output joins the residual stream directly.
void addApplied(const Linear& layer, const Matrix& x, Matrix& target)
{
    layer.weight.multiply(x.values.data(), x.rows, target.values.data(), target.columns, true);
    if (layer.bias.empty())
        return;
    for (int row = 0; row < target.rows; ++row) {
        float* out = target.row(row);
        for (int c = 0; c < target.columns; ++c)
            out[c] += layer.bias[static_cast<size_t>(c)];
    }
}

void normalize(const Norm& norm, const Matrix& x, Matrix& y)
{
    reshape(y, x.rows, x.columns);
    splitInTwo(x.rows, x.values.size(), splitValues, [&](int first, int end) {
        for (int row = first; row < end; ++row) {
            const float* in = x.row(row);
            float* out = y.row(row);
            double sum = 0.0;
            for (int i = 0; i < x.columns; ++i)
                sum += in[i];
            float mean = static_cast<float>(sum / x.columns);
            double squares = 0.0;
            for (int i = 0; i < x.columns; ++i)
                squares += static_cast<double>(in[i] - mean) * (in[i] - mean);
            float scale = static_cast<float>(1.0 / std::sqrt(squares / x.columns + normEpsilon));
            for (int i = 0; i < x.columns; ++i)
                out[i] = (in[i] - mean) * scale * norm.weight[i] + norm.bias[i];
        }
    });
}

void geluInPlace(Matrix& x)
{
    splitInTwo(x.rows, x.values.size() * 8, splitValues, [&](int first, int end) {
        gelu(x.row(first), static_cast<size_t>(end - first) * x.columns);
    });
}

// Multi-head attention of queries over keys and values (all with `state`
// columns) into `out`, with `scores` as room for one head. Query i sees keys
// up to `visibleBefore + i` when causal.
void attend(const Matrix& queries, const Matrix& keys, const Matrix& values, int keyCount, int heads, bool causal,
    int visibleBefore, Matrix& out, Matrix& scores)
{
    const int state = queries.columns;
    const int headSize = state / heads;
    const float scale = 1.0f / std::sqrt(static_cast<float>(headSize));
    reshape(out, queries.rows, state);
    reshape(scores, queries.rows, keyCount);
    for (int head = 0; head < heads; ++head) {
        int column = head * headSize;
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, queries.rows, keyCount, headSize, scale,
            queries.values.data() + column, state, keys.values.data() + column, keys.columns, 0.0f,
            scores.values.data(), keyCount);
        splitInTwo(scores.rows, scores.values.size() * 8, splitValues, [&](int first, int end) {
            for (int row = first; row < end; ++row) {
                float* line = scores.row(row);
                int visible = causal ? std::min(keyCount, visibleBefore + row + 1) : keyCount;
                softmax(line, static_cast<size_t>(visible));
                std::fill(line + visible, line + keyCount, 0.0f);
            }
        });
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, queries.rows, headSize, keyCount, 1.0f,
            scores.values.data(), keyCount, values.values.data() + column, values.columns, 0.0f,
            out.values.data() + column, state);
    }
}

// Columns i*3+k of row t hold input channel i at frame t*stride+k-1.
void unfold(const Matrix& input, int frames, int stride, Matrix& columns)
{
    reshape(columns, frames, input.columns * 3);
    splitInTwo(frames, columns.values.size(), splitValues, [&](int first, int end) {
        for (int t = first; t < end; ++t) {
            float* out = columns.row(t);
            for (int k = 0; k < 3; ++k) {
                int source = t * stride + k - 1;
                bool inside = source >= 0 && source < input.rows;
                for (int i = 0; i < input.columns; ++i)
                    out[i * 3 + k] = inside ? input.values[static_cast<size_t>(source) * input.columns + i] : 0.0f;
            }
        }
    });
}

struct Loader {
    const GgmlFile& file;
    bool readData;

    const TensorInfo& info(const std::string& name, std::vector<int64_t> dims) const
    {
        auto found = file.tensors.find(name);
        if (found == file.tensors.end())
            throw ModelFileError("tensor ausente: " + name);
        auto stored = found->second.dims;
        while (stored.size() > dims.size() && stored.back() == 1)
            stored.pop_back();
        if (stored != dims)
            throw ModelFileError("forma inesperada: " + name);
        return found->second;
    }

    std::vector<float> vector(const std::string& name, int64_t size) const
    {
        info(name, {size});
        return readData ? file.readTensor(name) : std::vector<float>();
    }

    Matrix matrix(const std::string& name, int rows, int columns, std::vector<int64_t> dims = {}) const
    {
        info(name, dims.empty() ? std::vector<int64_t>{columns, rows} : dims);
        Matrix result;
        result.rows = rows;
        result.columns = columns;
        if (readData)
            result.values = file.readTensor(name);
        return result;
    }

    StoredMatrix stored(const std::string& name, int rows, int columns, std::vector<int64_t> dims = {}) const
    {
        const TensorInfo& found = info(name, dims.empty() ? std::vector<int64_t>{columns, rows} : dims);
        if (!readData)
            return StoredMatrix(rows, columns);
        return StoredMatrix(found.kind, rows, columns, file.readStored(name));
    }

    Linear linear(const std::string& prefix, int inputs, int outputs, bool withBias = true) const
    {
        Linear layer;
        layer.weight = stored(prefix + ".weight", outputs, inputs);
        if (withBias)
            layer.bias = vector(prefix + ".bias", outputs);
        return layer;
    }

    Norm norm(const std::string& prefix, int size) const
    {
        return {vector(prefix + ".weight", size), vector(prefix + ".bias", size)};
    }

    Attention attention(const std::string& prefix, int state) const
    {
        return {linear(prefix + ".query", state, state), linear(prefix + ".key", state, state, false),
            linear(prefix + ".value", state, state), linear(prefix + ".out", state, state)};
    }
};

void loadWeights(const GgmlFile& file, bool readData, WhisperModel* model, Matrix& encoderPosition, Linear& conv1,
    Linear& conv2, std::vector<EncoderBlock>& encoderBlocks, Norm& encoderNorm, Matrix& decoderPosition,
    StoredMatrix& tokenEmbedding, std::vector<DecoderBlock>& decoderBlocks, Norm& decoderNorm)
{
    (void)model;
    const HyperParameters& h = file.hyper;
    if (h.textState != h.audioState)
        throw ModelFileError("estados de áudio e texto diferentes");
    if (file.filterBands != h.melBands || file.filterBins != fftSize / 2 + 1)
        throw ModelFileError("filtros mel inválidos");
    Loader load{file, readData};
    const int state = h.audioState;
    encoderPosition = load.matrix("encoder.positional_embedding", h.audioContext, state);
    conv1.weight = load.stored("encoder.conv1.weight", state, h.melBands * 3, {3, h.melBands, state});
    conv1.bias = load.matrix("encoder.conv1.bias", 1, state, {1, state}).values;
    conv2.weight = load.stored("encoder.conv2.weight", state, state * 3, {3, state, state});
    conv2.bias = load.matrix("encoder.conv2.bias", 1, state, {1, state}).values;
    encoderBlocks.resize(static_cast<size_t>(h.audioLayers));
    for (int i = 0; i < h.audioLayers; ++i) {
        std::string prefix = "encoder.blocks." + std::to_string(i);
        EncoderBlock& block = encoderBlocks[static_cast<size_t>(i)];
        block.attentionNorm = load.norm(prefix + ".attn_ln", state);
        block.attention = load.attention(prefix + ".attn", state);
        block.mlpNorm = load.norm(prefix + ".mlp_ln", state);
        block.mlpUp = load.linear(prefix + ".mlp.0", state, state * 4);
        block.mlpDown = load.linear(prefix + ".mlp.2", state * 4, state);
    }
    encoderNorm = load.norm("encoder.ln_post", state);

    decoderPosition = load.matrix("decoder.positional_embedding", h.textContext, state);
    tokenEmbedding = load.stored("decoder.token_embedding.weight", h.vocabularySize, state);
    decoderBlocks.resize(static_cast<size_t>(h.textLayers));
    for (int i = 0; i < h.textLayers; ++i) {
        std::string prefix = "decoder.blocks." + std::to_string(i);
        DecoderBlock& block = decoderBlocks[static_cast<size_t>(i)];
        block.attentionNorm = load.norm(prefix + ".attn_ln", state);
        block.attention = load.attention(prefix + ".attn", state);
        block.crossNorm = load.norm(prefix + ".cross_attn_ln", state);
        block.cross = load.attention(prefix + ".cross_attn", state);
        block.mlpNorm = load.norm(prefix + ".mlp_ln", state);
        block.mlpUp = load.linear(prefix + ".mlp.0", state, state * 4);
        block.mlpDown = load.linear(prefix + ".mlp.2", state * 4, state);
    }
    decoderNorm = load.norm("decoder.ln", state);
}

}

void WhisperModel::checkTensors(const GgmlFile& file)
{
    WhisperModel scratch;
    loadWeights(file, false, &scratch, scratch.encoderPosition, scratch.conv1, scratch.conv2, scratch.encoderBlocks,
        scratch.encoderNorm, scratch.decoderPosition, scratch.tokenEmbedding, scratch.decoderBlocks,
        scratch.decoderNorm);
}

std::shared_ptr<const WhisperModel> WhisperModel::load(const GgmlFile& file)
{
#if defined(__SANITIZE_THREAD__)
    // OpenBLAS's workers hand results back through spinning that
    // ThreadSanitizer cannot see; our own threads stay checked.
    static const bool singleThreaded = (openblas_set_num_threads(1), true);
    (void)singleThreaded;
#endif
    auto model = std::make_shared<WhisperModel>();
    loadWeights(file, true, model.get(), model->encoderPosition, model->conv1, model->conv2, model->encoderBlocks,
        model->encoderNorm, model->decoderPosition, model->tokenEmbedding, model->decoderBlocks, model->decoderNorm);
    model->parameters = file.hyper;
    model->words = std::make_unique<Vocabulary>(file.tokens, file.hyper.vocabularySize);
    model->filters = file.melFilters;
    return model;
}

Matrix WhisperModel::encode(const LogMel& mel, int firstFrame) const
{
    const int context = parameters.audioContext;
    const int frames = 2 * context;
    Matrix window(frames, mel.bands);
    for (int t = 0; t < frames; ++t) {
        int source = firstFrame + t;
        if (source < mel.frames)
            std::copy(mel.frame(source), mel.frame(source) + mel.bands, window.row(t));
        else
            std::fill(window.row(t), window.row(t) + mel.bands, mel.values.empty() ? 0.0f : -1.5f);
    }

    // Buffers reused by every layer.
    Matrix x;
    Matrix normed;
    Matrix queries;
    Matrix keys;
    Matrix values;
    Matrix mixed;
    Matrix scores;
    Matrix hidden;
    {
        Matrix unfolded;
        unfold(window, frames, 1, unfolded);
        apply(conv1, unfolded, hidden);
        geluInPlace(hidden);
        unfold(hidden, context, 2, unfolded);
        apply(conv2, unfolded, x);
    }
    geluInPlace(x);
    for (size_t i = 0; i < x.values.size(); ++i)
        x.values[i] += encoderPosition.values[i];

    for (const EncoderBlock& block : encoderBlocks) {
        normalize(block.attentionNorm, x, normed);
        apply(block.attention.query, normed, queries);
        apply(block.attention.key, normed, keys);
        apply(block.attention.value, normed, values);
        attend(queries, keys, values, context, parameters.audioHeads, false, 0, mixed, scores);
        addApplied(block.attention.out, mixed, x);

        normalize(block.mlpNorm, x, normed);
        apply(block.mlpUp, normed, hidden);
        geluInPlace(hidden);
        addApplied(block.mlpDown, hidden, x);
    }
    normalize(encoderNorm, x, normed);
    return normed;
}

CrossCache WhisperModel::crossAttention(const Matrix& encoded) const
{
    CrossCache cache;
    for (const DecoderBlock& block : decoderBlocks) {
        cache.keys.push_back(apply(block.cross.key, encoded));
        cache.values.push_back(apply(block.cross.value, encoded));
    }
    return cache;
}

SelfCache WhisperModel::emptyCache() const
{
    SelfCache cache;
    const int state = parameters.textState;
    // Reserved, not filled: pages are found as tokens arrive.
    const auto room = static_cast<size_t>(parameters.textContext) * state;
    cache.keys.resize(decoderBlocks.size());
    cache.values.resize(decoderBlocks.size());
    for (size_t i = 0; i < decoderBlocks.size(); ++i) {
        for (Matrix* matrix : {&cache.keys[i], &cache.values[i]}) {
            matrix->columns = state;
            matrix->values.reserve(room);
        }
    }
    return cache;
}

Matrix WhisperModel::decode(const std::vector<int>& tokens, SelfCache& cache, const CrossCache& cross, bool lastOnly) const
{
    const int state = parameters.textState;
    const int count = static_cast<int>(tokens.size());
    const int past = cache.length;
    if (count == 0 || past + count > parameters.textContext)
        throw std::length_error("contexto de texto excedido");

    Matrix x(count, state);
    for (int i = 0; i < count; ++i) {
        int token = tokens[static_cast<size_t>(i)];
        if (token < 0 || token >= parameters.vocabularySize)
            throw std::out_of_range("token fora do vocabulário");
        tokenEmbedding.rowsToFloat(token, 1, x.row(i));
        const float* position = decoderPosition.row(past + i);
        for (int c = 0; c < state; ++c)
            x.row(i)[c] += position[c];
    }

    Matrix normed;
    Matrix queries;
    Matrix mixed;
    Matrix scores;
    Matrix hidden;
    for (size_t layer = 0; layer < decoderBlocks.size(); ++layer) {
        const DecoderBlock& block = decoderBlocks[layer];
        Matrix& keys = cache.keys[layer];
        Matrix& values = cache.values[layer];
        reshape(keys, past + count, state);
        reshape(values, past + count, state);
        normalize(block.attentionNorm, x, normed);
        apply(block.attention.query, normed, queries);
        // New keys and values go straight into the cache's rows.
        block.attention.key.weight.multiply(normed.values.data(), count, keys.row(past), keys.columns, false);
        block.attention.value.weight.multiply(normed.values.data(), count, values.row(past), values.columns, false);
        if (!block.attention.value.bias.empty()) {
            for (int row = past; row < past + count; ++row) {
                for (int c = 0; c < state; ++c)
                    values.row(row)[c] += block.attention.value.bias[static_cast<size_t>(c)];
            }
        }
        attend(queries, keys, values, past + count, parameters.textHeads, true, past, mixed, scores);
        addApplied(block.attention.out, mixed, x);

        normalize(block.crossNorm, x, normed);
        apply(block.cross.query, normed, queries);
        attend(queries, cross.keys[layer], cross.values[layer], cross.keys[layer].rows, parameters.textHeads, false, 0,
            mixed, scores);
        addApplied(block.cross.out, mixed, x);

        normalize(block.mlpNorm, x, normed);
        apply(block.mlpUp, normed, hidden);
        geluInPlace(hidden);
        addApplied(block.mlpDown, hidden, x);
    }
    cache.length = past + count;

    if (lastOnly && count > 1) {
        Matrix last(1, state);
        std::copy(x.row(count - 1), x.row(count - 1) + state, last.row(0));
        x = std::move(last);
    }
    normalize(decoderNorm, x, normed);
    Matrix logits(normed.rows, parameters.vocabularySize);
    tokenEmbedding.multiply(normed.values.data(), normed.rows, logits.values.data(), parameters.vocabularySize, false);
    return logits;
}

}
