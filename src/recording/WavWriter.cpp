#include "recording/WavWriter.h"

#include "channel/HelperError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/magic.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tarvio {

namespace {

void putLe32(uint8_t* out, uint32_t value)
{
    for (int index = 0; index < 4; ++index)
        out[index] = static_cast<uint8_t>(value >> (8 * index));
}

// Writes as much of [data, data + size) at `offset` as the file takes;
// returns the bytes written and leaves the reason of a shortfall in `error`.
size_t writeAt(int fd, const uint8_t* data, size_t size, int64_t offset, int& error)
{
    size_t done = 0;
    error = 0;
    while (done < size) {
        ssize_t result = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + int64_t(done)));
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0) {
            error = errno;
            break;
        }
        if (result == 0) {
            error = ENOSPC;
            break;
        }
        done += static_cast<size_t>(result);
    }
    return done;
}

// Kernel interfaces that look like files but are not storage.
bool isPseudoFileSystem(long type)
{
    switch (type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
        return true;
    default:
        return false;
    }
}

bool onPseudoFileSystem(const std::string& path)
{
    struct statfs info {};
    return ::statfs(path.c_str(), &info) == 0 && isPseudoFileSystem(long(info.f_type));
}

// The files open for writing in this process, by device and inode, so that
// no writer truncates or overwrites the file of another.
std::mutex openFilesLock;
std::set<std::pair<uint64_t, uint64_t>> openFiles;

HelperError cannotCreate(const std::string& path)
{
    return internalError("não foi possível criar " + path);
}

}

WavWriter::WavWriter(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw cannotCreate(path);
    // Looked at before opening: opening a device or a kernel file can act.
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    if (existed && !S_ISREG(before.st_mode))
        throw cannotCreate(path);
    std::string parent = std::filesystem::path(path).parent_path().string();
    if (onPseudoFileSystem(existed ? path : (parent.empty() ? "." : parent)))
        throw cannotCreate(path);

    // Not truncated yet: the file may turn out to be one this process writes.
    // O_NONBLOCK: a FIFO put in place meanwhile must not hold the request.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool created = true;
    int opened = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (opened < 0 && errno == EEXIST) {
        created = false;
        opened = ::open(path.c_str(), flags);
    }
    if (opened < 0)
        throw cannotCreate(path);
    struct stat info {};
    struct statfs system {};
    if (::fstat(opened, &info) != 0 || !S_ISREG(info.st_mode) || ::fstatfs(opened, &system) != 0
        || isPseudoFileSystem(long(system.f_type))) {
        ::close(opened);
        throw cannotCreate(path);
    }
    {
        std::lock_guard guard(openFilesLock);
        if (!openFiles.insert({uint64_t(info.st_dev), uint64_t(info.st_ino)}).second) {
            ::close(opened);
            throw cannotCreate(path);
        }
    }
    fd = opened;
    device = info.st_dev;
    inode = info.st_ino;

    int error = 0;
    auto bytes = header(0);
    if (::ftruncate(fd, 0) != 0)
        error = errno;
    else if (tarvio::writeAt(fd, bytes.data(), bytes.size(), 0, error) == bytes.size())
        return;
    release();
    if (created)
        ::unlink(path.c_str());
    throw internalError("não foi possível gravar " + path + ": " + std::strerror(error));
}

WavWriter::~WavWriter()
{
    // Releases the descriptor only; the header stays as last written.
    release();
}

void WavWriter::release()
{
    if (fd < 0)
        return;
    {
        std::lock_guard guard(openFilesLock);
        openFiles.erase({device, inode});
    }
    ::close(std::exchange(fd, -1));
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

size_t WavWriter::writeAt(int64_t position, std::span<const int16_t> samples)
{
    if (fd < 0 || samples.empty() || position < 0)
        return 0;
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t index = 0; index < samples.size(); ++index) {
        auto value = static_cast<uint16_t>(samples[index]);
        bytes[2 * index] = static_cast<uint8_t>(value);
        bytes[2 * index + 1] = static_cast<uint8_t>(value >> 8);
    }
    int error = 0;
    const int64_t start = 2 * position;
    // A half sample left by a short write is overwritten later, so the data
    // never shifts by one byte.
    size_t written = tarvio::writeAt(fd, bytes.data(), bytes.size(), int64_t(headerSize) + start, error) & ~size_t(1);
    if (written < bytes.size())
        failure = std::strerror(error);
    if (written > 0)
        endBytes = std::max(endBytes, start + int64_t(written));
    return written / 2;
}

bool WavWriter::extendTo(int64_t samples)
{
    if (fd < 0 || 2 * samples <= endBytes)
        return true;
    // Grows the file without writing data: no space is needed for the gap.
    if (::ftruncate(fd, static_cast<off_t>(int64_t(headerSize) + 2 * samples)) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    endBytes = 2 * samples;
    return true;
}

bool WavWriter::rewriteHeader()
{
    if (fd < 0)
        return true;
    auto bytes = header(endBytes);
    int error = 0;
    if (tarvio::writeAt(fd, bytes.data(), bytes.size(), 0, error) == bytes.size())
        return true;
    failure = std::strerror(error);
    return false;
}

bool WavWriter::finish()
{
    if (fd < 0)
        return true;
    bool headerWritten = rewriteHeader();
    {
        std::lock_guard guard(openFilesLock);
        openFiles.erase({device, inode});
    }
    bool closed = ::close(std::exchange(fd, -1)) == 0;
    if (!closed)
        failure = std::strerror(errno);
    return headerWritten && closed;
}

}
