#pragma once

#include "support/TemporaryFolder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvio::testing {

inline std::vector<uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t le32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16
        | uint32_t(bytes[offset + 3]) << 24;
}

// The 16-bit samples after the 44-byte header.
inline std::vector<int16_t> wavSamples(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> samples;
    for (size_t offset = 44; offset + 1 < bytes.size(); offset += 2)
        samples.push_back(static_cast<int16_t>(uint16_t(bytes[offset]) | uint16_t(bytes[offset + 1]) << 8));
    return samples;
}

using tarvio::testing::TemporaryFolder;

}
