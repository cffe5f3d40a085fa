#include "desktop/Thermal.h"

#include "channel/Params.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

namespace tarvio {

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char character) { return char(std::tolower(character)); });
    return lower;
}

Json valueOrNull(const std::optional<double>& value)
{
    if (!value)
        return nullptr;
    return *value;
}

}

double keepOneDecimal(double value)
{
    return std::round(value * 10) / 10;
}

bool plausibleCelsius(double value)
{
    return std::isfinite(value) && value > 0 && value < 130;
}

std::optional<std::string_view> thermalGroup(std::string_view name)
{
    std::string lower = lowerCase(name);
    auto contains = [&](std::string_view part) { return lower.find(part) != std::string::npos; };
    if (contains("tdie") || contains("soc die"))
        return "cpu";
    if (contains("gpu mtr") || lower.starts_with("gpu "))
        return "gpu";
    if (contains("nand"))
        return "ssd";
    if (contains("gas gauge battery"))
        return "battery";
    return std::nullopt;
}

std::string_view thermalStateName(int state)
{
    switch (state) {
    case 1:
        return "fair";
    case 2:
        return "serious";
    case 3:
        return "critical";
    default:
        return "nominal";
    }
}

std::vector<SensorReading> plausibleReadings(const std::vector<SensorReading>& readings)
{
    std::vector<SensorReading> kept;
    for (const SensorReading& reading : readings) {
        if (plausibleCelsius(reading.celsius))
            kept.push_back({reading.name, keepOneDecimal(reading.celsius)});
    }
    return kept;
}

Json systemThermal(const Json& params, ThermalSensors& sensors)
{
    std::vector<SensorReading> readings = plausibleReadings(sensors.temperatures());
    std::map<std::string_view, double> hottest;
    for (const SensorReading& reading : readings) {
        std::optional<std::string_view> group = thermalGroup(reading.name);
        if (!group)
            continue;
        auto [entry, added] = hottest.try_emplace(*group, reading.celsius);
        if (!added)
            entry->second = std::max(entry->second, reading.celsius);
    }
    auto groupValue = [&](std::string_view group) -> std::optional<double> {
        auto found = hottest.find(group);
        if (found == hottest.end())
            return std::nullopt;
        return found->second;
    };

    std::optional<double> battery = sensors.batteryTemperature();
    if (battery && plausibleCelsius(*battery))
        battery = keepOneDecimal(*battery);
    else
        battery = groupValue("battery");

    Json result = Json::object();
    result["cpu"] = valueOrNull(groupValue("cpu"));
    result["gpu"] = valueOrNull(groupValue("gpu"));
    result["ssd"] = valueOrNull(groupValue("ssd"));
    result["battery"] = valueOrNull(battery);
    result["thermalState"] = thermalStateName(sensors.thermalState());
    result["sensorsAvailable"] = groupValue("cpu") || groupValue("gpu") || groupValue("ssd");
    if (!booleanParam(params, "debug").value_or(false))
        return result;
    Json list = Json::array();
    for (const SensorReading& reading : readings)
        list.push_back({{"name", reading.name}, {"celsius", reading.celsius}});
    result["sensors"] = std::move(list);
    return result;
}

}
