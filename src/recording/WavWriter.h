#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarvio {

// The file of one recording: a canonical 44-byte-header WAV file, 16 kHz,
// mono, 16-bit PCM. The header is rewritten whenever the owner asks and once
// more at `finish`, so the file stays readable while it grows. No lock: the
// owner serialises every call.
class WavWriter {
public:
    static constexpr size_t headerSize = 44;

    // Creates (or truncates) the file with mode 0600 and writes an empty
    // header. Throws HelperError "internal" when the file cannot be created.
    explicit WavWriter(const std::string& path);
    // Closes without writing: owners call `finish` themselves.
    ~WavWriter();

    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // One positional write after the data so far. A failed write drops the
    // samples silently.
    void append(std::span<const int16_t> samples);
    // Writes the header for the current data size at offset 0.
    void rewriteHeader();
    // Final header, then close. Later calls do nothing.
    void finish();

    bool isFinished() const { return fd < 0; }
    int64_t dataBytes() const { return writtenBytes; }

    // The header for `dataBytes` bytes of samples (clamped to 0..2^32-1).
    static std::array<uint8_t, headerSize> header(int64_t dataBytes);

private:
    int fd = -1;
    int64_t writtenBytes = 0;
};

}
