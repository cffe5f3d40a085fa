#pragma once

#include "channel/Json.h"
#include "desktop/ThermalSensors.h"

#include <optional>
#include <string_view>

namespace tarvio {

// `value` to one decimal, halves away from zero (45.25 gives 45.3).
double keepOneDecimal(double value);

// A plausible temperature: finite, above 0 and below 130 degrees.
bool plausibleCelsius(double value);

// "cpu", "gpu", "ssd", "battery", or none, from fixed rules on the name.
std::optional<std::string_view> thermalGroup(std::string_view name);

// "nominal", "fair", "serious" or "critical"; unknown values are nominal.
std::string_view thermalStateName(int state);

// The plausible readings, each kept to one decimal, in order.
std::vector<SensorReading> plausibleReadings(const std::vector<SensorReading>& readings);

// "system.thermal": the hottest reading of each group, the battery, the
// thermal state, and with "debug" every reading.
Json systemThermal(const Json& params, ThermalSensors& sensors);

}
