#pragma once

#include "support/TemporaryFolder.h"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <sys/resource.h>

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

// Caps the size of the files this process writes while it lives, as a full
// disk would: writes beyond the cap fail (EFBIG) instead of ending the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previous = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        set(bytes);
    }
    ~FileSizeLimit()
    {
        lift();
        std::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    void set(rlim_t bytes)
    {
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    void lift() { ::setrlimit(RLIMIT_FSIZE, &saved); }

private:
    rlimit saved {};
    void (*previous)(int) = nullptr;
};

using tarvio::testing::TemporaryFolder;

}
