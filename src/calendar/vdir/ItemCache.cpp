#include "calendar/vdir/ItemCache.h"

#include "calendar/vdir/AtomicFile.h"
#include "channel/Utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cerrno>
#include <memory>

namespace tarvio::vdir {

namespace {

constexpr size_t largestItemFile = 16 * 1024 * 1024;
constexpr time_t leftoverAge = 3600;
constexpr uint32_t watchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY
    | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool isItemName(std::string_view name)
{
    return !name.empty() && name[0] != '.' && name.size() > 4 && name.substr(name.size() - 4) == ".ics";
}

// A temporary file of an atomic write: ".<name>.XXXXXX.tmp".
bool isLeftoverName(std::string_view name)
{
    constexpr std::string_view suffix = ".tmp";
    return name.size() >= 13 && name[0] == '.' && name.substr(name.size() - suffix.size()) == suffix
        && name[name.size() - suffix.size() - 7] == '.';
}

// Left by a write that a crash interrupted; one that old is no write in progress.
void removeIfOld(int folder, const char* name)
{
    struct stat status;
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
        return;
    if (::time(nullptr) - status.st_mtim.tv_sec > leftoverAge)
        ::unlinkat(folder, name, 0);
}

bool sameKey(const CachedItemFile& file, const struct stat& status)
{
    return file.inode == status.st_ino && file.size == status.st_size && file.modified.tv_sec == status.st_mtim.tv_sec
        && file.modified.tv_nsec == status.st_mtim.tv_nsec;
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

auto byName = [](const CachedItemFile& file, const std::string& name) { return file.name < name; };

}

ItemCache::ItemCache() = default;

ItemCache::~ItemCache()
{
    if (notifications >= 0)
        ::close(notifications);
}

bool ItemCache::load(const std::string& path, const struct stat& status, CachedItemFile& file)
{
    std::string text;
    file.parsed = readWholeFile(path, text, largestItemFile) ? parseIcs(text) : ParsedFile {};
    file.inode = status.st_ino;
    file.size = status.st_size;
    file.modified = status.st_mtim;
    ++parses;
    return true;
}

void ItemCache::list(const std::string& path, Folder& folder)
{
    std::vector<CachedItemFile> previous = std::move(folder.files);
    folder.files.clear();
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(path.c_str()));
    if (!directory)
        return;
    int descriptor = ::dirfd(directory.get());
    std::vector<std::pair<std::string, struct stat>> found;
    while (dirent* entry = ::readdir(directory.get())) {
        if (isLeftoverName(entry->d_name)) {
            removeIfOld(descriptor, entry->d_name);
            continue;
        }
        if (!isItemName(entry->d_name))
            continue;
        struct stat status;
        if (::fstatat(descriptor, entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode))
            continue;
        found.emplace_back(entry->d_name, status);
    }
    std::sort(found.begin(), found.end(), [](const auto& left, const auto& right) { return left.first < right.first; });
    folder.files.reserve(found.size());
    for (auto& [name, status] : found) {
        auto old = std::lower_bound(previous.begin(), previous.end(), name, byName);
        if (old != previous.end() && old->name == name && sameKey(*old, status)) {
            folder.files.push_back(std::move(*old));
            continue;
        }
        CachedItemFile file;
        file.name = name;
        file.stem = makeValidUtf8(std::string_view(name).substr(0, name.size() - 4));
        load(path + "/" + name, status, file);
        folder.files.push_back(std::move(file));
    }
}

void ItemCache::refresh(const std::string& path, Folder& folder, const std::string& name)
{
    if (!isItemName(name))
        return;
    auto at = std::lower_bound(folder.files.begin(), folder.files.end(), name, byName);
    bool known = at != folder.files.end() && at->name == name;
    struct stat status;
    std::string full = path + "/" + name;
    if (::stat(full.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        if (known)
            folder.files.erase(at);
        return;
    }
    if (known) {
        if (!sameKey(*at, status))
            load(full, status, *at);
        return;
    }
    CachedItemFile file;
    file.name = name;
    file.stem = makeValidUtf8(std::string_view(name).substr(0, name.size() - 4));
    load(full, status, file);
    folder.files.insert(at, std::move(file));
}

void ItemCache::unwatch(Folder& folder)
{
    if (folder.watch < 0)
        return;
    ::inotify_rm_watch(notifications, folder.watch);
    watched.erase(folder.watch);
    folder.watch = -1;
}

void ItemCache::drainNotifications()
{
    if (notifications < 0)
        return;
    alignas(inotify_event) char buffer[65536];
    for (;;) {
        ssize_t count = ::read(notifications, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        for (ssize_t offset = 0; offset < count;) {
            auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                for (auto& [path, folder] : folders)
                    folder.rescan = true;
                continue;
            }
            auto path = watched.find(event->wd);
            if (path == watched.end())
                continue;
            Folder& folder = folders[path->second];
            if (event->mask & IN_IGNORED) {
                watched.erase(path);
                folder.watch = -1;
                folder.rescan = true;
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // A moved folder keeps its watch elsewhere: drop it.
                unwatch(folder);
                folder.rescan = true;
                continue;
            }
            if (event->len)
                folder.dirty.insert(event->name);
        }
    }
}

const std::vector<CachedItemFile>& ItemCache::files(const std::string& path)
{
    if (notifications < 0)
        notifications = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    drainNotifications();
    Folder& folder = folders[path];
    if (folder.watch < 0 && notifications >= 0) {
        // Watched before it is listed, so no change falls in between.
        folder.watch = ::inotify_add_watch(notifications, path.c_str(), watchedChanges);
        if (folder.watch >= 0)
            watched[folder.watch] = path;
        folder.rescan = true;
    }
    if (folder.rescan || folder.watch < 0) {
        folder.dirty.clear();
        list(path, folder);
        folder.rescan = false;
        return folder.files;
    }
    std::set<std::string> dirty = std::move(folder.dirty);
    folder.dirty.clear();
    for (const auto& name : dirty)
        refresh(path, folder, name);
    return folder.files;
}

void ItemCache::keepOnly(const std::string& parent, const std::set<std::string>& present)
{
    std::string prefix = parent + "/";
    for (auto it = folders.begin(); it != folders.end();) {
        if (it->first.compare(0, prefix.size(), prefix) == 0 && !present.count(it->first)) {
            unwatch(it->second);
            it = folders.erase(it);
            continue;
        }
        ++it;
    }
}

}
