#pragma once

#include "calendar/vdir/IcsFile.h"

#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvio::vdir {

struct CachedItemFile {
    std::string name; // the file name, .ics included
    std::string stem; // without .ics, valid UTF-8
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    ParsedFile parsed;
};

// What was parsed from each item file of each collection, kept between
// requests. A file is parsed again only when its (mtime, size, inode)
// changes. inotify says which names changed since the last look, so an
// unchanged folder costs no system call per file; without inotify every
// file is looked at each time.
class ItemCache {
public:
    ItemCache();
    ~ItemCache();
    ItemCache(const ItemCache&) = delete;
    ItemCache& operator=(const ItemCache&) = delete;

    // The .ics files of `folder` (dot-files left out), sorted by name.
    const std::vector<CachedItemFile>& files(const std::string& folder);
    // Forgets the folders under `parent` that are not in `present`.
    void keepOnly(const std::string& parent, const std::set<std::string>& present);

    size_t parseCount() const { return parses; }

private:
    struct Folder {
        int watch = -1;
        bool rescan = true;
        std::set<std::string> dirty;
        std::vector<CachedItemFile> files;
    };

    void drainNotifications();
    void list(const std::string& path, Folder& folder);
    void refresh(const std::string& path, Folder& folder, const std::string& name);
    bool load(const std::string& path, const struct stat& status, CachedItemFile& file);
    void unwatch(Folder& folder);

    int notifications = -1;
    std::map<std::string, Folder> folders;
    std::unordered_map<int, std::string> watched;
    size_t parses = 0;
};

}
