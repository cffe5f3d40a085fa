#include "speech/whisper/GgmlFile.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

namespace tarvio::whisper {

namespace {

constexpr uint32_t fileMagic = 0x67676d6c;
constexpr int64_t blockSize = 32;
// Bounds that no real model comes near; they keep a corrupt header from
// asking for absurd allocations.
constexpr int32_t maxDimension = 1 << 24;
constexpr int32_t maxNameLength = 1024;
constexpr int32_t maxTokenLength = 1 << 16;

class Reader {
public:
    Reader(const std::filesystem::path& path, uint64_t size) : stream(path, std::ios::binary), size(size)
    {
        if (!stream)
            throw ModelFileError("modelo ilegível: " + path.string());
    }

    void read(void* target, uint64_t bytes)
    {
        if (bytes > size - position)
            throw ModelFileError("modelo truncado");
        stream.read(static_cast<char*>(target), static_cast<std::streamsize>(bytes));
        if (!stream)
            throw ModelFileError("modelo truncado");
        position += bytes;
    }

    int32_t integer()
    {
        int32_t value = 0;
        read(&value, sizeof value);
        return value;
    }

    void skip(uint64_t bytes)
    {
        if (bytes > size - position)
            throw ModelFileError("modelo truncado");
        position += bytes;
        stream.seekg(static_cast<std::streamoff>(position));
    }

    uint64_t offset() const { return position; }
    bool atEnd() const { return position == size; }

private:
    std::ifstream stream;
    uint64_t size;
    uint64_t position = 0;
};

int32_t positive(int32_t value, int32_t limit = maxDimension)
{
    if (value <= 0 || value > limit)
        throw ModelFileError("cabeçalho do modelo inválido");
    return value;
}

bool knownKind(int32_t kind)
{
    switch (static_cast<TensorKind>(kind)) {
    case TensorKind::f32:
    case TensorKind::f16:
    case TensorKind::q5_0:
    case TensorKind::q5_1:
    case TensorKind::q8_0:
        return true;
    }
    return false;
}

uint16_t loadHalf(const uint8_t* data)
{
    uint16_t value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

}

int64_t TensorInfo::elements() const
{
    int64_t count = 1;
    for (auto dim : dims)
        count *= dim;
    return count;
}

float halfToFloat(uint16_t half)
{
    uint32_t sign = static_cast<uint32_t>(half & 0x8000) << 16;
    uint32_t exponent = (half >> 10) & 0x1f;
    uint32_t mantissa = half & 0x3ff;
    if (exponent == 0) {
        float value = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -value : value;
    }
    if (exponent == 31)
        return std::bit_cast<float>(sign | 0x7f800000 | (mantissa << 13));
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

uint16_t floatToHalf(float value)
{
    // Round to nearest even through the float's own bits.
    uint32_t bits = std::bit_cast<uint32_t>(value);
    uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
    float magnitude = std::fabs(value);
    if (std::isnan(value))
        return static_cast<uint16_t>(sign | 0x7e00);
    if (magnitude >= 65520.0f)
        return static_cast<uint16_t>(sign | 0x7c00);
    if (magnitude < 6.103515625e-05f) {
        auto steps = static_cast<uint16_t>(std::nearbyint(magnitude * 16777216.0f));
        return static_cast<uint16_t>(sign | steps);
    }
    uint32_t absolute = bits & 0x7fffffff;
    uint32_t rounded = absolute + 0xfff + ((absolute >> 13) & 1);
    return static_cast<uint16_t>(sign | ((rounded - (112u << 23)) >> 13));
}

std::optional<uint64_t> storedBytes(TensorKind kind, int64_t elements)
{
    if (elements < 0)
        return std::nullopt;
    auto count = static_cast<uint64_t>(elements);
    switch (kind) {
    case TensorKind::f32:
        return count * 4;
    case TensorKind::f16:
        return count * 2;
    default:
        break;
    }
    if (count % blockSize)
        return std::nullopt;
    uint64_t blocks = count / blockSize;
    switch (kind) {
    case TensorKind::q5_0:
        return blocks * 22;
    case TensorKind::q5_1:
        return blocks * 24;
    case TensorKind::q8_0:
        return blocks * 34;
    default:
        return std::nullopt;
    }
}

void dequantize(TensorKind kind, const uint8_t* data, int64_t elements, float* out)
{
    switch (kind) {
    case TensorKind::f32:
        std::memcpy(out, data, static_cast<size_t>(elements) * 4);
        return;
    case TensorKind::f16: {
        static const std::vector<float> table = [] {
            std::vector<float> values(65536);
            for (uint32_t half = 0; half < 65536; ++half)
                values[half] = halfToFloat(static_cast<uint16_t>(half));
            return values;
        }();
        for (int64_t i = 0; i < elements; ++i)
            out[i] = table[loadHalf(data + 2 * i)];
        return;
    }
    case TensorKind::q8_0:
        // Block: half scale d, 32 signed bytes q; value = d * q.
        for (int64_t block = 0; block < elements / blockSize; ++block, data += 34, out += blockSize) {
            float scale = halfToFloat(loadHalf(data));
            for (int j = 0; j < blockSize; ++j)
                out[j] = scale * static_cast<float>(static_cast<int8_t>(data[2 + j]));
        }
        return;
    case TensorKind::q5_0:
    case TensorKind::q5_1: {
        // Block: half scale d (and half minimum m for q5_1), 32 high bits,
        // 16 bytes of low nibbles; value j holds the low nibble of byte j
        // (j < 16) or the high nibble of byte j - 16, and bit j of the high
        // bits. q5_0: d * (q - 16); q5_1: d * q + m.
        bool withMinimum = kind == TensorKind::q5_1;
        size_t stride = withMinimum ? 24 : 22;
        for (int64_t block = 0; block < elements / blockSize; ++block, data += stride, out += blockSize) {
            float scale = halfToFloat(loadHalf(data));
            float minimum = withMinimum ? halfToFloat(loadHalf(data + 2)) : 0.0f;
            const uint8_t* highBytes = data + (withMinimum ? 4 : 2);
            uint32_t high;
            std::memcpy(&high, highBytes, 4);
            const uint8_t* low = highBytes + 4;
            for (int j = 0; j < 16; ++j) {
                int first = (low[j] & 0x0f) | static_cast<int>(((high >> j) & 1) << 4);
                int second = (low[j] >> 4) | static_cast<int>(((high >> (j + 16)) & 1) << 4);
                if (withMinimum) {
                    out[j] = scale * static_cast<float>(first) + minimum;
                    out[j + 16] = scale * static_cast<float>(second) + minimum;
                } else {
                    out[j] = scale * static_cast<float>(first - 16);
                    out[j + 16] = scale * static_cast<float>(second - 16);
                }
            }
        }
        return;
    }
    }
}

GgmlFile GgmlFile::open(const std::filesystem::path& path)
{
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error)
        throw ModelFileError("modelo ausente: " + path.string());
    Reader reader(path, size);

    GgmlFile file;
    file.path = path;
    file.fileBytes = size;
    uint32_t magic = 0;
    reader.read(&magic, sizeof magic);
    if (magic != fileMagic)
        throw ModelFileError("não é um modelo ggml");

    HyperParameters& hyper = file.hyper;
    hyper.vocabularySize = positive(reader.integer());
    hyper.audioContext = positive(reader.integer());
    hyper.audioState = positive(reader.integer());
    hyper.audioHeads = positive(reader.integer());
    hyper.audioLayers = positive(reader.integer());
    hyper.textContext = positive(reader.integer());
    hyper.textState = positive(reader.integer());
    hyper.textHeads = positive(reader.integer());
    hyper.textLayers = positive(reader.integer());
    hyper.melBands = positive(reader.integer());
    hyper.fileType = reader.integer();
    if (hyper.audioState % hyper.audioHeads || hyper.textState % hyper.textHeads)
        throw ModelFileError("cabeçalho do modelo inválido");

    file.filterBands = positive(reader.integer());
    file.filterBins = positive(reader.integer());
    file.melFilters.resize(static_cast<size_t>(file.filterBands) * static_cast<size_t>(file.filterBins));
    reader.read(file.melFilters.data(), file.melFilters.size() * sizeof(float));

    int32_t storedTokens = reader.integer();
    if (storedTokens < 0 || storedTokens > hyper.vocabularySize)
        throw ModelFileError("vocabulário do modelo inválido");
    file.tokens.resize(static_cast<size_t>(storedTokens));
    for (auto& token : file.tokens) {
        int32_t length = reader.integer();
        if (length < 0 || length > maxTokenLength)
            throw ModelFileError("vocabulário do modelo inválido");
        token.resize(static_cast<size_t>(length));
        reader.read(token.data(), token.size());
    }

    while (!reader.atEnd()) {
        int32_t dimensions = reader.integer();
        int32_t nameLength = reader.integer();
        int32_t kind = reader.integer();
        if (dimensions < 1 || dimensions > 4 || nameLength < 1 || nameLength > maxNameLength || !knownKind(kind))
            throw ModelFileError("tabela de tensores inválida");
        TensorInfo info;
        info.kind = static_cast<TensorKind>(kind);
        for (int32_t i = 0; i < dimensions; ++i)
            info.dims.push_back(positive(reader.integer()));
        std::string name(static_cast<size_t>(nameLength), '\0');
        reader.read(name.data(), name.size());
        auto bytes = storedBytes(info.kind, info.elements());
        if (!bytes)
            throw ModelFileError("tensor inválido: " + name);
        info.offset = reader.offset();
        info.bytes = *bytes;
        reader.skip(info.bytes);
        if (!file.tensors.emplace(std::move(name), std::move(info)).second)
            throw ModelFileError("tensor repetido");
    }
    return file;
}

std::unique_ptr<uint8_t[]> GgmlFile::readStored(const std::string& name) const
{
    auto found = tensors.find(name);
    if (found == tensors.end())
        throw ModelFileError("tensor ausente: " + name);
    const TensorInfo& info = found->second;
    std::ifstream stream(path, std::ios::binary);
    // Not zeroed first: the read fills every byte.
    auto raw = std::make_unique_for_overwrite<uint8_t[]>(info.bytes);
    stream.seekg(static_cast<std::streamoff>(info.offset));
    stream.read(reinterpret_cast<char*>(raw.get()), static_cast<std::streamsize>(info.bytes));
    if (!stream)
        throw ModelFileError("modelo truncado");
    return raw;
}

std::vector<float> GgmlFile::readTensor(const std::string& name) const
{
    auto raw = readStored(name);
    const TensorInfo& info = tensors.at(name);
    std::vector<float> values(static_cast<size_t>(info.elements()));
    dequantize(info.kind, raw.get(), info.elements(), values.data());
    return values;
}

}
