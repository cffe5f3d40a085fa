#pragma once

#include <string>

namespace tarvio {

// One hwmon temperature channel as sysfs describes it.
struct HwmonChannel {
    // The chip's driver name ("k10temp", "nvme").
    std::string chip;
    // The device behind the chip where it tells more than the driver: the
    // controller of an NVMe drive ("nvme0"), the disk of drivetemp ("sda").
    std::string device;
    // tempN_label, or "tempN" without one.
    std::string label;
    bool labelled = false;
    // Whether the chip is a battery among the power supplies.
    bool battery = false;
    // Whether the chip also offers a Tdie channel.
    bool chipHasTdie = false;
};

// The reading's name, chosen so the thermal report's fixed rules put CPU,
// GPU, storage and battery channels of the common drivers in their groups and
// leave every other channel out of them.
std::string hwmonReadingName(const HwmonChannel& channel);

// The same for a thermal zone of the given type that no hwmon chip shows.
std::string thermalZoneReadingName(const std::string& type);

}
