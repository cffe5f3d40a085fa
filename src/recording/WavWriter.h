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

    // Creates (or truncates) a regular file with mode 0600 and writes an
    // empty header. Throws HelperError "internal": "não foi possível criar "
    // + path when the path holds a NUL, names anything but a regular or a new
    // file (a FIFO, a device, a directory, a file of /proc or /sys), or is the
    // file of another open writer, through whatever path or link; "não foi
    // possível gravar " + path + ": " + reason when the header cannot be
    // written (a file it created is then removed again). Never blocks on a
    // FIFO.
    explicit WavWriter(const std::string& path);
    // Closes without writing: owners call `finish` themselves.
    ~WavWriter();

    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // One positional write of the samples at sample index `position` of the
    // data; returns the whole samples written. Writing past the end leaves a
    // gap that reads as silence.
    size_t writeAt(int64_t position, std::span<const int16_t> samples);
    // Writes after the data so far.
    size_t append(std::span<const int16_t> samples) { return writeAt(endBytes / 2, samples); }
    // Makes the data at least `samples` long; what was never written reads
    // as silence. False when the file cannot grow.
    bool extendTo(int64_t samples);
    // Writes the header for the current data size at offset 0; false when
    // the write fails.
    bool rewriteHeader();
    // Final header, then close; false when either fails. Later calls do
    // nothing and return true.
    bool finish();

    bool isFinished() const { return fd < 0; }
    // Bytes of sample data the file holds (up to the end of the last write).
    int64_t dataBytes() const { return endBytes; }
    // The system's text for the last failed write, or "" when none failed.
    const std::string& lastError() const { return failure; }

    // The header for `dataBytes` bytes of samples (clamped to 0..2^32-1).
    static std::array<uint8_t, headerSize> header(int64_t dataBytes);

private:
    void release();

    int fd = -1;
    int64_t endBytes = 0;
    std::string failure;
    uint64_t device = 0;
    uint64_t inode = 0;
};

}
