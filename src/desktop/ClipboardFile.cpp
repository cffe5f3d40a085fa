#include "desktop/ClipboardFile.h"

#include "channel/Utf8.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace tarvio {

namespace {

bool unreserved(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
}

std::string realPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (resolved)
        return resolved.get();
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    return absolute.lexically_normal().string();
}

}

bool itemExists(const std::string& path)
{
    // A name with a NUL byte names nothing; the system call would see a
    // shorter path.
    if (path.find('\0') != std::string::npos)
        return false;
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

ClipboardFile clipboardFile(const std::string& path)
{
    std::string real = realPath(path);
    return {makeValidUtf8(real), "file://" + percentEncodePath(real)};
}

std::string percentEncodePath(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char character : path) {
        auto byte = static_cast<unsigned char>(character);
        if (unreserved(byte)) {
            encoded += character;
            continue;
        }
        encoded += '%';
        encoded += hex[byte >> 4];
        encoded += hex[byte & 0xF];
    }
    return encoded;
}

std::string uriListText(const ClipboardFile& file)
{
    return file.uri + "\r\n";
}

std::string gnomeCopiedFilesText(const ClipboardFile& file)
{
    return "copy\n" + file.uri;
}

}
