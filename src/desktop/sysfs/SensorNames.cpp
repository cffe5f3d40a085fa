#include "desktop/sysfs/SensorNames.h"

#include "desktop/Thermal.h"

#include <algorithm>
#include <string_view>

namespace tarvio {

namespace {

bool oneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// SoC thermal zones shown as hwmon chips: cpu_thermal, cpu0_thermal, gpu_thermal.
bool socZone(std::string_view chip, std::string_view kind)
{
    return chip.starts_with(kind) && chip.ends_with("_thermal");
}

std::string cpuName(std::string_view source)
{
    return "CPU Tdie (" + std::string(source) + ")";
}

// A name that lands in no group, whatever the chip and label say.
std::string ungrouped(std::string name)
{
    if (!thermalGroup(name))
        return name;
    // A chip called "gpu", or words such as "nand" inside a free label: break
    // the word with a middle dot, which the rules do not look at.
    std::string guarded;
    for (char character : name) {
        guarded += character;
        if (thermalGroup(guarded))
            guarded.insert(guarded.size() - 1, "\xC2\xB7");
    }
    return guarded;
}

}

std::string hwmonReadingName(const HwmonChannel& channel)
{
    const std::string chipLabel = channel.chip + " " + channel.label;
    if (oneOf(channel.chip, {"k10temp", "zenpower"})) {
        // Tctl may carry a fan-control offset; Tdie is the die itself.
        if (channel.label == "Tctl" && channel.chipHasTdie)
            return ungrouped(chipLabel);
        return cpuName(chipLabel);
    }
    if (oneOf(channel.chip, {"coretemp", "k8temp", "via_cputemp"}) || socZone(channel.chip, "cpu"))
        return cpuName(chipLabel);
    if (oneOf(channel.chip, {"amdgpu", "radeon", "nouveau"}) || socZone(channel.chip, "gpu"))
        return "GPU " + chipLabel;
    if (channel.chip == "nvme" || channel.chip == "drivetemp") {
        std::string drive = channel.device.empty() ? channel.chip : channel.device;
        return "NAND " + drive + " " + channel.label;
    }
    if (channel.battery) {
        // power_supply labels its own temperature "temp"; "ambient temp" is
        // the air around the battery.
        if (!channel.labelled || channel.label == "temp")
            return "Gas Gauge Battery " + channel.chip;
        return ungrouped(chipLabel);
    }
    return ungrouped(chipLabel);
}

std::string thermalZoneReadingName(const std::string& type)
{
    if (type == "x86_pkg_temp" || socZone(type, "cpu") || type.starts_with("cpu-"))
        return cpuName(type);
    if (socZone(type, "gpu") || type.starts_with("gpu-"))
        return "GPU " + type;
    return ungrouped(type);
}

}
