#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace tarvio::testing {

// A bare X client that asks the CLIPBOARD owner for conversions the way
// pasting applications do, including the rarer forms xclip never uses.
class XRequestor {
public:
    explicit XRequestor(const std::string& display);
    ~XRequestor();

    XRequestor(const XRequestor&) = delete;
    XRequestor& operator=(const XRequestor&) = delete;

    xcb_atom_t atom(const std::string& name);
    // The window owning `selection`, none when no client does.
    xcb_window_t owner(xcb_atom_t selection);
    // Asks for `target` into `property` (none allowed) and returns the
    // property the owner's notification names: none when it refused.
    std::optional<xcb_atom_t> convert(xcb_atom_t target, xcb_atom_t property, xcb_timestamp_t time = XCB_CURRENT_TIME);
    std::string text(xcb_atom_t property);
    std::vector<xcb_atom_t> atoms(xcb_atom_t property);
    void setAtoms(xcb_atom_t property, xcb_atom_t type, const std::vector<xcb_atom_t>& values);

private:
    xcb_connection_t* connection;
    xcb_window_t window;
};

}
