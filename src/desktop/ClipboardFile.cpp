#include "desktop/ClipboardFile.h"

#include "channel/Utf8.h"

#include <filesystem>
#include <sys/stat.h>

namespace tarvio {

namespace {

bool unreserved(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
}

// `path` made absolute against the working directory, without following
// symbolic links: a link is copied as the link, the way a file manager copies
// it. Only "." segments and repeated slashes go; ".." stays, since taking it
// away lexically can name another file when a link precedes it.
std::string absolutePath(const std::string& path)
{
    std::string joined = path;
    if (path.empty() || path.front() != '/') {
        std::error_code error;
        std::string current = std::filesystem::current_path(error).string();
        if (error)
            return path;
        joined = current + "/" + path;
    }
    std::string cleaned;
    cleaned.reserve(joined.size());
    for (size_t start = 0; start < joined.size();) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        std::string_view segment(joined.data() + start, end - start);
        if (!segment.empty() && segment != ".") {
            cleaned += '/';
            cleaned += segment;
        }
        start = end + 1;
    }
    if (cleaned.empty())
        return "/";
    // A trailing slash (or "/.") marks a folder as given.
    if (joined.back() == '/' || joined.ends_with("/."))
        cleaned += '/';
    return cleaned;
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
    std::string absolute = absolutePath(path);
    return {makeValidUtf8(absolute), "file://" + percentEncodePath(absolute)};
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
