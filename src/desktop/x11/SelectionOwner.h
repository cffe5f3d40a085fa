#pragma once

#include "desktop/x11/ClipboardWrite.h"
#include "desktop/x11/XcbConnection.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace tarvio {

// The CLIPBOARD selection on one X connection, driven from one thread: takes
// the selection for each write, answers other clients' conversion requests,
// and lets go for good when another client takes the selection.
class SelectionOwner {
public:
    // Null when no X server answers at `display` (DISPLAY when empty).
    static std::unique_ptr<SelectionOwner> connect(const std::string& display);
    ~SelectionOwner();

    SelectionOwner(const SelectionOwner&) = delete;
    SelectionOwner& operator=(const SelectionOwner&) = delete;

    int descriptor() const;
    bool broken() const { return connection.broken(); }

    // Starts taking the selection for `write`; its answer follows once the
    // server's timestamp arrives among the events.
    void begin(std::shared_ptr<ClipboardWrite> write);
    // Asks a running clipboard manager (the CLIPBOARD_MANAGER selection's
    // owner) to keep a copy of what we hold; the answer, whether it took
    // the copy, follows among the events. False at once without a manager,
    // or when we hold nothing.
    void handOver(std::shared_ptr<OwnerAnswer> answer);
    // Handles every event that has arrived and flushes what it sent.
    void processEvents();

    struct Atoms {
        xcb_atom_t clipboard, targets, timestamp, multiple, atomPair, utf8String, uriList, gnomeCopiedFiles,
            timeProbe, clipboardManager, saveTargets, saveProperty;
    };

private:
    SelectionOwner(XcbConnection connection, xcb_window_t window, const Atoms& atoms);

    void onPropertyNotify(const xcb_property_notify_event_t& event);
    void onSelectionClear(const xcb_selection_clear_event_t& event);
    void onSelectionRequest(const xcb_selection_request_event_t& event);
    void onSelectionNotify(const xcb_selection_notify_event_t& event);
    bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property);
    bool convertMultiple(xcb_window_t requestor, xcb_atom_t property);
    void putText(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, const std::string& text);
    bool ownsSelection();
    xcb_window_t ownerOf(xcb_atom_t selection);
    void setOwner(xcb_window_t window, xcb_timestamp_t time);

    XcbConnection connection;
    xcb_window_t window;
    Atoms atoms;
    size_t maximumPropertyBytes;
    // The write waiting for its timestamp.
    std::shared_ptr<ClipboardWrite> pending;
    // What we offer while we hold the selection.
    std::optional<SelectionContent> owned;
    // The hand-over waiting for the clipboard manager's answer.
    std::shared_ptr<OwnerAnswer> handing;
    xcb_timestamp_t acquiredAt = XCB_CURRENT_TIME;
};

}
