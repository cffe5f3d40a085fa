// Our Whisper engine's numbers beside whisper.cpp's, on the same generated
// model files (the tiny and base shapes, random weights, stored as f16 and
// as f32) and the same espeak-ng clips (Portuguese and English):
//
//   whisper_oracle <whisper.cpp build folder> [part of a model's name]
//
// whisper.cpp is loaded at run time (its libwhisper.so, through a few
// functions of its C interface), so nothing of it is needed to build this.
// It shows neither its log-mel nor its encoder output, so:
//
// - log-mel: ours against a direct computation in double precision written
//   here from the definition (a plain DFT, no FFT library), within 1e-4;
//   and through whisper.cpp: its logits after its own front end against
//   its logits after it is handed our log-mel.
// - encoder and decoder: both given our log-mel, the decoder's logits under
//   teacher forcing, every token of a fixed sequence, within 1e-3 of the
//   row's largest logit, with whisper.cpp's exact attention (its default
//   flash attention is shown for information). A second file of each model
//   has its encoder's final norm weight set to zero, so the encoder output
//   is that norm's bias in both engines: the decoder alone.
// - a forward pass of the network in double precision, written here: our
//   encoder output and logits within 1e-5 of it, and whisper.cpp's distance
//   from it, exact and with whisper.cpp's f16 roundings redone, which tells
//   whose error a gap is. whisper.cpp's own encoder output is only seen
//   through the decoder's cross-attention.
//
// Prints a line per check; exit status 1 when a check fails.

#include "speech/whisper/GeneratedModel.h"
#include "speech/whisper/WhisperModel.h"

#include "TestClips.h"

#include <algorithm>
#include <cblas.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace tarvio;
namespace fs = std::filesystem;

constexpr double melLimit = 1e-4;
constexpr double logitLimit = 1e-3;
// Ours in single precision against the same network in double.
constexpr double referenceLimit = 1e-5;
constexpr int threads = 2;

// The part of whisper.cpp's C interface this uses, declared from its
// documented signatures.
struct WhisperCpp {
    using Context = void;
    using LogCallback = void (*)(int level, const char* text, void* data);
    // Its context parameters, field by field as its C interface lays them out.
    struct ContextParameters {
        bool useGpu;
        bool flashAttention;
        int gpuDevice;
        bool tokenTimestamps;
        int alignmentHeadsPreset;
        int alignmentTopLayers;
        struct {
            size_t count;
            const void* heads;
        } alignmentHeads;
        size_t alignmentMemory;
    };

    ContextParameters* (*defaultParameters)() = nullptr;
    void (*freeParameters)(ContextParameters*) = nullptr;
    Context* (*initFromFile)(const char* path, ContextParameters parameters) = nullptr;
    void (*release)(Context*) = nullptr;
    int (*pcmToMel)(Context*, const float* samples, int count, int threads) = nullptr;
    int (*setMel)(Context*, const float* data, int frames, int bands) = nullptr;
    int (*encode)(Context*, int offset, int threads) = nullptr;
    int (*decode)(Context*, const int32_t* tokens, int count, int past, int threads) = nullptr;
    float* (*logits)(Context*) = nullptr;
    int (*vocabularySize)(Context*) = nullptr;
    void (*setLog)(LogCallback, void*) = nullptr;

    std::string error;

    explicit WhisperCpp(const fs::path& folder)
    {
        void* library = nullptr;
        for (const char* place : {"bin", "src", "lib", ""}) {
            fs::path candidate = folder / place / "libwhisper.so";
            if (fs::exists(candidate) && (library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)))
                break;
            if (fs::exists(candidate))
                error = dlerror();
        }
        if (!library) {
            if (error.empty())
                error = "no libwhisper.so in " + folder.string();
            return;
        }
        auto look = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            if (!function)
                error += std::string(error.empty() ? "" : ", ") + "missing " + name;
        };
        look(defaultParameters, "whisper_context_default_params_by_ref");
        look(freeParameters, "whisper_free_context_params");
        look(initFromFile, "whisper_init_from_file_with_params");
        look(release, "whisper_free");
        look(pcmToMel, "whisper_pcm_to_mel");
        look(setMel, "whisper_set_mel");
        look(encode, "whisper_encode");
        look(decode, "whisper_decode");
        look(logits, "whisper_get_logits");
        look(vocabularySize, "whisper_n_vocab");
        look(setLog, "whisper_log_set");
        if (setLog)
            setLog([](int, const char*, void*) {}, nullptr);
    }

    Context* open(const fs::path& file, bool flashAttention) const
    {
        ContextParameters* defaults = defaultParameters();
        ContextParameters parameters = *defaults;
        freeParameters(defaults);
        parameters.useGpu = false;
        parameters.flashAttention = flashAttention;
        return initFromFile(file.c_str(), parameters);
    }
};

struct Sentence {
    std::string name;
    std::string language;
    std::string voice;
    std::string text;
};

const std::vector<Sentence> sentences = {
    {"pt", "pt", "pt-br", "abre a minha agenda de amanhã às nove horas"},
    {"en", "en", "en-us", "open my calendar for tomorrow morning"},
};

int runQuietly(std::vector<std::string> command)
{
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> arguments;
        for (auto& argument : command)
            arguments.push_back(argument.data());
        arguments.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<float> speak(const Sentence& sentence, const fs::path& scratch)
{
    fs::path raw = scratch / (sentence.name + "-raw.wav");
    fs::path clip = scratch / (sentence.name + ".wav");
    runQuietly({"/usr/bin/espeak-ng", "-v", sentence.voice, "-w", raw.string(), sentence.text});
    runQuietly({"/usr/bin/sox", raw.string(), "-r", "16000", "-c", "1", "-b", "16", clip.string()});
    std::vector<float> samples;
    for (int16_t sample : bench::clipSamples(clip.string()))
        samples.push_back(static_cast<float>(sample) / 32768.0f);
    return samples;
}

// The log-mel from its definition, in double precision: the audio with 200
// samples reflected before it and 30 s of silence plus 200 zeros after,
// frames of 400 under a periodic Hann window every 160 samples, the power
// of a direct DFT through the filters, log10 floored at 1e-10, then
// clamped to 8 below the maximum and mapped by (x + 4) / 4.
whisper::LogMel referenceLogMel(const std::vector<float>& samples, const std::vector<float>& filters, int bands)
{
    const int64_t count = static_cast<int64_t>(samples.size());
    const int size = 400;
    const int hop = 160;
    const int bins = size / 2 + 1;
    auto padded = [&](int64_t position) -> double {
        int64_t index = position - size / 2;
        if (index < 0)
            index = -index;
        return index < count ? samples[static_cast<size_t>(index)] : 0.0;
    };
    std::vector<double> cosines(size);
    std::vector<double> sines(size);
    std::vector<double> window(size);
    for (int i = 0; i < size; ++i) {
        cosines[i] = std::cos(2.0 * M_PI * i / size);
        sines[i] = std::sin(2.0 * M_PI * i / size);
        window[i] = 0.5 - 0.5 * cosines[i];
    }
    whisper::LogMel mel;
    mel.bands = bands;
    mel.frames = static_cast<int>((count + 16000 * 30) / hop);
    std::vector<double> logs(static_cast<size_t>(mel.frames) * bands);
    std::vector<double> frame(size);
    std::vector<double> power(bins);
    for (int f = 0; f < mel.frames; ++f) {
        for (int j = 0; j < size; ++j)
            frame[j] = window[j] * padded(static_cast<int64_t>(f) * hop + j);
        for (int k = 0; k < bins; ++k) {
            double real = 0.0;
            double imaginary = 0.0;
            for (int j = 0; j < size; ++j) {
                int turn = (j * k) % size;
                real += frame[j] * cosines[turn];
                imaginary -= frame[j] * sines[turn];
            }
            power[k] = real * real + imaginary * imaginary;
        }
        for (int b = 0; b < bands; ++b) {
            double sum = 0.0;
            for (int k = 0; k < bins; ++k)
                sum += power[k] * filters[static_cast<size_t>(b) * bins + k];
            logs[static_cast<size_t>(f) * bands + b] = std::log10(std::max(sum, 1e-10));
        }
        // Past the audio every frame is silence.
        if (static_cast<int64_t>(f) * hop > count + size) {
            for (int rest = f + 1; rest < mel.frames; ++rest)
                std::copy_n(logs.begin() + static_cast<ptrdiff_t>(f) * bands, bands,
                    logs.begin() + static_cast<ptrdiff_t>(rest) * bands);
            break;
        }
    }
    double floor = *std::max_element(logs.begin(), logs.end()) - 8.0;
    mel.values.resize(logs.size());
    for (size_t i = 0; i < logs.size(); ++i)
        mel.values[i] = static_cast<float>((std::max(logs[i], floor) + 4.0) / 4.0);
    return mel;
}


float roundedToHalf(float value) { return whisper::halfToFloat(whisper::floatToHalf(value)); }

whisper::LogMel roundedToHalf(whisper::LogMel mel)
{
    for (auto& value : mel.values)
        value = roundedToHalf(value);
    return mel;
}

// Rows of floats: logits (tokens x vocabulary), encoder output (positions
// x states), a mel (frames x bands).
using Logits = std::vector<std::vector<float>>;

// The network from its definition, in double precision and without a
// key/value cache, apart from our engine's code: the third opinion that
// shows which of two engines strays, and the only way to see an encoder's
// output, which whisper.cpp keeps to itself.
class Reference {
public:
    struct Dense {
        int rows = 0;
        int columns = 0;
        std::vector<double> values;

        Dense() = default;
        Dense(int rows, int columns) : rows(rows), columns(columns), values(static_cast<size_t>(rows) * columns) {}
        double* row(int index) { return values.data() + static_cast<size_t>(index) * columns; }
        const double* row(int index) const { return values.data() + static_cast<size_t>(index) * columns; }
        Logits asRows() const
        {
            Logits rows;
            for (int r = 0; r < this->rows; ++r)
                rows.emplace_back(row(r), row(r) + columns);
            return rows;
        }
    };

    enum class Rounding {
        // Double precision throughout.
        none,
        // Rounded to f16 where whisper.cpp's exact-attention path on the
        // processor rounds, as read from its graph: the mel and the
        // convolutions' weights and inputs, every input of a product with
        // f16 weights, the keys and values it keeps, the queries and
        // attention weights multiplied with them, and GELU through a table
        // of f16 values.
        likeWhisperCpp,
    };

    // `erf`: the exact GELU of the published network instead of the tanh
    // approximation both engines use.
    Reference(const whisper::GgmlFile& file, bool erf, Rounding rounding = Rounding::none)
        : file(file), erf(erf), rounded(rounding == Rounding::likeWhisperCpp)
    {
    }

    Dense encode(const whisper::LogMel& mel, int firstFrame) const
    {
        const auto& h = file.hyper;
        Dense window(2 * h.audioContext, mel.bands);
        for (int t = 0; t < window.rows; ++t)
            for (int b = 0; b < mel.bands; ++b)
                window.row(t)[b] = mel.frame(firstFrame + t)[b];
        Dense x = linear(unfold(window, 1), "encoder.conv1", true, true);
        gelu(x);
        x = linear(unfold(x, 2), "encoder.conv2", true, true);
        gelu(x);
        add(x, weights("encoder.positional_embedding", h.audioState));
        for (int layer = 0; layer < h.audioLayers; ++layer) {
            std::string prefix = "encoder.blocks." + std::to_string(layer);
            Dense normed = norm(x, prefix + ".attn_ln");
            add(x, attention(normed, normed, prefix + ".attn", h.audioHeads, Kind::encoder));
            add(x, mlp(x, prefix));
        }
        return norm(x, "encoder.ln_post");
    }

    // The logits of every token, all fed at once.
    Dense logits(const Dense& encoded, const std::vector<int>& tokens) const
    {
        const auto& h = file.hyper;
        Dense embedding = weights("decoder.token_embedding.weight", h.textState);
        Dense position = weights("decoder.positional_embedding", h.textState);
        Dense x(static_cast<int>(tokens.size()), h.textState);
        for (int i = 0; i < x.rows; ++i)
            for (int c = 0; c < x.columns; ++c)
                x.row(i)[c] = embedding.row(tokens[static_cast<size_t>(i)])[c] + position.row(i)[c];
        for (int layer = 0; layer < h.textLayers; ++layer) {
            std::string prefix = "decoder.blocks." + std::to_string(layer);
            Dense normed = norm(x, prefix + ".attn_ln");
            add(x, attention(normed, normed, prefix + ".attn", h.textHeads, Kind::decoder));
            add(x, attention(norm(x, prefix + ".cross_attn_ln"), encoded, prefix + ".cross_attn", h.textHeads, Kind::cross));
            add(x, mlp(x, prefix));
        }
        Dense normed = norm(x, "decoder.ln");
        if (halfWeights("decoder.token_embedding.weight"))
            toHalf(normed);
        Dense result(normed.rows, embedding.rows);
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, normed.rows, embedding.rows, normed.columns, 1.0,
            normed.values.data(), normed.columns, embedding.values.data(), embedding.columns, 0.0,
            result.values.data(), result.columns);
        return result;
    }

private:
    const whisper::GgmlFile& file;
    bool erf;
    bool rounded;

    enum class Kind { encoder, decoder, cross };

    static double half(double value) { return roundedToHalf(static_cast<float>(value)); }
    void toHalf(Dense& x) const
    {
        for (double& value : x.values)
            value = half(value);
    }
    bool halfWeights(const std::string& name) const
    {
        return rounded && file.tensors.at(name).kind == whisper::TensorKind::f16;
    }

    Dense weights(const std::string& name, int columns) const
    {
        std::vector<float> stored = file.readTensor(name);
        Dense result(static_cast<int>(stored.size() / static_cast<size_t>(columns)), columns);
        std::copy(stored.begin(), stored.end(), result.values.begin());
        return result;
    }

    // x W^T + b, W stored outputs x inputs. `convolution`: whisper.cpp
    // rounds both sides to f16 whatever the weights' kind.
    Dense linear(Dense x, const std::string& prefix, bool bias = true, bool convolution = false) const
    {
        Dense weight = weights(prefix + ".weight", x.columns);
        if (halfWeights(prefix + ".weight") || (rounded && convolution))
            toHalf(x);
        if (rounded && convolution)
            toHalf(weight);
        Dense y(x.rows, weight.rows);
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, x.rows, weight.rows, x.columns, 1.0, x.values.data(),
            x.columns, weight.values.data(), weight.columns, 0.0, y.values.data(), y.columns);
        if (bias) {
            std::vector<float> b = file.readTensor(prefix + ".bias");
            for (int r = 0; r < y.rows; ++r)
                for (int c = 0; c < y.columns; ++c)
                    y.row(r)[c] += b[static_cast<size_t>(c)];
        }
        return y;
    }

    Dense norm(const Dense& x, const std::string& prefix) const
    {
        std::vector<float> weight = file.readTensor(prefix + ".weight");
        std::vector<float> bias = file.readTensor(prefix + ".bias");
        Dense y(x.rows, x.columns);
        for (int r = 0; r < x.rows; ++r) {
            double mean = 0;
            for (int c = 0; c < x.columns; ++c)
                mean += x.row(r)[c];
            mean /= x.columns;
            double variance = 0;
            for (int c = 0; c < x.columns; ++c)
                variance += (x.row(r)[c] - mean) * (x.row(r)[c] - mean);
            variance /= x.columns;
            for (int c = 0; c < x.columns; ++c)
                y.row(r)[c] = (x.row(r)[c] - mean) / std::sqrt(variance + 1e-5) * weight[static_cast<size_t>(c)] +
                    bias[static_cast<size_t>(c)];
        }
        return y;
    }

    void gelu(Dense& x) const
    {
        for (double& v : x.values) {
            if (rounded) {
                float f = roundedToHalf(static_cast<float>(v));
                v = v <= -10 ? 0.0 : v >= 10 ? v
                    : half(0.5f * f * (1.0f + std::tanh(0.7978845608f * f * (1.0f + 0.044715f * f * f))));
            } else {
                v = erf ? 0.5 * v * (1.0 + std::erf(v / std::sqrt(2.0)))
                        : 0.5 * v * (1.0 + std::tanh(std::sqrt(2.0 / M_PI) * (v + 0.044715 * v * v * v)));
            }
        }
    }

    static void add(Dense& x, const Dense& addend)
    {
        for (size_t i = 0; i < x.values.size(); ++i)
            x.values[i] += addend.values[i];
    }

    // Kernel 3, padding 1: columns i*3+k hold channel i at t*stride+k-1.
    static Dense unfold(const Dense& input, int stride)
    {
        Dense columns(input.rows / stride, input.columns * 3);
        for (int t = 0; t < columns.rows; ++t)
            for (int k = 0; k < 3; ++k) {
                int source = t * stride + k - 1;
                for (int i = 0; i < input.columns; ++i)
                    columns.row(t)[i * 3 + k] = source >= 0 && source < input.rows ? input.row(source)[i] : 0.0;
            }
        return columns;
    }

    Dense mlp(const Dense& x, const std::string& prefix) const
    {
        Dense hidden = linear(norm(x, prefix + ".mlp_ln"), prefix + ".mlp.0");
        gelu(hidden);
        return linear(hidden, prefix + ".mlp.2");
    }

    // Multi-head attention of `from` over `over`, then the output layer.
    Dense attention(const Dense& from, const Dense& over, const std::string& prefix, int heads, Kind kind) const
    {
        const bool causal = kind == Kind::decoder;
        Dense q = linear(from, prefix + ".query");
        Dense k = linear(over, prefix + ".key", false);
        Dense v = linear(over, prefix + ".value");
        const int size = q.columns / heads;
        double scale = 1.0 / std::sqrt(size);
        if (rounded) {
            // The decoder scales keys (and its own queries) by size^-1/4
            // before keeping them in f16.
            double quarter = std::pow(static_cast<double>(size), -0.25);
            for (double& value : k.values)
                value = half(kind == Kind::encoder ? value : value * quarter);
            for (double& value : q.values)
                value = half(kind == Kind::decoder ? value * quarter : value);
            toHalf(v);
            scale = kind == Kind::encoder ? scale : kind == Kind::cross ? quarter : 1.0;
        }
        Dense mixed(q.rows, q.columns);
        Dense scores(q.rows, k.rows);
        for (int head = 0; head < heads; ++head) {
            cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, q.rows, k.rows, size, scale,
                q.values.data() + head * size, q.columns, k.values.data() + head * size, k.columns, 0.0,
                scores.values.data(), scores.columns);
            for (int r = 0; r < scores.rows; ++r) {
                double* line = scores.row(r);
                int visible = causal ? r + 1 : scores.columns;
                double largest = *std::max_element(line, line + visible);
                double sum = 0;
                for (int c = 0; c < scores.columns; ++c) {
                    line[c] = c < visible ? std::exp(line[c] - largest) : 0.0;
                    sum += line[c];
                }
                for (int c = 0; c < scores.columns; ++c)
                    line[c] = rounded ? half(line[c] / sum) : line[c] / sum;
            }
            cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, scores.rows, size, scores.columns, 1.0,
                scores.values.data(), scores.columns, v.values.data() + head * size, v.columns, 0.0,
                mixed.values.data() + head * size, mixed.columns);
        }
        return linear(mixed, prefix + ".out");
    }
};


Logits rowsOf(const whisper::Matrix& matrix)
{
    Logits rows;
    for (int row = 0; row < matrix.rows; ++row)
        rows.emplace_back(matrix.row(row), matrix.row(row) + matrix.columns);
    return rows;
}

struct Outputs {
    Logits encoded;
    Logits logits;
};

Outputs ourOutputs(const whisper::WhisperModel& model, const whisper::LogMel& mel, int firstFrame,
    const std::vector<int>& tokens)
{
    whisper::Matrix encoded = model.encode(mel, firstFrame);
    auto cross = model.crossAttention(encoded);
    auto cache = model.emptyCache();
    return {rowsOf(encoded), rowsOf(model.decode(tokens, cache, cross, false))};
}

// whisper.cpp's logits after encoding its current mel from `firstFrame`,
// one token per call.
Logits theirLogits(const WhisperCpp& cpp, void* context, const std::vector<int>& tokens, int firstFrame = 0)
{
    if (cpp.encode(context, firstFrame, threads) != 0)
        throw std::runtime_error("whisper_encode failed");
    int vocabulary = cpp.vocabularySize(context);
    Logits rows;
    for (size_t i = 0; i < tokens.size(); ++i) {
        int32_t token = tokens[i];
        if (cpp.decode(context, &token, 1, static_cast<int>(i), threads) != 0)
            throw std::runtime_error("whisper_decode failed");
        const float* logits = cpp.logits(context);
        rows.emplace_back(logits, logits + vocabulary);
    }
    return rows;
}

void setMel(const WhisperCpp& cpp, void* context, const whisper::LogMel& mel)
{
    // whisper.cpp keeps the mel band-major.
    std::vector<float> bandMajor(mel.values.size());
    for (int f = 0; f < mel.frames; ++f)
        for (int b = 0; b < mel.bands; ++b)
            bandMajor[static_cast<size_t>(b) * mel.frames + f] = mel.values[static_cast<size_t>(f) * mel.bands + b];
    if (cpp.setMel(context, bandMajor.data(), mel.frames, mel.bands) != 0)
        throw std::runtime_error("whisper_set_mel failed");
}

struct Difference {
    double absolute = 0;
    // Largest difference in a row over that row's largest magnitude.
    double relative = 0;
    bool sameShape = true;
};

Difference compare(const Logits& ours, const Logits& theirs)
{
    Difference difference;
    if (ours.size() != theirs.size())
        difference.sameShape = false;
    for (size_t row = 0; row < std::min(ours.size(), theirs.size()); ++row) {
        if (ours[row].size() != theirs[row].size()) {
            difference.sameShape = false;
            continue;
        }
        double largest = 0;
        double worst = 0;
        for (size_t i = 0; i < ours[row].size(); ++i) {
            largest = std::max(largest, std::fabs(static_cast<double>(theirs[row][i])));
            double gap = std::fabs(static_cast<double>(ours[row][i]) - theirs[row][i]);
            // NaN fails every comparison: count it as infinitely far.
            worst = std::max(worst, std::isnan(gap) ? INFINITY : gap);
        }
        difference.absolute = std::max(difference.absolute, worst);
        difference.relative = std::max(difference.relative, largest > 0 ? worst / largest : worst);
    }
    return difference;
}

int failures = 0;

// `limit` bounds the relative figure; a negative one only informs.
void report(const std::string& model, const std::string& clip, const std::string& check, const Difference& difference,
    double limit)
{
    const char* verdict = "info";
    if (limit >= 0) {
        bool pass = difference.sameShape && difference.relative <= limit;
        failures += pass ? 0 : 1;
        verdict = pass ? "pass" : "FAIL";
    }
    char bound[32] = "-";
    if (limit >= 0)
        std::snprintf(bound, sizeof bound, "%.0e rel", limit);
    std::printf("%-15s %-4s %-44s %10.3e %10.3e %9s  %s%s\n", model.c_str(), clip.c_str(), check.c_str(),
        difference.absolute, difference.relative, bound, verdict, difference.sameShape ? "" : " (shapes differ)");
}

}

struct References {
    Logits exact;
    Logits roundedLikeWhisperCpp;
};

References references(const whisper::GgmlFile& file, const whisper::LogMel& mel, int firstFrame,
    const std::vector<int>& tokens)
{
    Reference exact(file, false);
    Reference likeThem(file, false, Reference::Rounding::likeWhisperCpp);
    return {exact.logits(exact.encode(mel, firstFrame), tokens).asRows(),
        likeThem.logits(likeThem.encode(mel, firstFrame), tokens).asRows()};
}

int notedPasses = 0;

// Ours against whisper.cpp within the limit; beyond it, a pass with a note
// only when ours is within 1e-5 of the exact reference and the reference
// rounded where whisper.cpp rounds to f16 comes within the limit of it:
// then the gap is whisper.cpp's own rounding, measured.
void againstWhisperCpp(const std::string& model, const std::string& clip, const std::string& check,
    const Logits& ours, const Logits& theirs, const References& reference)
{
    Difference gap = compare(ours, theirs);
    Difference oursFromExact = compare(ours, reference.exact);
    Difference theirsFromRounded = compare(theirs, reference.roundedLikeWhisperCpp);
    bool noted = gap.sameShape && gap.relative > logitLimit && oursFromExact.relative <= referenceLimit &&
        theirsFromRounded.relative <= logitLimit;
    if (noted) {
        std::printf("%-15s %-4s %-44s %10.3e %10.3e %9s  pass, f16 note\n", model.c_str(), clip.c_str(),
            check.c_str(), gap.absolute, gap.relative, "1e-03 rel");
        ++notedPasses;
    } else {
        report(model, clip, check, gap, logitLimit);
    }
    report(model, clip, "  ours vs double reference", oursFromExact, referenceLimit);
    report(model, clip, "  whisper.cpp vs double reference", compare(theirs, reference.exact), -1);
    report(model, clip, "  whisper.cpp vs reference rounding like it", theirsFromRounded, -1);
}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: whisper_oracle <whisper.cpp build folder> [part of a model's name]\n";
        return 2;
    }
    std::string filter = argc == 3 ? argv[2] : "";
    WhisperCpp cpp(argv[1]);
    if (!cpp.error.empty()) {
        std::cerr << "whisper.cpp: " << cpp.error << "\n";
        return 2;
    }
    fs::path scratch = fs::temp_directory_path() / ("whisper-oracle-" + std::to_string(getpid()));
    fs::create_directories(scratch);

    std::vector<std::vector<float>> clips;
    for (const auto& sentence : sentences) {
        clips.push_back(speak(sentence, scratch));
        if (clips.back().empty()) {
            std::cerr << "espeak-ng and sox gave no clip for " << sentence.name << "\n";
            return 2;
        }
    }

    struct ModelCase {
        std::string name;
        testing::ModelRecipe recipe;
    };
    std::vector<ModelCase> models;
    for (auto [shapeName, shape] : {std::pair{"tiny", testing::tinyShape()}, std::pair{"base", testing::baseShape()}}) {
        for (auto [kindName, kind] :
            {std::pair{"f16", whisper::TensorKind::f16}, std::pair{"f32", whisper::TensorKind::f32}}) {
            testing::ModelRecipe recipe;
            recipe.shape = shape;
            recipe.kind = kind;
            recipe.scale = 0.05f;
            std::string name = std::string(shapeName) + "-" + kindName;
            models.push_back({name, recipe});
            recipe.adjust = [](testing::GeneratedTensor& tensor) {
                if (tensor.name == "encoder.ln_post.weight")
                    std::fill(tensor.values.begin(), tensor.values.end(), 0.0f);
            };
            models.push_back({name + "-pinned", recipe});
        }
    }

    std::printf("%-15s %-4s %-44s %10s %10s %9s  %s\n", "model", "clip", "check", "max abs", "max rel", "limit",
        "result");
    std::vector<whisper::LogMel> mels;
    {
        // The filters are the same in every generated file.
        fs::path file = scratch / "filters.bin";
        testing::ModelRecipe small;
        testing::writeModel(file, small);
        auto header = whisper::GgmlFile::open(file);
        for (size_t c = 0; c < clips.size(); ++c) {
            mels.push_back(whisper::logMelSpectrogram(clips[c], header.melFilters, header.filterBands, threads));
            whisper::LogMel reference = referenceLogMel(clips[c], header.melFilters, header.filterBands);
            Logits ours{mels.back().values};
            Logits theirs{reference.values};
            Difference difference = compare(ours, theirs);
            // The mel's limit is absolute; its values lie in [-1.5, 3].
            difference.relative = difference.absolute;
            if (mels.back().frames != reference.frames)
                difference.sameShape = false;
            std::printf("%-15s %-4s %-44s %10.3e %10s %9s  %s\n", "any", sentences[c].name.c_str(),
                "log-mel vs double-precision definition", difference.absolute, "-", "1e-04 abs",
                difference.sameShape && difference.absolute <= melLimit ? "pass" : "FAIL");
            failures += difference.sameShape && difference.absolute <= melLimit ? 0 : 1;
        }
        fs::remove(file);
    }

    for (const auto& model : models) {
        if (!filter.empty() && model.name.find(filter) == std::string::npos)
            continue;
        fs::path file = scratch / (model.name + ".bin");
        testing::writeModel(file, model.recipe);
        auto header = whisper::GgmlFile::open(file);
        auto ours = whisper::WhisperModel::load(header);
        Reference exact(header, false);
        // Exact attention, and whisper.cpp's default of flash attention.
        void* context = cpp.open(file, false);
        void* flash = cpp.open(file, true);
        if (!context || !flash) {
            std::printf("%-15s whisper.cpp did not load the file: FAIL\n", model.name.c_str());
            ++failures;
            continue;
        }
        const auto& vocabulary = ours->vocabulary();
        bool pinned = model.name.ends_with("-pinned");
        for (size_t c = 0; c < clips.size(); ++c) {
            const Sentence& sentence = sentences[c];
            std::vector<int> tokens = {vocabulary.startOfTranscript, *vocabulary.languageToken(sentence.language),
                vocabulary.transcribe, vocabulary.noTimestamps};
            for (int token : vocabulary.tokenize(" " + sentence.text))
                if (tokens.size() < 32)
                    tokens.push_back(token);
            const std::string& clip = sentence.name;

            auto start = std::chrono::steady_clock::now();
            Outputs mine = ourOutputs(*ours, mels[c], 0, tokens);
            setMel(cpp, context, mels[c]);
            Logits theirs = theirLogits(cpp, context, tokens);
            if (!pinned)
                report(model.name, clip, "encoder output, ours vs double reference",
                    compare(mine.encoded, exact.encode(mels[c], 0).asRows()), referenceLimit);
            againstWhisperCpp(model.name, clip, pinned ? "logits, ours vs whisper.cpp: decoder alone"
                                                       : "logits, ours vs whisper.cpp, same mel",
                mine.logits, theirs, references(header, mels[c], 0, tokens));
            setMel(cpp, flash, mels[c]);
            report(model.name, clip, "  whisper.cpp with flash attention vs ours", compare(theirLogits(cpp, flash,
                tokens), mine.logits), -1);
            if (!pinned) {
                // A later window: the frames both engines take from the mel.
                const int later = 100;
                setMel(cpp, context, mels[c]);
                againstWhisperCpp(model.name, clip, "logits, window from frame 100, vs whisper.cpp",
                    ourOutputs(*ours, mels[c], later, tokens).logits, theirLogits(cpp, context, tokens, later),
                    references(header, mels[c], later, tokens));
                if (cpp.pcmToMel(context, clips[c].data(), static_cast<int>(clips[c].size()), threads) != 0)
                    throw std::runtime_error("whisper_pcm_to_mel failed");
                report(model.name, clip, "whisper.cpp logits, its mel vs ours", compare(theirLogits(cpp, context,
                    tokens), theirs), logitLimit);
                // What whisper.cpp makes of a mel rounded to f16, and what
                // that rounding does to ours: the scale of its f16 steps.
                setMel(cpp, context, roundedToHalf(mels[c]));
                report(model.name, clip, "  whisper.cpp, our mel vs it in f16", compare(theirLogits(cpp, context,
                    tokens), theirs), -1);
                report(model.name, clip, "  ours, our mel vs it in f16",
                    compare(ourOutputs(*ours, roundedToHalf(mels[c]), 0, tokens).logits, mine.logits), -1);
                Reference erf(header, true);
                report(model.name, clip, "  ours vs reference with erf GELU", compare(mine.logits,
                    erf.logits(erf.encode(mels[c], 0), tokens).asRows()), -1);
            }
            std::fprintf(stderr, "%s %s: %.1f s\n", model.name.c_str(), clip.c_str(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        cpp.release(context);
        cpp.release(flash);
        fs::remove(file);
    }
    fs::remove_all(scratch);
    std::printf("%s\n", failures == 0 ? "all checks pass" : (std::to_string(failures) + " checks fail").c_str());
    if (notedPasses > 0)
        std::printf("%d checks pass with the f16 note: whisper.cpp's distance from the exact network exceeds the limit "
                    "and its f16 roundings, redone in the reference, account for it\n", notedPasses);
    std::printf("flash attention (whisper.cpp's default, info only): over the audio it attends to 1536 key rows, "
                "1500 padded to a multiple of 256, with no mask, so 36 rows of zeros take part; the checks use its "
                "exact path\n");
    std::printf("not compared directly: whisper.cpp's log-mel and encoder output (its interface shows neither); "
                "they are seen through its logits\n");
    return failures == 0 ? 0 : 1;
}
