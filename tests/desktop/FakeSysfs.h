#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace tarvio::testing {

// A sysfs tree in a temporary folder, removed afterwards. Class entries are
// symbolic links into devices/, as on a real machine.
class FakeSysfs {
public:
    FakeSysfs()
    {
        char pattern[] = "/tmp/tarvio-sysfs.XXXXXX";
        root = ::mkdtemp(pattern);
    }
    ~FakeSysfs() { std::filesystem::remove_all(root); }

    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // Writes `content` and a line feed, as the kernel does.
    void write(const std::string& path, const std::string& content)
    {
        std::filesystem::path file = root / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content << '\n';
    }

    // class/<kind>/<name> pointing at the device folder `device`.
    void link(const std::string& kind, const std::string& name, const std::string& device)
    {
        std::filesystem::create_directories(root / device);
        std::filesystem::create_directories(root / "class" / kind);
        std::filesystem::create_symlink(root / device, root / "class" / kind / name);
    }

    std::filesystem::path root;
};

}
