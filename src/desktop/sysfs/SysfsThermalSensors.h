#pragma once

#include "desktop/ThermalSensors.h"

#include <filesystem>

namespace tarvio {

// Temperatures from the kernel's sysfs below `root` ("/sys" on a real
// machine, a fake tree in tests): hwmon chips, thermal zones that no hwmon
// chip shows, and batteries among the power supplies. Every call reads afresh.
class SysfsThermalSensors final : public ThermalSensors {
public:
    explicit SysfsThermalSensors(std::filesystem::path root);

    std::vector<SensorReading> temperatures() override;
    std::optional<double> batteryTemperature() override;
    // The worst trip point any thermal zone has reached.
    int thermalState() override;

private:
    std::filesystem::path root;
};

}
