#include "desktop/XRequestor.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>

namespace tarvio::testing {

namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

}

XRequestor::XRequestor(const std::string& display) : connection(xcb_connect(display.c_str(), nullptr))
{
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen ? screen->root : 0, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(connection);
}

XRequestor::~XRequestor()
{
    xcb_disconnect(connection);
}

xcb_atom_t XRequestor::atom(const std::string& name)
{
    ReplyPointer<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.c_str()), nullptr),
        &std::free);
    return reply ? reply->atom : XCB_NONE;
}

xcb_window_t XRequestor::owner(xcb_atom_t selection)
{
    ReplyPointer<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr), &std::free);
    return reply ? reply->owner : XCB_NONE;
}

std::optional<xcb_atom_t> XRequestor::convert(xcb_atom_t target, xcb_atom_t property, xcb_timestamp_t time)
{
    xcb_convert_selection(connection, window, atom("CLIPBOARD"), target, property, time);
    xcb_flush(connection);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            ReplyPointer<xcb_generic_event_t> owned(event, &std::free);
            if ((event->response_type & 0x7F) != XCB_SELECTION_NOTIFY)
                continue;
            auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
            if (notify->property == XCB_NONE)
                return std::nullopt;
            return notify->property;
        }
        pollfd wait = {xcb_get_file_descriptor(connection), POLLIN, 0};
        ::poll(&wait, 1, 100);
    }
    return std::nullopt;
}

std::string XRequestor::text(xcb_atom_t property)
{
    ReplyPointer<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
            xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20), nullptr),
        &std::free);
    if (!reply)
        return "";
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
        size_t(xcb_get_property_value_length(reply.get())));
}

std::vector<xcb_atom_t> XRequestor::atoms(xcb_atom_t property)
{
    std::string bytes = text(property);
    std::vector<xcb_atom_t> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

void XRequestor::setAtoms(xcb_atom_t property, xcb_atom_t type, const std::vector<xcb_atom_t>& values)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, 32, uint32_t(values.size()),
        values.data());
    xcb_flush(connection);
}

}
