#include "GeneratedModel.h"

#include "speech/whisper/Vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tarvio::testing {

namespace {

using whisper::TensorKind;

const std::vector<std::string> readableWords = {" Olá", " mundo", " Tarvio", " abre", " agenda", " hello", " world",
    " Zé", " e"};

// The header's file type: ggml's numbering of whole-file kinds, with the
// quantization version (2) in the thousands.
int fileType(TensorKind kind)
{
    switch (kind) {
    case TensorKind::f32:
        return 0;
    case TensorKind::f16:
        return 1;
    case TensorKind::q8_0:
        return 2007;
    case TensorKind::q5_0:
        return 2008;
    case TensorKind::q5_1:
        return 2009;
    }
    return 0;
}

void put(std::ofstream& out, int32_t value) { out.write(reinterpret_cast<const char*>(&value), sizeof value); }

void putHalf(std::vector<uint8_t>& bytes, float value)
{
    uint16_t half = whisper::floatToHalf(value);
    bytes.push_back(static_cast<uint8_t>(half & 0xff));
    bytes.push_back(static_cast<uint8_t>(half >> 8));
}

// Slaney-style triangles over the 201 bins: positive and overlapping,
// enough for a front end to have something to weigh.
std::vector<float> melFilters(int bands)
{
    const int bins = 201;
    std::vector<float> filters(static_cast<size_t>(bands) * bins, 0.0f);
    auto toMel = [](double hertz) { return 2595.0 * std::log10(1.0 + hertz / 700.0); };
    auto toHertz = [](double mel) { return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0); };
    double top = toMel(8000.0);
    for (int band = 0; band < bands; ++band) {
        double left = toHertz(top * band / (bands + 1));
        double center = toHertz(top * (band + 1) / (bands + 1));
        double right = toHertz(top * (band + 2) / (bands + 1));
        for (int bin = 0; bin < bins; ++bin) {
            double hertz = bin * 8000.0 / (bins - 1);
            double weight = hertz < center ? (hertz - left) / (center - left) : (right - hertz) / (right - center);
            filters[static_cast<size_t>(band) * bins + bin] = static_cast<float>(std::max(0.0, weight) * 2.0 / (right - left));
        }
    }
    return filters;
}

std::vector<GeneratedTensor> tensorList(const ModelRecipe& recipe)
{
    const ModelShape& s = recipe.shape;
    const int64_t state = s.audioState;
    bool quantized = recipe.kind != TensorKind::f32 && recipe.kind != TensorKind::f16;
    TensorKind convolution = quantized ? TensorKind::f16 : recipe.kind;
    std::vector<GeneratedTensor> list;
    auto add = [&](std::string name, std::vector<int64_t> dims, TensorKind kind) {
        list.push_back({std::move(name), std::move(dims), {}, kind});
    };
    auto norm = [&](const std::string& prefix) {
        add(prefix + ".weight", {state}, TensorKind::f32);
        add(prefix + ".bias", {state}, TensorKind::f32);
    };
    auto attention = [&](const std::string& prefix) {
        for (const char* part : {"query", "key", "value", "out"}) {
            add(prefix + "." + part + ".weight", {state, state}, recipe.kind);
            if (std::string(part) != "key")
                add(prefix + "." + part + ".bias", {state}, TensorKind::f32);
        }
    };
    auto mlp = [&](const std::string& prefix) {
        norm(prefix + ".mlp_ln");
        add(prefix + ".mlp.0.weight", {state, 4 * state}, recipe.kind);
        add(prefix + ".mlp.0.bias", {4 * state}, TensorKind::f32);
        add(prefix + ".mlp.2.weight", {4 * state, state}, recipe.kind);
        add(prefix + ".mlp.2.bias", {state}, TensorKind::f32);
    };

    add("encoder.positional_embedding", {state, s.audioContext}, TensorKind::f32);
    add("encoder.conv1.weight", {3, s.melBands, state}, convolution);
    add("encoder.conv1.bias", {1, state}, TensorKind::f32);
    add("encoder.conv2.weight", {3, state, state}, convolution);
    add("encoder.conv2.bias", {1, state}, TensorKind::f32);
    add("encoder.ln_post.weight", {state}, TensorKind::f32);
    add("encoder.ln_post.bias", {state}, TensorKind::f32);
    add("decoder.positional_embedding", {state, s.textContext}, TensorKind::f32);
    add("decoder.token_embedding.weight", {state, s.vocabularySize}, recipe.kind);
    add("decoder.ln.weight", {state}, TensorKind::f32);
    add("decoder.ln.bias", {state}, TensorKind::f32);
    for (int i = 0; i < s.audioLayers; ++i) {
        std::string prefix = "encoder.blocks." + std::to_string(i);
        mlp(prefix);
        norm(prefix + ".attn_ln");
        attention(prefix + ".attn");
    }
    for (int i = 0; i < s.textLayers; ++i) {
        std::string prefix = "decoder.blocks." + std::to_string(i);
        mlp(prefix);
        norm(prefix + ".attn_ln");
        attention(prefix + ".attn");
        norm(prefix + ".cross_attn_ln");
        attention(prefix + ".cross_attn");
    }
    return list;
}

}

ModelShape smallShape() { return {51865, 8, 32, 2, 1, 32, 32, 2, 1, 80, 0}; }
ModelShape tinyShape() { return {51865, 1500, 384, 6, 4, 448, 384, 6, 4, 80}; }
ModelShape baseShape() { return {51865, 1500, 512, 8, 6, 448, 512, 8, 6, 80}; }

int wordToken(const std::string& word)
{
    auto found = std::find(readableWords.begin(), readableWords.end(), word);
    if (found == readableWords.end())
        throw std::invalid_argument("palavra desconhecida: " + word);
    return 256 + static_cast<int>(found - readableWords.begin());
}

std::vector<std::string> generatedTokens(int vocabularySize)
{
    int textTokens = vocabularySize >= 51865 ? 50257 : 50256;
    std::vector<std::string> tokens;
    for (int byte = 0; byte < 256; ++byte)
        tokens.emplace_back(1, static_cast<char>(byte));
    tokens.insert(tokens.end(), readableWords.begin(), readableWords.end());
    while (static_cast<int>(tokens.size()) < textTokens)
        tokens.push_back("w" + std::to_string(tokens.size()));
    return tokens;
}

std::vector<uint8_t> encodeTensor(TensorKind kind, const std::vector<float>& values)
{
    std::vector<uint8_t> bytes;
    if (kind == TensorKind::f32) {
        bytes.resize(values.size() * 4);
        std::memcpy(bytes.data(), values.data(), bytes.size());
        return bytes;
    }
    if (kind == TensorKind::f16) {
        for (float value : values)
            putHalf(bytes, value);
        return bytes;
    }
    for (size_t start = 0; start < values.size(); start += 32) {
        const float* x = values.data() + start;
        if (kind == TensorKind::q8_0) {
            float largest = 0.0f;
            for (int j = 0; j < 32; ++j)
                largest = std::max(largest, std::fabs(x[j]));
            float scale = largest / 127.0f;
            float inverse = scale ? 1.0f / scale : 0.0f;
            putHalf(bytes, scale);
            for (int j = 0; j < 32; ++j)
                bytes.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::lround(x[j] * inverse))));
            continue;
        }
        float scale = 0.0f;
        float minimum = 0.0f;
        std::vector<int> levels(32);
        if (kind == TensorKind::q5_0) {
            float extreme = 0.0f;
            for (int j = 0; j < 32; ++j)
                if (std::fabs(x[j]) > std::fabs(extreme))
                    extreme = x[j];
            scale = extreme / -16.0f;
            float inverse = scale ? 1.0f / scale : 0.0f;
            for (int j = 0; j < 32; ++j)
                levels[j] = std::min(31, static_cast<int>(x[j] * inverse + 16.5f));
            putHalf(bytes, scale);
        } else {
            minimum = *std::min_element(x, x + 32);
            float maximum = *std::max_element(x, x + 32);
            scale = (maximum - minimum) / 31.0f;
            float inverse = scale ? 1.0f / scale : 0.0f;
            for (int j = 0; j < 32; ++j)
                levels[j] = std::min(31, static_cast<int>((x[j] - minimum) * inverse + 0.5f));
            putHalf(bytes, scale);
            putHalf(bytes, minimum);
        }
        uint32_t high = 0;
        for (int j = 0; j < 16; ++j) {
            high |= static_cast<uint32_t>((levels[j] >> 4) & 1) << j;
            high |= static_cast<uint32_t>((levels[j + 16] >> 4) & 1) << (j + 16);
        }
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>(high >> shift));
        for (int j = 0; j < 16; ++j)
            bytes.push_back(static_cast<uint8_t>((levels[j] & 0x0f) | ((levels[j + 16] & 0x0f) << 4)));
    }
    return bytes;
}

void writeModel(const std::filesystem::path& path, const ModelRecipe& recipe)
{
    const ModelShape& s = recipe.shape;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    put(out, 0x67676d6c);
    for (int value : {s.vocabularySize, s.audioContext, s.audioState, s.audioHeads, s.audioLayers, s.textContext,
             s.textState, s.textHeads, s.textLayers, s.melBands, fileType(recipe.kind)})
        put(out, value);
    std::vector<float> filters = melFilters(s.melBands);
    put(out, s.melBands);
    put(out, 201);
    out.write(reinterpret_cast<const char*>(filters.data()), static_cast<std::streamsize>(filters.size() * 4));
    auto tokens = generatedTokens(s.vocabularySize);
    put(out, static_cast<int32_t>(tokens.size()));
    for (const auto& token : tokens) {
        put(out, static_cast<int32_t>(token.size()));
        out.write(token.data(), static_cast<std::streamsize>(token.size()));
    }

    std::mt19937 random(recipe.seed);
    std::normal_distribution<float> noise(0.0f, recipe.scale);
    for (GeneratedTensor& tensor : tensorList(recipe)) {
        int64_t count = 1;
        for (auto dim : tensor.dims)
            count *= dim;
        tensor.values.resize(static_cast<size_t>(count));
        bool normWeight = tensor.name.find("ln") != std::string::npos && tensor.name.ends_with(".weight");
        for (auto& value : tensor.values)
            value = normWeight ? 1.0f + noise(random) : noise(random);
        if (recipe.adjust)
            recipe.adjust(tensor);
        auto bytes = encodeTensor(tensor.kind, tensor.values);
        put(out, static_cast<int32_t>(tensor.dims.size()));
        put(out, static_cast<int32_t>(tensor.name.size()));
        put(out, static_cast<int32_t>(tensor.kind));
        for (auto dim : tensor.dims)
            put(out, static_cast<int32_t>(dim));
        out.write(tensor.name.data(), static_cast<std::streamsize>(tensor.name.size()));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out)
        throw std::runtime_error("não foi possível escrever " + path.string());
}

ModelRecipe sayingModel(const std::vector<int>& words, ModelShape shape)
{
    whisper::Vocabulary vocabulary({}, shape.vocabularySize);
    // The chain from <|notimestamps|> through the words to end-of-text, one
    // embedding dimension per link.
    std::vector<int> chain = {vocabulary.noTimestamps};
    chain.insert(chain.end(), words.begin(), words.end());
    chain.push_back(vocabulary.endOfText);
    if (static_cast<int>(chain.size()) > shape.textState)
        throw std::invalid_argument("cadeia longa demais");

    ModelRecipe recipe;
    recipe.shape = shape;
    recipe.adjust = [chain, shape](GeneratedTensor& tensor) {
        const std::string& name = tensor.name;
        const int64_t state = shape.textState;
        if (!name.starts_with("decoder."))
            return;
        bool norm = name.find("ln") != std::string::npos;
        std::fill(tensor.values.begin(), tensor.values.end(), norm && name.ends_with(".weight") ? 1.0f : 0.0f);
        if (name == "decoder.token_embedding.weight") {
            for (size_t link = 0; link < chain.size(); ++link)
                tensor.values[static_cast<size_t>(chain[link] * state) + link] = 1.0f;
        }
        // Hidden unit k fires on link k and writes link k + 1.
        if (name == "decoder.blocks.0.mlp.0.weight") {
            for (size_t link = 0; link + 1 < chain.size(); ++link)
                tensor.values[link * static_cast<size_t>(state) + link] = 1.0f;
        }
        if (name == "decoder.blocks.0.mlp.0.bias") {
            for (size_t link = 0; link + 1 < chain.size(); ++link)
                tensor.values[link] = -2.0f;
        }
        if (name == "decoder.blocks.0.mlp.2.weight") {
            for (size_t link = 0; link + 1 < chain.size(); ++link)
                tensor.values[(link + 1) * static_cast<size_t>(4 * state) + link] = 10.0f;
        }
    };
    return recipe;
}

}
