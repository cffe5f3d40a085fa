#include "desktop/x11/RandrScreens.h"

#include "desktop/x11/XcbConnection.h"

#include <cstdlib>
#include <memory>
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

void appendMonitors(xcb_connection_t* connection, const xcb_screen_t& screen, std::vector<ScreenGeometry>& screens)
{
    ReplyPointer<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, screen.root, 1), nullptr),
        &std::free);
    if (!reply)
        return;
    for (auto monitors = xcb_randr_get_monitors_monitors_iterator(reply.get()); monitors.rem;
         xcb_randr_monitor_info_next(&monitors)) {
        const xcb_randr_monitor_info_t& monitor = *monitors.data;
        ScreenGeometry geometry;
        // A monitor made with xrandr --setmonitor may have no output; its
        // name atom still tells it apart.
        geometry.displayNumber = monitor.name;
        if (xcb_randr_monitor_info_outputs_length(monitors.data) > 0)
            geometry.displayNumber = xcb_randr_monitor_info_outputs(monitors.data)[0];
        geometry.frame = {double(monitor.x), double(monitor.y), double(monitor.width), double(monitor.height)};
        screens.push_back(geometry);
    }
}

}

std::vector<ScreenGeometry> RandrScreens::list()
{
    XcbConnection connection = XcbConnection::open(display);
    std::vector<ScreenGeometry> screens;
    if (!connection)
        return screens;
    bool monitorList = hasMonitorList(connection.get());
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection.get())); roots.rem; xcb_screen_next(&roots)) {
        // Without RandR 1.5 each X screen counts as one monitor.
        if (!monitorList) {
            screens.push_back(wholeScreen(*roots.data));
            continue;
        }
        appendMonitors(connection.get(), *roots.data, screens);
    }
    // The connection may have broken half-way: report nothing rather than
    // part of the list.
    if (connection.broken())
        return {};
    return screens;
}

}
