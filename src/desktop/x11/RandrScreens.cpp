#include "desktop/x11/RandrScreens.h"

#include "desktop/x11/XcbConnection.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <set>
#include <thread>
#include <xcb/randr.h>

namespace tarvio {

namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

bool hasMonitorList(xcb_connection_t* connection)
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!extension || !extension->present)
        return false;
    ReplyPointer<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr), &std::free);
    if (!version)
        return false;
    return version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 5);
}

ScreenGeometry wholeScreen(const xcb_screen_t& screen)
{
    ScreenGeometry geometry;
    geometry.frame = {0, 0, double(screen.width_in_pixels), double(screen.height_in_pixels)};
    return geometry;
}

// Server-made ids and atoms stay below 2^29, so a name atom with this bit
// set cannot be taken for any output.
constexpr uint32_t nameNumberBit = 0x40000000;

struct Monitor {
    ScreenGeometry geometry;
    std::optional<uint32_t> output;
    uint32_t name;
};

// A monitor's number is its first output, or else its name atom, unless that
// number is already taken (a name atom can equal another monitor's output);
// then the name atom with nameNumberBit set, which only that monitor has.
void numberMonitors(std::vector<Monitor>& monitors, std::vector<ScreenGeometry>& screens)
{
    std::set<uint32_t> outputs;
    for (const Monitor& monitor : monitors) {
        if (monitor.output)
            outputs.insert(*monitor.output);
    }
    std::set<uint32_t> taken;
    for (Monitor& monitor : monitors) {
        uint32_t number = monitor.output.value_or(monitor.name);
        bool clash = taken.count(number) || (!monitor.output && outputs.count(number));
        if (clash)
            number = monitor.name | nameNumberBit;
        while (taken.count(number))
            ++number;
        taken.insert(number);
        monitor.geometry.displayNumber = number;
        screens.push_back(monitor.geometry);
    }
}

void appendMonitors(xcb_connection_t* connection, const xcb_screen_t& screen, std::vector<Monitor>& found)
{
    ReplyPointer<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, screen.root, 1), nullptr),
        &std::free);
    if (!reply)
        return;
    for (auto monitors = xcb_randr_get_monitors_monitors_iterator(reply.get()); monitors.rem;
         xcb_randr_monitor_info_next(&monitors)) {
        const xcb_randr_monitor_info_t& info = *monitors.data;
        Monitor monitor;
        // A monitor made with xrandr --setmonitor may have no output; its
        // name atom still tells it apart.
        monitor.name = info.name;
        if (xcb_randr_monitor_info_outputs_length(monitors.data) > 0)
            monitor.output = xcb_randr_monitor_info_outputs(monitors.data)[0];
        monitor.geometry.frame = {double(info.x), double(info.y), double(info.width), double(info.height)};
        found.push_back(monitor);
    }
}

}

std::vector<ScreenGeometry> RandrScreens::query(const std::string& display)
{
    XcbConnection connection = XcbConnection::open(display);
    std::vector<ScreenGeometry> screens;
    if (!connection)
        return screens;
    bool monitorList = hasMonitorList(connection.get());
    std::vector<Monitor> monitors;
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection.get())); roots.rem; xcb_screen_next(&roots)) {
        // Without RandR 1.5 each X screen counts as one monitor.
        if (!monitorList) {
            screens.push_back(wholeScreen(*roots.data));
            continue;
        }
        appendMonitors(connection.get(), *roots.data, monitors);
    }
    numberMonitors(monitors, screens);
    // The connection may have broken half-way: report nothing rather than
    // part of the list.
    if (connection.broken())
        return {};
    return screens;
}

// One query on a thread of its own, answered once unless the request thread
// stopped waiting first.
struct RandrScreens::Query {
    std::mutex lock;
    std::binary_semaphore answered{0};
    std::vector<ScreenGeometry> screens;
    bool finished = false;
};

std::vector<ScreenGeometry> RandrScreens::list()
{
    // A query still stuck on a server that stopped answering is not joined
    // by a second one: the server is taken as unreachable until it ends.
    if (running) {
        std::lock_guard guard(running->lock);
        if (!running->finished)
            return {};
    }
    auto query = std::make_shared<Query>();
    running = query;
    // xcb waits on its socket without a time limit (connection set-up
    // included), so the wait is bounded here.
    std::thread([query, display = display] {
        std::vector<ScreenGeometry> screens = RandrScreens::query(display);
        std::lock_guard guard(query->lock);
        query->screens = std::move(screens);
        query->finished = true;
        query->answered.release();
    }).detach();
    if (!query->answered.try_acquire_for(answerTimeout))
        return {};
    std::lock_guard guard(query->lock);
    return std::move(query->screens);
}

}
