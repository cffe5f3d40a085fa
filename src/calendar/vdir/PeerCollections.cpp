#include "calendar/vdir/PeerCollections.h"

#include "calendar/vdir/AtomicFile.h"

#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace tarvio::vdir {

namespace {

constexpr size_t largestConfigFile = 1024 * 1024;

std::string trim(const std::string& text)
{
    auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A value as configobj and Python write it: quoted, or bare up to a comment.
std::string unquote(std::string value)
{
    value = trim(value);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'')) {
        auto close = value.find(value[0], 1);
        if (close != std::string::npos)
            return value.substr(1, close - 1);
    }
    if (auto comment = value.find(" #"); comment != std::string::npos)
        value = trim(value.substr(0, comment));
    return value;
}

std::string expandHome(const std::string& path, const std::string& home)
{
    if (path == "~")
        return home;
    if (path.rfind("~/", 0) == 0)
        return home + path.substr(1);
    return path;
}

bool isDirectory(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The folders a glob names, sorted; nothing of the pattern runs as a command.
std::vector<std::string> matchingFolders(const std::string& pattern)
{
    std::vector<std::string> folders;
    glob_t matches {};
    if (::glob(pattern.c_str(), GLOB_NOSORT | GLOB_ONLYDIR, nullptr, &matches) == 0) {
        for (size_t index = 0; index < matches.gl_pathc; index++) {
            std::string path = matches.gl_pathv[index];
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            if (isDirectory(path))
                folders.push_back(path);
        }
    }
    ::globfree(&matches);
    std::sort(folders.begin(), folders.end());
    return folders;
}

bool isTrue(const std::string& value)
{
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower == "true" || lower == "yes" || lower == "on" || lower == "1";
}

}

std::vector<VdirCalendarStore::ExternalCollection> khalCollections(const std::string& text, const std::string& home)
{
    struct Entry {
        std::string name, path, type = "calendar";
        bool readOnly = false;
    };
    std::vector<Entry> entries;
    bool inCalendars = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("[[", 0) == 0) {
            auto close = line.find("]]");
            if (inCalendars && close != std::string::npos)
                entries.push_back({trim(line.substr(2, close - 2)), "", "calendar", false});
            continue;
        }
        if (line[0] == '[') {
            inCalendars = line.rfind("[calendars]", 0) == 0;
            continue;
        }
        auto equals = line.find('=');
        if (!inCalendars || entries.empty() || equals == std::string::npos)
            continue;
        std::string key = trim(line.substr(0, equals));
        std::string value = unquote(line.substr(equals + 1));
        if (key == "path")
            entries.back().path = value;
        else if (key == "type")
            entries.back().type = value;
        else if (key == "readonly")
            entries.back().readOnly = isTrue(value);
    }

    std::vector<VdirCalendarStore::ExternalCollection> collections;
    for (const auto& entry : entries) {
        if (entry.path.empty())
            continue;
        std::string path = expandHome(entry.path, home);
        if (entry.type == "discover") {
            for (const auto& folder : matchingFolders(path))
                collections.push_back({EntityKind::events, folder, std::nullopt, entry.readOnly});
        } else if (entry.type == "calendar") {
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            collections.push_back({EntityKind::events, path, entry.name, entry.readOnly});
        }
    }
    return collections;
}

std::vector<VdirCalendarStore::ExternalCollection> todomanCollections(const std::string& text, const std::string& home)
{
    std::vector<VdirCalendarStore::ExternalCollection> collections;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        auto equals = line.find('=');
        if (equals == std::string::npos || trim(line.substr(0, equals)) != "path")
            continue;
        for (const auto& folder : matchingFolders(expandHome(unquote(line.substr(equals + 1)), home)))
            collections.push_back({EntityKind::reminders, folder, std::nullopt, false});
    }
    return collections;
}

std::vector<VdirCalendarStore::ExternalCollection> peerCollections(const std::string& configHome, const std::string& home)
{
    std::vector<VdirCalendarStore::ExternalCollection> collections;
    std::string text;
    for (const char* name : {"/khal/config", "/khal/khal.conf"}) {
        if (readWholeFile(configHome + name, text, largestConfigFile)) {
            collections = khalCollections(text, home);
            break;
        }
    }
    for (const char* name : {"/todoman/config.py", "/todoman/todoman.conf"}) {
        if (readWholeFile(configHome + name, text, largestConfigFile)) {
            auto lists = todomanCollections(text, home);
            collections.insert(collections.end(), lists.begin(), lists.end());
            break;
        }
    }
    return collections;
}

}
