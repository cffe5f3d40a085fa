#include "desktop/sysfs/SysfsThermalSensors.h"

#include "desktop/FakeSysfs.h"
#include "desktop/Thermal.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::FakeSysfs;

namespace {

void addHwmon(FakeSysfs& sysfs, const std::string& hwmon, const std::string& device, const std::string& chip)
{
    std::string folder = device + "/hwmon/" + hwmon;
    sysfs.link("hwmon", hwmon, folder);
    sysfs.write(folder + "/name", chip);
}

void addChannel(FakeSysfs& sysfs, const std::string& device, const std::string& hwmon, int index,
    const std::string& value, const char* label = nullptr)
{
    std::string prefix = device + "/hwmon/" + hwmon + "/temp" + std::to_string(index);
    sysfs.write(prefix + "_input", value);
    if (label)
        sysfs.write(prefix + "_label", label);
}

void addZone(FakeSysfs& sysfs, int number, const std::string& type, const std::string& temperature,
    std::initializer_list<std::pair<const char*, const char*>> trips = {})
{
    std::string zone = "devices/virtual/thermal/thermal_zone" + std::to_string(number);
    sysfs.link("thermal", "thermal_zone" + std::to_string(number), zone);
    sysfs.write(zone + "/type", type);
    sysfs.write(zone + "/temp", temperature);
    int index = 0;
    for (const auto& [tripType, tripTemperature] : trips) {
        sysfs.write(zone + "/trip_point_" + std::to_string(index) + "_type", tripType);
        sysfs.write(zone + "/trip_point_" + std::to_string(index) + "_temp", tripTemperature);
        ++index;
    }
}

Json report(const FakeSysfs& sysfs)
{
    SysfsThermalSensors sensors(sysfs.root);
    return systemThermal({{"debug", true}}, sensors);
}

}

TEST(SysfsThermal, AmdDesktop)
{
    FakeSysfs sysfs;
    const std::string cpu = "devices/pci0000:00/0000:00:18.3";
    addHwmon(sysfs, "hwmon1", cpu, "k10temp");
    addChannel(sysfs, cpu, "hwmon1", 1, "48625", "Tctl");
    addChannel(sysfs, cpu, "hwmon1", 3, "45250", "Tccd1");
    addChannel(sysfs, cpu, "hwmon1", 4, "51040", "Tccd2");
    const std::string gpu = "devices/pci0000:00/0000:00:03.1/0000:0a:00.0";
    addHwmon(sysfs, "hwmon2", gpu, "amdgpu");
    addChannel(sysfs, gpu, "hwmon2", 1, "52000", "edge");
    addChannel(sysfs, gpu, "hwmon2", 2, "55500", "junction");
    addChannel(sysfs, gpu, "hwmon2", 3, "60000", "mem");
    const std::string board = "devices/platform/nct6775.656";
    addHwmon(sysfs, "hwmon3", board, "nct6798");
    addChannel(sysfs, board, "hwmon3", 1, "32000", "SYS\xffTIN");
    // A channel the chip cannot read right now, and one that makes no sense.
    addChannel(sysfs, board, "hwmon3", 2, "", "AUXTIN0");
    addChannel(sysfs, board, "hwmon3", 3, "-128000", "AUXTIN1");
    addChannel(sysfs, board, "hwmon3", 4, "12ab", "AUXTIN2");
    // NVMe hwmon chips hang below their controller, nvme0.
    const std::string drive = "devices/pci0000:00/0000:00:01.1/0000:01:00.0/nvme/nvme0";
    addHwmon(sysfs, "hwmon10", drive, "nvme");
    std::filesystem::create_symlink("../..", sysfs.root / drive / "hwmon/hwmon10/device");
    addChannel(sysfs, drive, "hwmon10", 1, "38850", "Composite");
    addChannel(sysfs, drive, "hwmon10", 2, "41875", "Sensor 1");

    EXPECT_EQ(report(sysfs), Json::parse(R"j({"cpu":51.0,"gpu":60.0,"ssd":41.9,"battery":null,
        "thermalState":"nominal","sensorsAvailable":true,"sensors":[
        {"name":"CPU Tdie (k10temp Tctl)","celsius":48.6},
        {"name":"CPU Tdie (k10temp Tccd1)","celsius":45.3},
        {"name":"CPU Tdie (k10temp Tccd2)","celsius":51.0},
        {"name":"GPU amdgpu edge","celsius":52.0},
        {"name":"GPU amdgpu junction","celsius":55.5},
        {"name":"GPU amdgpu mem","celsius":60.0},
        {"name":"nct6798 SYS\uFFFDTIN","celsius":32.0},
        {"name":"NAND nvme0 Composite","celsius":38.9},
        {"name":"NAND nvme0 Sensor 1","celsius":41.9}]})j"));
}

TEST(SysfsThermal, IntelLaptop)
{
    FakeSysfs sysfs;
    // acpitz shows both as a zone and as a hwmon chip: listed once.
    addHwmon(sysfs, "hwmon0", "devices/virtual/thermal/thermal_zone0", "acpitz");
    addChannel(sysfs, "devices/virtual/thermal/thermal_zone0", "hwmon0", 1, "47000");
    addZone(sysfs, 0, "acpitz", "47000", {{"critical", "103000"}, {"active", "45000"}});
    // x86_pkg_temp has no hwmon twin.
    addZone(sysfs, 1, "x86_pkg_temp", "63000", {{"passive", "0"}});
    const std::string cpu = "devices/platform/coretemp.0";
    addHwmon(sysfs, "hwmon3", cpu, "coretemp");
    addChannel(sysfs, cpu, "hwmon3", 1, "62000", "Package id 0");
    addChannel(sysfs, cpu, "hwmon3", 2, "58000", "Core 0");
    addChannel(sysfs, cpu, "hwmon3", 3, "61000", "Core 1");
    const std::string battery = "devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0";
    addHwmon(sysfs, "hwmon4", battery, "BAT0");
    addChannel(sysfs, battery, "hwmon4", 1, "30200", "temp");
    sysfs.link("power_supply", "BAT0", battery);
    sysfs.write(battery + "/type", "Battery");
    sysfs.write(battery + "/temp", "301");
    sysfs.link("power_supply", "AC", "devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC");
    sysfs.write("devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC/type", "Mains");

    EXPECT_EQ(report(sysfs), Json::parse(R"j({"cpu":63.0,"gpu":null,"ssd":null,"battery":30.1,
        "thermalState":"fair","sensorsAvailable":true,"sensors":[
        {"name":"acpitz temp1","celsius":47.0},
        {"name":"CPU Tdie (coretemp Package id 0)","celsius":62.0},
        {"name":"CPU Tdie (coretemp Core 0)","celsius":58.0},
        {"name":"CPU Tdie (coretemp Core 1)","celsius":61.0},
        {"name":"Gas Gauge Battery BAT0","celsius":30.2},
        {"name":"CPU Tdie (x86_pkg_temp)","celsius":63.0}]})j"));

    // Without its own temperature the battery falls back to its hwmon reading.
    std::filesystem::remove(sysfs.root / battery / "temp");
    EXPECT_EQ(report(sysfs)["battery"], 30.2);
}

TEST(SysfsThermal, EmptyMachine)
{
    FakeSysfs sysfs;
    const Json nothing = Json::parse(R"j({"cpu":null,"gpu":null,"ssd":null,"battery":null,
        "thermalState":"nominal","sensorsAvailable":false,"sensors":[]})j");
    EXPECT_EQ(report(sysfs), nothing);
    sysfs.write("class/hwmon/.keep", "");
    sysfs.write("class/thermal/cooling_device0/type", "Processor");
    sysfs.write("class/power_supply/AC/type", "Mains");
    EXPECT_EQ(report(sysfs), nothing);

    SysfsThermalSensors missing("/nonexistent/sys");
    EXPECT_EQ(systemThermal(Json::object(), missing)["sensorsAvailable"], false);
}

TEST(SysfsThermal, ThermalStateIsTheWorstTripReached)
{
    struct TripCase {
        const char* temperature;
        std::initializer_list<std::pair<const char*, const char*>> trips;
        int state;
    };
    const TripCase cases[] = {
        {"50000", {}, 0},
        {"50000", {{"active", "45000"}}, 1},
        {"50000", {{"active", "55000"}}, 0},
        {"50000", {{"hot", "50000"}}, 2},
        {"96000", {{"critical", "103000"}, {"passive", "95000"}, {"active", "60000"}}, 2},
        {"103000", {{"critical", "103000"}, {"passive", "95000"}}, 3},
        {"50000", {{"critical", "0"}, {"hot", "-1"}}, 0},
        {"50000", {{"bogus", "40000"}}, 0},
        {"unreadable", {{"critical", "40000"}}, 0},
    };
    for (const TripCase& test : cases) {
        FakeSysfs sysfs;
        addZone(sysfs, 0, "acpitz", test.temperature, test.trips);
        // A second, cool zone never lowers the state.
        addZone(sysfs, 2, "pch_cannonlake", "30000", {{"critical", "90000"}});
        EXPECT_EQ(SysfsThermalSensors(sysfs.root).thermalState(), test.state) << test.temperature;
    }
}
