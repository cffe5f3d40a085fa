#include "desktop/sysfs/SysfsThermalSensors.h"

#include "desktop/sysfs/SensorNames.h"
#include "desktop/sysfs/SysfsFiles.h"

#include <algorithm>
#include <set>

namespace tarvio {

namespace fs = std::filesystem;
using sysfs::numberedEntries;
using sysfs::readInteger;
using sysfs::readText;

namespace {

// The first entry of a folder, by name.
std::string firstEntryName(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    if (names.empty())
        return "";
    return *std::min_element(names.begin(), names.end());
}

std::string driveName(const fs::path& hwmon, const std::string& chip)
{
    if (chip == "drivetemp")
        return firstEntryName(hwmon / "device" / "block");
    if (chip != "nvme")
        return "";
    std::error_code error;
    std::string controller = fs::canonical(hwmon / "device", error).filename().string();
    if (!error && controller.starts_with("nvme"))
        return controller;
    return firstEntryName(hwmon / "device" / "nvme");
}

std::vector<std::string> batteryNames(const fs::path& root)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(root / "class" / "power_supply", error), end; !error && entry != end;
         entry.increment(error)) {
        if (readText(entry->path() / "type") == "Battery")
            names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The level a zone's trip point stands for once reached.
int tripLevel(const std::string& type)
{
    if (type == "critical")
        return 3;
    if (type == "hot" || type == "passive")
        return 2;
    if (type == "active")
        return 1;
    return 0;
}

}

SysfsThermalSensors::SysfsThermalSensors(fs::path root) : root(std::move(root)) {}

std::vector<SensorReading> SysfsThermalSensors::temperatures()
{
    std::vector<SensorReading> readings;
    std::vector<std::string> batteries = batteryNames(root);
    std::set<std::string> chips;

    for (const auto& [number, hwmon] : numberedEntries(root / "class" / "hwmon", "hwmon")) {
        // Older drivers keep their attributes on the parent device.
        fs::path folder = hwmon;
        std::optional<std::string> chip = readText(folder / "name");
        if (!chip) {
            folder = hwmon / "device";
            chip = readText(folder / "name");
        }
        if (!chip)
            continue;
        chips.insert(*chip);

        HwmonChannel channel;
        channel.chip = *chip;
        channel.device = driveName(hwmon, *chip);
        channel.battery = std::find(batteries.begin(), batteries.end(), *chip) != batteries.end();
        std::vector<std::pair<long, fs::path>> inputs = numberedEntries(folder, "temp", "_input");
        std::vector<std::optional<std::string>> labels;
        for (const auto& [index, input] : inputs)
            labels.push_back(readText(folder / ("temp" + std::to_string(index) + "_label")));
        channel.chipHasTdie = std::find(labels.begin(), labels.end(), "Tdie") != labels.end();

        for (size_t position = 0; position < inputs.size(); ++position) {
            std::optional<long long> millidegrees = readInteger(inputs[position].second);
            if (!millidegrees)
                continue;
            channel.labelled = labels[position].has_value();
            channel.label = labels[position].value_or("temp" + std::to_string(inputs[position].first));
            readings.push_back({hwmonReadingName(channel), double(*millidegrees) / 1000});
        }
    }

    for (const auto& [number, zone] : numberedEntries(root / "class" / "thermal", "thermal_zone")) {
        std::optional<std::string> type = readText(zone / "type");
        std::optional<long long> millidegrees = readInteger(zone / "temp");
        if (!type || !millidegrees)
            continue;
        // Most zones also appear as a hwmon chip named after their type.
        std::string asChip = *type;
        std::replace(asChip.begin(), asChip.end(), '-', '_');
        if (chips.contains(asChip))
            continue;
        readings.push_back({thermalZoneReadingName(*type), double(*millidegrees) / 1000});
    }
    return readings;
}

std::optional<double> SysfsThermalSensors::batteryTemperature()
{
    // power_supply reports tenths of a degree.
    for (const std::string& battery : batteryNames(root)) {
        if (std::optional<long long> tenths = readInteger(root / "class" / "power_supply" / battery / "temp"))
            return double(*tenths) / 10;
    }
    return std::nullopt;
}

int SysfsThermalSensors::thermalState()
{
    int state = 0;
    for (const auto& [number, zone] : numberedEntries(root / "class" / "thermal", "thermal_zone")) {
        std::optional<long long> temperature = readInteger(zone / "temp");
        if (!temperature)
            continue;
        for (const auto& [index, typeFile] : numberedEntries(zone, "trip_point_", "_type")) {
            std::optional<long long> trip = readInteger(zone / ("trip_point_" + std::to_string(index) + "_temp"));
            std::optional<std::string> type = readText(typeFile);
            // Unused trip points read 0 or below.
            if (trip && type && *trip > 0 && *temperature >= *trip)
                state = std::max(state, tripLevel(*type));
        }
    }
    return state;
}

}
