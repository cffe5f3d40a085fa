#include "desktop/Thermal.h"

#include "desktop/Doubles.h"
#include "desktop/sysfs/SensorNames.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tarvio;
using tarvio::testing::FixedThermalSensors;

TEST(Thermal, KeepsOneDecimalWithHalvesAwayFromZero)
{
    const std::pair<double, double> cases[] = {
        {45.25, 45.3}, {45.24, 45.2}, {51.04, 51.0}, {45.0, 45.0}, {0.05, 0.1}, {129.96, 130.0}, {-2.25, -2.3}};
    for (const auto& [value, kept] : cases)
        EXPECT_DOUBLE_EQ(keepOneDecimal(value), kept) << value;
}

TEST(Thermal, GroupsNamesByTheFixedRules)
{
    const std::pair<const char*, const char*> cases[] = {
        {"PMU tdie1", "cpu"},
        {"CPU Tdie (k10temp Tctl)", "cpu"},
        {"PMU TP0s SOC DIE", "cpu"},
        {"GPU MTR Temp Sensor1", "gpu"},
        {"gpu 2", "gpu"},
        {"GPU amdgpu edge", "gpu"},
        {"xgpu 2", nullptr},
        {"gpu2", nullptr},
        {"NAND CH0 temp", "ssd"},
        {"gas gauge battery", "battery"},
        {"Gas Gauge Battery BAT0", "battery"},
        {"tdie and nand", "cpu"},
        {"acpitz temp1", nullptr},
        {"", nullptr},
    };
    for (const auto& [name, group] : cases) {
        std::optional<std::string_view> found = thermalGroup(name);
        if (!group)
            EXPECT_FALSE(found) << name;
        else
            EXPECT_EQ(found.value_or("none"), group) << name;
    }
}

TEST(Thermal, ReportsTheHottestReadingOfEachGroup)
{
    FixedThermalSensors sensors;
    sensors.readings = {{"A tdie", 45.25}, {"B tdie", 51.04}, {"gpu 1", 60.0}, {"NAND CH0", 40.55},
        {"gas gauge battery", 29.44}, {"fan board", 35.0}};
    EXPECT_EQ(systemThermal(Json::object(), sensors), Json::parse(R"({"cpu":51.0,"gpu":60.0,"ssd":40.6,
        "battery":29.4,"thermalState":"nominal","sensorsAvailable":true})"));

    // The battery's own temperature wins over the group.
    sensors.battery = 30.12;
    EXPECT_EQ(systemThermal(Json::object(), sensors)["battery"], 30.1);
    // An implausible battery value falls back to the group.
    sensors.battery = 130;
    EXPECT_EQ(systemThermal(Json::object(), sensors)["battery"], 29.4);
}

TEST(Thermal, DropsImplausibleReadingsEverywhere)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    FixedThermalSensors sensors;
    sensors.readings = {{"a tdie", 130.0}, {"b tdie", 0.0}, {"c tdie", -5.0}, {"d tdie", nan},
        {"e tdie", infinity}, {"f tdie", 129.99}, {"g tdie", 0.01}};
    Json result = systemThermal({{"debug", true}}, sensors);
    EXPECT_EQ(result["cpu"], 130.0);
    EXPECT_EQ(result["sensors"], Json::parse(R"([{"name":"f tdie","celsius":130.0},{"name":"g tdie","celsius":0.0}])"));
}

TEST(Thermal, NothingToReadGivesNullsAndAState)
{
    FixedThermalSensors sensors;
    EXPECT_EQ(systemThermal(Json::object(), sensors), Json::parse(R"({"cpu":null,"gpu":null,"ssd":null,
        "battery":null,"thermalState":"nominal","sensorsAvailable":false})"));

    // A battery reading alone does not count as sensors.
    sensors.readings = {{"gas gauge battery", 31.0}};
    Json result = systemThermal(Json::object(), sensors);
    EXPECT_EQ(result["battery"], 31.0);
    EXPECT_EQ(result["sensorsAvailable"], false);
}

TEST(Thermal, MapsTheThermalState)
{
    const std::pair<int, const char*> cases[] = {
        {0, "nominal"}, {1, "fair"}, {2, "serious"}, {3, "critical"}, {4, "nominal"}, {-1, "nominal"}};
    FixedThermalSensors sensors;
    for (const auto& [state, name] : cases) {
        sensors.state = state;
        EXPECT_EQ(systemThermal(Json::object(), sensors)["thermalState"], name) << state;
    }
}

TEST(Thermal, DebugListsEveryReadingInOrder)
{
    FixedThermalSensors sensors;
    const std::pair<const char*, bool> debugValues[] = {
        {R"({"debug":true})", true}, {R"({"debug":1})", true}, {R"({"debug":"true"})", false},
        {R"({"debug":false})", false}, {R"({"debug":2})", false}, {R"({})", false}, {R"([])", false}};
    for (const auto& [params, listed] : debugValues) {
        Json result = systemThermal(Json::parse(params), sensors);
        EXPECT_EQ(result.contains("sensors"), listed) << params;
        EXPECT_EQ(result.size(), listed ? 7u : 6u) << params;
    }
    EXPECT_EQ(systemThermal({{"debug", true}}, sensors)["sensors"], Json::array());

    sensors.readings = {{"A tdie", 45.25}, {"fan board", 35.0}, {"B tdie", 51.04}};
    EXPECT_EQ(systemThermal({{"debug", true}}, sensors)["sensors"], Json::parse(R"([
        {"name":"A tdie","celsius":45.3},{"name":"fan board","celsius":35.0},{"name":"B tdie","celsius":51.0}])"));
}

TEST(SensorNames, CommonDriversLandInTheirGroups)
{
    struct NameCase {
        HwmonChannel channel;
        const char* name;
        const char* group;
    };
    const NameCase cases[] = {
        {{"k10temp", "", "Tdie", true, false, true}, "CPU Tdie (k10temp Tdie)", "cpu"},
        {{"k10temp", "", "Tctl", true, false, true}, "k10temp Tctl", nullptr},
        {{"k10temp", "", "Tctl", true, false, false}, "CPU Tdie (k10temp Tctl)", "cpu"},
        {{"k10temp", "", "Tccd1", true, false, false}, "CPU Tdie (k10temp Tccd1)", "cpu"},
        {{"coretemp", "", "Package id 0", true, false, false}, "CPU Tdie (coretemp Package id 0)", "cpu"},
        {{"coretemp", "", "Core 3", true, false, false}, "CPU Tdie (coretemp Core 3)", "cpu"},
        {{"cpu_thermal", "", "temp1", false, false, false}, "CPU Tdie (cpu_thermal temp1)", "cpu"},
        {{"amdgpu", "", "junction", true, false, false}, "GPU amdgpu junction", "gpu"},
        {{"nouveau", "", "temp1", false, false, false}, "GPU nouveau temp1", "gpu"},
        {{"nvme", "nvme0", "Composite", true, false, false}, "NAND nvme0 Composite", "ssd"},
        {{"nvme", "nvme1", "Sensor 2", true, false, false}, "NAND nvme1 Sensor 2", "ssd"},
        {{"nvme", "", "Composite", true, false, false}, "NAND nvme Composite", "ssd"},
        {{"drivetemp", "sda", "temp1", false, false, false}, "NAND sda temp1", "ssd"},
        {{"BAT0", "", "temp", true, true, false}, "Gas Gauge Battery BAT0", "battery"},
        {{"BAT0", "", "temp1", false, true, false}, "Gas Gauge Battery BAT0", "battery"},
        {{"BAT0", "", "ambient temp", true, true, false}, "BAT0 ambient temp", nullptr},
        {{"acpitz", "", "temp1", false, false, false}, "acpitz temp1", nullptr},
        {{"nct6798", "", "CPUTIN", true, false, false}, "nct6798 CPUTIN", nullptr},
        // Unknown chips never land in a group, whatever their labels say.
        {{"gpu", "", "temp1", false, false, false}, "gpu\xC2\xB7 temp1", nullptr},
        {{"it87", "", "NAND", true, false, false}, "it87 NAN\xC2\xB7" "D", nullptr},
        {{"it87", "", "Tdie", true, false, false}, "it87 Tdi\xC2\xB7" "e", nullptr},
    };
    for (const NameCase& test : cases) {
        std::string name = hwmonReadingName(test.channel);
        EXPECT_EQ(name, test.name);
        std::optional<std::string_view> group = thermalGroup(name);
        EXPECT_EQ(group.value_or("none"), test.group ? test.group : "none") << name;
    }

    const std::pair<const char*, const char*> zones[] = {{"x86_pkg_temp", "CPU Tdie (x86_pkg_temp)"},
        {"cpu-thermal", "CPU Tdie (cpu-thermal)"}, {"gpu-thermal", "GPU gpu-thermal"}, {"iwlwifi_1", "iwlwifi_1"},
        {"acpitz", "acpitz"}};
    for (const auto& [type, name] : zones)
        EXPECT_EQ(thermalZoneReadingName(type), name);
}
