#include "desktop/x11/XcbConnection.h"

#include <utility>

namespace tarvio {

XcbConnection XcbConnection::open(const std::string& display)
{
    // xcb_connect never returns null: a failed connection is an object in
    // an error state, which still has to be disconnected.
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return {};
    }
    return XcbConnection(connection);
}

XcbConnection& XcbConnection::operator=(XcbConnection&& other) noexcept
{
    std::swap(connection, other.connection);
    return *this;
}

XcbConnection::~XcbConnection()
{
    if (connection)
        xcb_disconnect(connection);
}

}
