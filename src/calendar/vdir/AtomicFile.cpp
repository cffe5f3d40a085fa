#include "calendar/vdir/AtomicFile.h"

#include "calendar/CalendarStore.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvio::vdir {

namespace {

[[noreturn]] void fail(const std::string& what, int error)
{
    throw StoreError(what + ": " + std::strerror(error));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    int release()
    {
        int result = fd;
        fd = -1;
        return result;
    }

private:
    int fd;
};

}

void writeFileAtomically(const std::string& folder, const std::string& name, std::string_view contents)
{
    std::string temporary = folder + "/." + name + ".XXXXXX.tmp";
    Descriptor file(::mkostemps(temporary.data(), 4, O_CLOEXEC));
    if (file.get() < 0)
        fail("não foi possível criar o arquivo em " + folder, errno);
    auto discard = [&](const std::string& what) {
        int error = errno;
        ::close(file.release());
        ::unlink(temporary.c_str());
        fail(what, error);
    };
    ::fchmod(file.get(), 0644);
    for (size_t written = 0; written < contents.size();) {
        ssize_t count = ::write(file.get(), contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;
            discard("não foi possível gravar " + name);
        }
        written += static_cast<size_t>(count);
    }
    if (::fsync(file.get()) != 0)
        discard("não foi possível gravar " + name);
    if (::close(file.release()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail("não foi possível gravar " + name, error);
    }
    if (::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail("não foi possível gravar " + name, error);
    }
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
}

bool readWholeFile(const std::string& path, std::string& contents, size_t limit)
{
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        return false;
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || static_cast<size_t>(status.st_size) > limit)
        return false;
    contents.clear();
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        if (contents.size() + static_cast<size_t>(count) > limit)
            return false;
        contents.append(buffer, static_cast<size_t>(count));
    }
}

}
