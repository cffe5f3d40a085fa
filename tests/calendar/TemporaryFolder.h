#pragma once

#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace tarvio::testing {

// A private folder under /tmp, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = "/tmp/tarvio-calendar.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        path = pattern;
    }
    ~TemporaryFolder()
    {
        ::nftw(path.c_str(), [](const char* entry, const struct stat*, int, FTW*) { return ::remove(entry); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string path;
};

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

inline bool exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

}
