#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvio::sysfs {

// A sysfs attribute's text without its trailing white space, made valid UTF-8.
std::optional<std::string> readText(const std::filesystem::path& path);
// An attribute holding one decimal integer.
std::optional<long long> readInteger(const std::filesystem::path& path);

// The entries of `folder` named `prefix` followed by a number, in the order
// of that number (hwmon2 before hwmon10), as (number, path).
std::vector<std::pair<long, std::filesystem::path>> numberedEntries(
    const std::filesystem::path& folder, const std::string& prefix, const std::string& suffix = "");

}
