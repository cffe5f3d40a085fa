#include "recording/WavWriter.h"

#include "channel/HelperError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tarvio {

namespace {

void putLe32(uint8_t* out, uint32_t value)
{
    for (int index = 0; index < 4; ++index)
        out[index] = static_cast<uint8_t>(value >> (8 * index));
}

// Writes as much of [data, data + size) at `offset` as the file takes;
// returns the bytes written.
size_t writeAt(int fd, const uint8_t* data, size_t size, int64_t offset)
{
    size_t done = 0;
    while (done < size) {
        ssize_t result = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            break;
        done += static_cast<size_t>(result);
    }
    return done;
}

}

WavWriter::WavWriter(const std::string& path)
{
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw internalError("não foi possível criar " + path);
    auto bytes = header(0);
    writeAt(fd, bytes.data(), bytes.size(), 0);
}

WavWriter::~WavWriter()
{
    // Releases the descriptor only; the header stays as last written.
    if (fd >= 0)
        ::close(fd);
}

std::array<uint8_t, WavWriter::headerSize> WavWriter::header(int64_t dataBytes)
{
    uint32_t size = 0;
    if (dataBytes > 0)
        size = dataBytes > int64_t(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(dataBytes);
    std::array<uint8_t, headerSize> bytes{};
    uint8_t* out = bytes.data();
    std::memcpy(out, "RIFF", 4);
    putLe32(out + 4, size + 36u);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    putLe32(out + 16, 16);
    out[20] = 1; // PCM
    out[22] = 1; // channels
    putLe32(out + 24, 16000);
    putLe32(out + 28, 32000);
    out[32] = 2; // block align
    out[34] = 16; // bits per sample
    std::memcpy(out + 36, "data", 4);
    putLe32(out + 40, size);
    return bytes;
}

void WavWriter::append(std::span<const int16_t> samples)
{
    if (fd < 0 || samples.empty())
        return;
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t index = 0; index < samples.size(); ++index) {
        auto value = static_cast<uint16_t>(samples[index]);
        bytes[2 * index] = static_cast<uint8_t>(value);
        bytes[2 * index + 1] = static_cast<uint8_t>(value >> 8);
    }
    size_t written = writeAt(fd, bytes.data(), bytes.size(), int64_t(headerSize) + writtenBytes);
    // A half sample left by a short write is overwritten by the next append,
    // so the data never shifts by one byte.
    writtenBytes += static_cast<int64_t>(written & ~size_t(1));
}

void WavWriter::rewriteHeader()
{
    if (fd < 0)
        return;
    auto bytes = header(writtenBytes);
    writeAt(fd, bytes.data(), bytes.size(), 0);
}

void WavWriter::finish()
{
    if (fd < 0)
        return;
    rewriteHeader();
    ::close(fd);
    fd = -1;
}

}
