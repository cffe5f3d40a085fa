#include "desktop/sysfs/SysfsFiles.h"

#include "channel/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tarvio::sysfs {

std::optional<std::string> readText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    // Attributes are one page at most; a bigger file is no attribute.
    std::string text(4096, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad())
        return std::nullopt;
    text.resize(size_t(file.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' || text.back() == '\0'))
        text.pop_back();
    return makeValidUtf8(text);
}

std::optional<long long> readInteger(const std::filesystem::path& path)
{
    std::optional<std::string> text = readText(path);
    if (!text || text->empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text->c_str(), &end, 10);
    if (errno != 0 || end == text->c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

std::vector<std::pair<long, std::filesystem::path>> numberedEntries(
    const std::filesystem::path& folder, const std::string& prefix, const std::string& suffix)
{
    std::vector<std::pair<long, std::filesystem::path>> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
            continue;
        std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) || digits.size() > 9)
            continue;
        entries.emplace_back(std::stol(digits), entry->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}
