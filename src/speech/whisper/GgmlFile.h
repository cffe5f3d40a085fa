#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvio::whisper {

// A model file that cannot be used: missing, truncated or inconsistent.
class ModelFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Element kinds of the ggml format, by their stored number.
enum class TensorKind : int32_t { f32 = 0, f16 = 1, q5_0 = 6, q5_1 = 7, q8_0 = 8 };

struct HyperParameters {
    int32_t vocabularySize = 0;
    int32_t audioContext = 0;
    int32_t audioState = 0;
    int32_t audioHeads = 0;
    int32_t audioLayers = 0;
    int32_t textContext = 0;
    int32_t textState = 0;
    int32_t textHeads = 0;
    int32_t textLayers = 0;
    int32_t melBands = 0;
    int32_t fileType = 0;
};

struct TensorInfo {
    TensorKind kind = TensorKind::f32;
    // Innermost first, as stored.
    std::vector<int64_t> dims;
    uint64_t offset = 0;
    uint64_t bytes = 0;

    int64_t elements() const;
};

// Header, mel filters, vocabulary and the table of tensors of a ggml whisper
// file; the tensor data stays on disk until read.
struct GgmlFile {
    std::filesystem::path path;
    uint64_t fileBytes = 0;
    HyperParameters hyper;
    int32_t filterBands = 0;
    int32_t filterBins = 0;
    std::vector<float> melFilters;
    // Token text as raw bytes, by token id (the stored part only).
    std::vector<std::string> tokens;
    std::map<std::string, TensorInfo> tensors;

    // Reads everything but the tensor data; checks that the tensors fill the
    // file exactly. Throws ModelFileError.
    static GgmlFile open(const std::filesystem::path& path);

    // The tensor's elements as floats; throws ModelFileError.
    std::vector<float> readTensor(const std::string& name) const;
    // The tensor's bytes as stored (TensorInfo::bytes of them); throws
    // ModelFileError.
    std::unique_ptr<uint8_t[]> readStored(const std::string& name) const;
};

// Stored bytes of `elements` values of `kind`; none when not a whole number
// of blocks.
std::optional<uint64_t> storedBytes(TensorKind kind, int64_t elements);

// Decodes `elements` values stored as `kind` at `data` into `out`.
void dequantize(TensorKind kind, const uint8_t* data, int64_t elements, float* out);

float halfToFloat(uint16_t half);
uint16_t floatToHalf(float value);

}
