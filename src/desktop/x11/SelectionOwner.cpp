#include "desktop/x11/SelectionOwner.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarvio {

namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

std::optional<SelectionOwner::Atoms> internAtoms(xcb_connection_t* connection)
{
    static constexpr std::array names = {"CLIPBOARD", "TARGETS", "TIMESTAMP", "MULTIPLE", "ATOM_PAIR",
        "UTF8_STRING", "text/uri-list", "x-special/gnome-copied-files", "_TARVIO_CLIPBOARD_TIME", "CLIPBOARD_MANAGER", "SAVE_TARGETS",
        "_TARVIO_SAVE_TARGETS"};
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies;
    for (size_t index = 0; index < names.size(); ++index)
        cookies[index] = xcb_intern_atom(connection, 0, uint16_t(std::strlen(names[index])), names[index]);
    std::array<xcb_atom_t, names.size()> values{};
    bool complete = true;
    for (size_t index = 0; index < names.size(); ++index) {
        ReplyPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[index], nullptr), &std::free);
        complete = complete && reply;
        if (reply)
            values[index] = reply->atom;
    }
    if (!complete)
        return std::nullopt;
    return SelectionOwner::Atoms{values[0], values[1], values[2], values[3], values[4], values[5], values[6],
        values[7], values[8], values[9], values[10], values[11]};
}

}

std::unique_ptr<SelectionOwner> SelectionOwner::connect(const std::string& display)
{
    XcbConnection connection = XcbConnection::open(display);
    if (!connection)
        return nullptr;
    const xcb_setup_t* setup = xcb_get_setup(connection.get());
    auto roots = xcb_setup_roots_iterator(setup);
    if (!roots.rem)
        return nullptr;
    std::optional<Atoms> atoms = internAtoms(connection.get());
    if (!atoms)
        return nullptr;

    // An unmapped input-only window: it exists to own the selection and to
    // receive the property change that carries the server's time.
    xcb_window_t window = xcb_generate_id(connection.get());
    const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection.get(), XCB_COPY_FROM_PARENT, window, roots.data->root, -1, -1, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_flush(connection.get());
    if (connection.broken())
        return nullptr;
    return std::unique_ptr<SelectionOwner>(new SelectionOwner(std::move(connection), window, *atoms));
}

SelectionOwner::SelectionOwner(XcbConnection connection, xcb_window_t window, const Atoms& atoms)
    : connection(std::move(connection)), window(window), atoms(atoms)
{
    // Larger data would need the INCR protocol; such a write is refused.
    size_t requestBytes = size_t(xcb_get_maximum_request_length(this->connection.get())) * 4;
    size_t header = sizeof(xcb_change_property_request_t);
    maximumPropertyBytes = requestBytes > header ? requestBytes - header : 0;
}

SelectionOwner::~SelectionOwner()
{
    if (pending)
        pending->deliver(false);
    if (handing)
        handing->deliver(false);
}

int SelectionOwner::descriptor() const
{
    return xcb_get_file_descriptor(connection.get());
}

void SelectionOwner::begin(std::shared_ptr<ClipboardWrite> write)
{
    // A write still waiting for its time has been given up by now.
    if (pending)
        pending->deliver(false);
    pending.reset();

    const SelectionContent& content = write->content;
    bool fits = content.uriList.size() <= maximumPropertyBytes &&
        content.gnomeCopiedFiles.size() <= maximumPropertyBytes && content.path.size() <= maximumPropertyBytes;
    if (!fits) {
        // The clipboard is emptied even when the write is refused.
        owned.reset();
        setOwner(XCB_NONE, XCB_CURRENT_TIME);
        xcb_flush(connection.get());
        write->deliver(false);
        return;
    }
    // ICCCM: ownership needs a real server time, which a zero-length append
    // to our own property yields through PropertyNotify.
    pending = std::move(write);
    xcb_change_property(connection.get(), XCB_PROP_MODE_APPEND, window, atoms.timeProbe, XCB_ATOM_INTEGER, 8, 0,
        nullptr);
    xcb_flush(connection.get());
}

void SelectionOwner::handOver(std::shared_ptr<OwnerAnswer> answer)
{
    if (handing)
        handing->deliver(false);
    handing.reset();
    if (!owned || !ownsSelection() || ownerOf(atoms.clipboardManager) == XCB_NONE) {
        answer->deliver(false);
        return;
    }
    // The manager saves the targets listed in the property we name, asking
    // us for each of them, then answers with SelectionNotify.
    const xcb_atom_t saved[] = {atoms.uriList, atoms.gnomeCopiedFiles, atoms.utf8String};
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, window, atoms.saveProperty, XCB_ATOM_ATOM, 32,
        uint32_t(std::size(saved)), saved);
    xcb_convert_selection(connection.get(), window, atoms.clipboardManager, atoms.saveTargets, atoms.saveProperty,
        acquiredAt);
    xcb_flush(connection.get());
    handing = std::move(answer);
}

void SelectionOwner::processEvents()
{
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection.get())) {
        ReplyPointer<xcb_generic_event_t> event(raw, &std::free);
        switch (raw->response_type & 0x7F) {
        case XCB_PROPERTY_NOTIFY:
            onPropertyNotify(*reinterpret_cast<xcb_property_notify_event_t*>(raw));
            break;
        case XCB_SELECTION_CLEAR:
            onSelectionClear(*reinterpret_cast<xcb_selection_clear_event_t*>(raw));
            break;
        case XCB_SELECTION_REQUEST:
            onSelectionRequest(*reinterpret_cast<xcb_selection_request_event_t*>(raw));
            break;
        case XCB_SELECTION_NOTIFY:
            onSelectionNotify(*reinterpret_cast<xcb_selection_notify_event_t*>(raw));
            break;
        default:
            // Errors for requestors that vanished mid-conversion, and the like.
            break;
        }
    }
    xcb_flush(connection.get());
}

void SelectionOwner::onPropertyNotify(const xcb_property_notify_event_t& event)
{
    if (event.window != window || event.atom != atoms.timeProbe || !pending)
        return;
    std::shared_ptr<ClipboardWrite> write = std::move(pending);
    pending.reset();

    setOwner(window, event.time);
    // The server ignores an ownership change older than the last one, so only
    // asking tells whether it took.
    bool taken = ownsSelection();
    owned.reset();
    if (taken) {
        owned = write->content;
        acquiredAt = event.time;
    }
    if (write->deliver(taken) || !taken)
        return;
    // The writer stopped waiting and was told the write failed: let go again,
    // unless someone else has taken the selection since.
    owned.reset();
    setOwner(XCB_NONE, acquiredAt);
}

void SelectionOwner::onSelectionClear(const xcb_selection_clear_event_t& event)
{
    if (event.owner != window || event.selection != atoms.clipboard)
        return;
    // A clear sent before our latest take arrives after it; only the server
    // knows whether we still hold the selection.
    if (!ownsSelection())
        owned.reset();
}

void SelectionOwner::onSelectionRequest(const xcb_selection_request_event_t& event)
{
    xcb_selection_notify_event_t notify;
    std::memset(&notify, 0, sizeof notify);
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = event.time;
    notify.requestor = event.requestor;
    notify.selection = event.selection;
    notify.target = event.target;
    notify.property = XCB_NONE;

    // Requests for a time before we took the selection are refused, as are
    // requests for a selection we no longer hold.
    bool ours = owned && event.owner == window && event.selection == atoms.clipboard &&
        (event.time == XCB_CURRENT_TIME || event.time >= acquiredAt);
    // Old clients name no property: the target then serves as one.
    xcb_atom_t property = event.property == XCB_NONE ? event.target : event.property;
    bool converted = false;
    if (ours && event.target == atoms.multiple)
        converted = event.property != XCB_NONE && convertMultiple(event.requestor, property);
    else if (ours)
        converted = convert(event.requestor, event.target, property);
    if (converted)
        notify.property = property;
    xcb_send_event(connection.get(), 0, event.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
}

void SelectionOwner::onSelectionNotify(const xcb_selection_notify_event_t& event)
{
    if (!handing || event.requestor != window || event.selection != atoms.clipboardManager)
        return;
    // A manager that refuses names no property.
    handing->deliver(event.property != XCB_NONE);
    handing.reset();
}

bool SelectionOwner::convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property)
{
    if (target == atoms.targets) {
        const xcb_atom_t targets[] = {atoms.targets, atoms.timestamp, atoms.multiple, atoms.uriList,
            atoms.gnomeCopiedFiles, atoms.utf8String};
        xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
            uint32_t(std::size(targets)), targets);
        return true;
    }
    if (target == atoms.timestamp) {
        xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
            &acquiredAt);
        return true;
    }
    if (target == atoms.uriList) {
        putText(requestor, property, atoms.uriList, owned->uriList);
        return true;
    }
    if (target == atoms.gnomeCopiedFiles) {
        putText(requestor, property, atoms.gnomeCopiedFiles, owned->gnomeCopiedFiles);
        return true;
    }
    if (target == atoms.utf8String) {
        putText(requestor, property, atoms.utf8String, owned->path);
        return true;
    }
    return false;
}

bool SelectionOwner::convertMultiple(xcb_window_t requestor, xcb_atom_t property)
{
    // The requestor's property lists (target, property) pairs; each pair we
    // cannot convert gets None as its property.
    ReplyPointer<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection.get(),
            xcb_get_property(connection.get(), 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x10000), nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return false;
    auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    std::vector<xcb_atom_t> pairs(values, values + xcb_get_property_value_length(reply.get()) / 4);
    pairs.resize(pairs.size() / 2 * 2);
    for (size_t index = 0; index < pairs.size(); index += 2) {
        xcb_atom_t target = pairs[index];
        xcb_atom_t& pairProperty = pairs[index + 1];
        if (target == atoms.multiple || pairProperty == XCB_NONE || !convert(requestor, target, pairProperty))
            pairProperty = XCB_NONE;
    }
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, requestor, property, atoms.atomPair, 32,
        uint32_t(pairs.size()), pairs.data());
    return true;
}

void SelectionOwner::putText(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, const std::string& text)
{
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, requestor, property, type, 8, uint32_t(text.size()),
        text.data());
}

bool SelectionOwner::ownsSelection()
{
    return ownerOf(atoms.clipboard) == window;
}

xcb_window_t SelectionOwner::ownerOf(xcb_atom_t selection)
{
    ReplyPointer<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection.get(), xcb_get_selection_owner(connection.get(), selection), nullptr),
        &std::free);
    return reply ? reply->owner : XCB_NONE;
}

void SelectionOwner::setOwner(xcb_window_t newOwner, xcb_timestamp_t time)
{
    xcb_set_selection_owner(connection.get(), newOwner, atoms.clipboard, time);
}

}
