#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvio {

// One temperature sensor's reading, in degrees Celsius.
struct SensorReading {
    std::string name;
    double celsius = 0;
};

// The machine's temperature sensors. The sysfs implementation reads the
// kernel's hwmon, thermal-zone and power-supply classes; tests use doubles.
// Values come as read: range checks and rounding are the report's business.
class ThermalSensors {
public:
    virtual ~ThermalSensors() = default;

    // Every sensor's current reading, in the order they were taken. Names are
    // chosen so that the report's classification puts each in its group.
    virtual std::vector<SensorReading> temperatures() = 0;
    // The battery's own temperature, when it reports one.
    virtual std::optional<double> batteryTemperature() = 0;
    // 0 nominal, 1 fair, 2 serious, 3 critical.
    virtual int thermalState() = 0;
};

}
