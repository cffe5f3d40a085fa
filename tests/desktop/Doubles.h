#pragma once

#include "desktop/Clipboard.h"
#include "desktop/Screens.h"
#include "desktop/ThermalSensors.h"

#include <vector>

namespace tarvio::testing {

struct FixedScreens final : Screens {
    std::vector<ScreenGeometry> screens;
    std::vector<ScreenGeometry> list() override { return screens; }
};

// Remembers every write and answers with `accepts`.
struct RecordingClipboard final : Clipboard {
    bool accepts = true;
    std::vector<ClipboardFile> writes;
    bool writeFile(const ClipboardFile& file) override
    {
        writes.push_back(file);
        return accepts;
    }
};

struct FixedThermalSensors final : ThermalSensors {
    std::vector<SensorReading> readings;
    std::optional<double> battery;
    int state = 0;
    std::vector<SensorReading> temperatures() override { return readings; }
    std::optional<double> batteryTemperature() override { return battery; }
    int thermalState() override { return state; }
};

}
