#pragma once

#include <string>
#include <xcb/xcb.h>

namespace tarvio {

// Owns one connection to the X server named by DISPLAY.
class XcbConnection {
public:
    XcbConnection() = default;
    // Connects to `display`, or to DISPLAY when that is empty; the result is
    // empty when no server answers.
    static XcbConnection open(const std::string& display = "");

    XcbConnection(XcbConnection&& other) noexcept : connection(other.connection) { other.connection = nullptr; }
    XcbConnection& operator=(XcbConnection&& other) noexcept;
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;
    ~XcbConnection();

    explicit operator bool() const { return connection != nullptr; }
    xcb_connection_t* get() const { return connection; }
    // True once the server has gone away (or never answered).
    bool broken() const { return !connection || xcb_connection_has_error(connection) != 0; }

private:
    explicit XcbConnection(xcb_connection_t* connection) : connection(connection) {}

    xcb_connection_t* connection = nullptr;
};

}
