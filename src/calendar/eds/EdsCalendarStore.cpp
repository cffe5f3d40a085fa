#include "calendar/eds/EdsCalendarStore.h"

#include "calendar/ical/Completion.h"
#include "calendar/ical/Forms.h"
#include "calendar/ical/Items.h"
#include "channel/Utf8.h"

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <libical/ical.h>

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace tarvio {

using ical::Seconds;
using Clock = std::chrono::steady_clock;

namespace {

// How long a source may take to connect and hand over what it holds, and how
// long one call on a connected source may take.
constexpr auto connectWait = std::chrono::seconds(5);
constexpr auto callWait = std::chrono::seconds(5);
// A source that failed to connect is tried again after this long.
constexpr auto retryAfter = std::chrono::seconds(30);

const char* const identifierPrefix = "eds:";

template <typename T> struct GObjectDeleter {
    void operator()(T* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GObjectPointer = std::unique_ptr<T, GObjectDeleter<T>>;

struct GErrorHolder {
    GError* error = nullptr;
    ~GErrorHolder()
    {
        if (error)
            g_error_free(error);
    }
    std::string message() const { return makeValidUtf8(error && error->message ? error->message : "erro do EDS"); }
};

std::string takeString(gchar* text)
{
    if (!text)
        return {};
    std::string value(text);
    g_free(text);
    return value;
}

// "%" and "/" escaped, so that "/" only ever separates the two parts.
std::string escapePart(const std::string& part)
{
    std::string escaped;
    for (char c : part) {
        if (c == '%')
            escaped += "%25";
        else if (c == '/')
            escaped += "%2F";
        else
            escaped += c;
    }
    return makeValidUtf8(escaped);
}

// Cancels a GCancellable when a call runs past its time.
class CallDeadline {
public:
    explicit CallDeadline(Clock::duration wait) : cancellable(g_cancellable_new())
    {
        watcher = std::thread([this, until = Clock::now() + wait] {
            std::unique_lock lock(mutex);
            if (!finished.wait_until(lock, until, [this] { return done; }))
                g_cancellable_cancel(cancellable);
        });
    }
    ~CallDeadline()
    {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_one();
        watcher.join();
        g_object_unref(cancellable);
    }
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    GCancellable* get() const { return cancellable; }

private:
    GCancellable* cancellable;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watcher;
};

std::optional<Rgb> parseColor(const char* text)
{
    if (!text)
        return std::nullopt;
    std::string value(text);
    if (value.size() != 7 || value[0] != '#' || value.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
        return std::nullopt;
    auto channel = [&](size_t at) { return std::strtol(value.substr(at, 2).c_str(), nullptr, 16) / 255.0; };
    return Rgb {channel(1), channel(3), channel(5)};
}

Instant now()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

const char* extensionOf(EntityKind kind)
{
    return kind == EntityKind::reminders ? E_SOURCE_EXTENSION_TASK_LIST : E_SOURCE_EXTENSION_CALENDAR;
}

icalcomponent* nativeOf(ICalComponent* component)
{
    return static_cast<icalcomponent*>(i_cal_object_get_native(I_CAL_OBJECT(component)));
}

// The TZIDs of an item's properties that name no built-in zone.
void addOwnZoneNames(icalcomponent* item, std::vector<std::string>& names)
{
    for (icalproperty* property = icalcomponent_get_first_property(item, ICAL_ANY_PROPERTY); property;
         property = icalcomponent_get_next_property(item, ICAL_ANY_PROPERTY)) {
        icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        const char* name = parameter ? icalparameter_get_tzid(parameter) : nullptr;
        if (!name || ical::builtinZone(name) || std::find(names.begin(), names.end(), name) != names.end())
            continue;
        names.emplace_back(name);
    }
}

// The new item as EDS's client takes it.
GObjectPointer<ICalComponent> clientComponent(icalcomponent* item)
{
    char* text = icalcomponent_as_ical_string_r(item);
    GObjectPointer<ICalComponent> component(text ? i_cal_component_new_from_string(text) : nullptr);
    std::free(text);
    if (!component)
        throw StoreError("o item não pôde ser montado");
    return component;
}

bool sessionBusReachable()
{
    // Without an address GLib would try to launch a bus of its own.
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && address[0])
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !runtime[0])
        return false;
    struct stat status;
    return ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

}

void silenceGlibLogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
            nullptr, nullptr);
        g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        g_set_print_handler([](const gchar*) {});
        g_set_printerr_handler([](const gchar*) {});
    });
}

// One item (a UID) of a source: its components by RECURRENCE-ID ("" for the
// master) and what they read as together.
struct CachedItem {
    std::map<std::string, GObjectPointer<ICalComponent>> parts;
    bool stale = true;
    ical::Items read;
    // The calendar the parts were read in, kept while its own zones are used.
    std::shared_ptr<icalcomponent> zones;
};

struct SourceState;

// What an asynchronous call carries: the source, or none once it is gone.
struct PendingLink {
    SourceState* source = nullptr;
};

struct SourceState {
    EdsCalendarStore::State* store = nullptr;
    EntityKind kind = EntityKind::events;
    GObjectPointer<ESource> source;
    std::string uid;
    GObjectPointer<ECalClient> client;
    GObjectPointer<ECalClientView> view;
    GCancellable* pending = nullptr; // a connection under way
    PendingLink* link = nullptr;
    Clock::time_point waitUntil {};
    Clock::time_point failedAt {};
    bool failed = false;
    bool complete = false; // what the source held has been read
    std::map<std::string, CachedItem> items;
    std::map<std::string, std::string> zones; // VTIMEZONE texts by TZID, "" when unknown
    gulong handlers[4] {};
    gulong died = 0;

    ~SourceState()
    {
        if (link)
            link->source = nullptr;
        if (pending) {
            g_cancellable_cancel(pending);
            g_object_unref(pending);
        }
        release();
    }

    void release()
    {
        if (view) {
            for (auto& handler : handlers) {
                if (handler)
                    g_signal_handler_disconnect(view.get(), handler);
                handler = 0;
            }
            e_cal_client_view_stop(view.get(), nullptr);
        }
        if (client && died)
            g_signal_handler_disconnect(client.get(), died);
        died = 0;
        view.reset();
        client.reset();
    }

    bool ready() const { return client && view && complete; }
    bool waiting() const { return pending != nullptr; }

    std::string identifier() const { return identifierPrefix + escapePart(uid); }
    std::string itemIdentifier(const std::string& itemUid, size_t item) const
    {
        std::string identifier = this->identifier() + "/" + escapePart(itemUid);
        if (item)
            identifier += "#" + std::to_string(item);
        return identifier;
    }

    Calendar calendar() const
    {
        Calendar calendar;
        calendar.identifier = identifier();
        calendar.title = makeValidUtf8(e_source_get_display_name(source.get()) ?: "");
        calendar.writable = client && !e_client_is_readonly(E_CLIENT(client.get()));
        auto* extension = E_SOURCE_SELECTABLE(e_source_get_extension(source.get(), extensionOf(kind)));
        gchar* color = e_source_selectable_dup_color(extension);
        calendar.color = parseColor(color);
        g_free(color);
        return calendar;
    }

    CachedItem* store_component(ICalComponent* component)
    {
        const char* itemUid = i_cal_component_get_uid(component);
        if (!itemUid)
            return nullptr;
        auto& item = items[itemUid];
        item.parts[takeString(e_cal_util_component_get_recurid_as_string(component))].reset(
            I_CAL_COMPONENT(g_object_ref(component)));
        item.stale = true;
        return &item;
    }

    void remove_component(const ECalComponentId* id)
    {
        const char* itemUid = e_cal_component_id_get_uid(id);
        if (!itemUid)
            return;
        auto found = items.find(itemUid);
        if (found == items.end())
            return;
        const char* rid = e_cal_component_id_get_rid(id);
        if (!rid || !rid[0])
            items.erase(found);
        else if (found->second.parts.erase(rid)) {
            found->second.stale = true;
            if (found->second.parts.empty())
                items.erase(found);
        }
    }

    const std::string& zoneText(const std::string& name)
    {
        auto found = zones.find(name);
        if (found != zones.end())
            return found->second;
        std::string text;
        CallDeadline deadline(callWait);
        ICalTimezone* zone = nullptr;
        GErrorHolder error;
        if (e_cal_client_get_timezone_sync(client.get(), name.c_str(), &zone, deadline.get(), &error.error) && zone) {
            if (ICalComponent* component = i_cal_timezone_get_component(zone)) {
                text = takeString(i_cal_component_as_ical_string(component));
                g_object_unref(component);
            }
        }
        return zones[name] = text;
    }

    const ical::Items& parsed(CachedItem& item)
    {
        if (!item.stale)
            return item.read;
        item.stale = false;
        item.zones.reset();
        std::vector<std::string> names;
        for (const auto& [rid, part] : item.parts)
            addOwnZoneNames(nativeOf(part.get()), names);
        if (item.parts.size() == 1 && names.empty()) {
            // One component in built-in zones: read where it is.
            ical::ZoneResolver zones(nullptr);
            item.read = ical::readItems(nativeOf(item.parts.begin()->second.get()), zones);
            return item.read;
        }
        std::shared_ptr<icalcomponent> calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT), icalcomponent_free);
        for (const auto& name : names) {
            const std::string& zone = zoneText(name);
            if (icalcomponent* definition = zone.empty() ? nullptr : icalparser_parse_string(zone.c_str()))
                icalcomponent_add_component(calendar.get(), definition);
        }
        for (const auto& [rid, part] : item.parts)
            icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(nativeOf(part.get())));
        ical::ZoneResolver zones(calendar.get());
        item.read = ical::readItems(calendar.get(), zones);
        if (zones.usedCalendarZone())
            item.zones = std::move(calendar);
        return item.read;
    }
};

struct EdsCalendarStore::State {
    GMainContext* context = nullptr;
    GObjectPointer<ESourceRegistry> registry;
    std::vector<std::unique_ptr<SourceState>> sources[2];

    ~State()
    {
        for (auto& list : sources)
            list.clear();
        registry.reset();
        // Let the sources' last callbacks see they are gone.
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    void pump()
    {
        while (g_main_context_iteration(context, FALSE)) {
        }
    }

    // Runs the context until `done` or `deadline`.
    void runUntil(const std::function<bool()>& done, Clock::time_point deadline)
    {
        while (!done()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return;
            GSource* timer = g_timeout_source_new(static_cast<guint>(left));
            g_source_set_callback(timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(timer, context);
            g_main_context_iteration(context, TRUE);
            g_source_destroy(timer);
            g_source_unref(timer);
        }
    }

    static void viewAdded(ECalClientView*, const GSList* components, gpointer data)
    {
        auto* source = static_cast<SourceState*>(data);
        std::vector<CachedItem*> touched;
        for (auto* link = components; link; link = link->next) {
            if (auto* item = source->store_component(static_cast<ICalComponent*>(link->data)))
                touched.push_back(item);
        }
        // Read now, while the factory sends the next batch, rather than all
        // at the first request.
        for (auto* item : touched)
            source->parsed(*item);
    }
    static void viewRemoved(ECalClientView*, const GSList* ids, gpointer data)
    {
        auto* source = static_cast<SourceState*>(data);
        for (auto* link = ids; link; link = link->next)
            source->remove_component(static_cast<const ECalComponentId*>(link->data));
    }

    static void fail(SourceState* source)
    {
        source->failed = true;
        source->failedAt = Clock::now();
        source->release();
    }

    // A factory that ended takes its views with it: connect again at once.
    static void backendDied(EClient*, gpointer data)
    {
        auto* source = static_cast<SourceState*>(data);
        source->release();
        source->failed = false;
    }

    // The view first sends what the source holds, in batches that are read
    // as they come, then every change; "complete" ends the first part.
    static void viewReady(GObject* object, GAsyncResult* result, gpointer data)
    {
        GErrorHolder error;
        ECalClientView* view = nullptr;
        bool ok = e_cal_client_get_view_finish(E_CAL_CLIENT(object), result, &view, &error.error);
        auto* link = static_cast<PendingLink*>(data);
        auto* source = link->source;
        if (!source || !ok || !view) {
            delete link;
            if (view)
                g_object_unref(view);
            if (source)
                endConnection(source, false);
            return;
        }
        source->view.reset(view);
        source->handlers[0] = g_signal_connect(view, "objects-added", G_CALLBACK(viewAdded), source);
        source->handlers[1] = g_signal_connect(view, "objects-modified", G_CALLBACK(viewAdded), source);
        source->handlers[2] = g_signal_connect(view, "objects-removed", G_CALLBACK(viewRemoved), source);
        source->handlers[3] = g_signal_connect(view, "complete", G_CALLBACK(viewComplete), source);
        delete link;
        source->link = nullptr;
        GErrorHolder startError;
        e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NOTIFY_INITIAL, nullptr);
        e_cal_client_view_start(view, &startError.error);
        if (startError.error)
            endConnection(source, false);
    }

    static void viewComplete(ECalClientView*, const GError* error, gpointer data)
    {
        auto* source = static_cast<SourceState*>(data);
        if (source->waiting())
            endConnection(source, error == nullptr);
    }

    static void endConnection(SourceState* source, bool ok)
    {
        source->link = nullptr;
        g_clear_object(&source->pending);
        if (ok)
            source->complete = true;
        else
            fail(source);
    }

    static void connected(GObject*, GAsyncResult* result, gpointer data)
    {
        GErrorHolder error;
        EClient* client = e_cal_client_connect_finish(result, &error.error);
        auto* link = static_cast<PendingLink*>(data);
        auto* source = link->source;
        if (!source || !client) {
            delete link;
            if (client)
                g_object_unref(client);
            if (source)
                endConnection(source, false);
            return;
        }
        source->client.reset(E_CAL_CLIENT(client));
        source->died = g_signal_connect(client, "backend-died", G_CALLBACK(backendDied), source);
        e_cal_client_get_view(source->client.get(), "#t", source->pending, viewReady, link);
    }

    void start(SourceState& source)
    {
        source.failed = false;
        source.complete = false;
        source.items.clear();
        source.pending = g_cancellable_new();
        source.link = new PendingLink {&source};
        source.waitUntil = Clock::now() + connectWait;
        auto type = source.kind == EntityKind::reminders ? E_CAL_CLIENT_SOURCE_TYPE_TASKS : E_CAL_CLIENT_SOURCE_TYPE_EVENTS;
        // A wait of 0 never returns on EDS 3.46; the call's own bound is
        // the cancellable's and ours.
        e_cal_client_connect(source.source.get(), type, static_cast<guint32>(-1), source.pending, connected, source.link);
    }

    // The enabled sources of the kind, connected and current as far as the
    // bounded waits allow, in a stable order.
    std::vector<SourceState*> refresh(EntityKind kind)
    {
        pump();
        auto& known = sources[static_cast<int>(kind)];
        GList* enabled = e_source_registry_list_enabled(registry.get(), extensionOf(kind));
        std::vector<std::unique_ptr<SourceState>> current;
        for (GList* link = enabled; link; link = link->next) {
            auto* source = E_SOURCE(link->data);
            std::string uid = e_source_get_uid(source) ?: "";
            auto found = std::find_if(known.begin(), known.end(), [&](auto& state) { return state && state->uid == uid; });
            if (found != known.end()) {
                current.push_back(std::move(*found));
                continue;
            }
            auto state = std::make_unique<SourceState>();
            state->store = this;
            state->kind = kind;
            state->source.reset(E_SOURCE(g_object_ref(source)));
            state->uid = uid;
            current.push_back(std::move(state));
        }
        g_list_free_full(enabled, g_object_unref);
        known = std::move(current);
        std::sort(known.begin(), known.end(), [](auto& left, auto& right) {
            std::string leftTitle = e_source_get_display_name(left->source.get()) ?: "";
            std::string rightTitle = e_source_get_display_name(right->source.get()) ?: "";
            return std::tie(leftTitle, left->uid) < std::tie(rightTitle, right->uid);
        });

        auto clock = Clock::now();
        for (auto& source : known) {
            if (!source->client && !source->pending && (!source->failed || clock - source->failedAt >= retryAfter))
                start(*source);
        }
        auto deadline = clock;
        for (auto& source : known) {
            if (source->waiting())
                deadline = std::max(deadline, source->waitUntil);
        }
        runUntil([&] { return std::none_of(known.begin(), known.end(), [&](auto& source) {
            return source->waiting() && Clock::now() < source->waitUntil;
        }); }, deadline);

        std::vector<SourceState*> result;
        for (auto& source : known) {
            if (source->ready())
                result.push_back(source.get());
        }
        return result;
    }

    SourceState* sourceFor(EntityKind kind, const std::string& identifier)
    {
        for (auto* source : refresh(kind)) {
            if (source->identifier() == identifier)
                return source;
        }
        return nullptr;
    }

    std::optional<Calendar> defaultCalendar(EntityKind kind)
    {
        ESource* chosen = kind == EntityKind::reminders ? e_source_registry_ref_default_task_list(registry.get())
                                                        : e_source_registry_ref_default_calendar(registry.get());
        if (!chosen)
            return std::nullopt;
        std::string uid = e_source_get_uid(chosen) ?: "";
        g_object_unref(chosen);
        for (auto* source : refresh(kind)) {
            if (source->uid == uid)
                return source->calendar();
        }
        return std::nullopt;
    }

    // Hands a new item to EDS; the cache holds it at once, before the view
    // says so.
    void create(SourceState& source, icalcomponent* item)
    {
        if (e_client_is_readonly(E_CLIENT(source.client.get())))
            throw StoreError("a agenda é somente leitura");
        auto component = clientComponent(item);
        CallDeadline deadline(callWait);
        GErrorHolder error;
        gchar* savedUid = nullptr;
        if (!e_cal_client_create_object_sync(
                source.client.get(), component.get(), E_CAL_OPERATION_FLAG_NONE, &savedUid, deadline.get(), &error.error))
            throw StoreError(error.message());
        g_free(savedUid);
        source.store_component(component.get());
    }
};

std::unique_ptr<EdsCalendarStore> EdsCalendarStore::connect(std::chrono::milliseconds wait)
{
    silenceGlibLogs();
    // Malformed items must never abort the helper.
    icalerror_set_errors_are_fatal(0);
    if (!sessionBusReachable())
        return nullptr;

    // The bus handshake honours no cancellable: it runs on a thread of its
    // own, left behind if the bus never answers.
    struct Attempt {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool abandoned = false;
        GMainContext* context = g_main_context_new();
        ESourceRegistry* registry = nullptr;
        ~Attempt()
        {
            if (registry)
                g_object_unref(registry);
            g_main_context_unref(context);
        }
    };
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt, wait] {
        // The registry's signals arrive in the store's own context.
        g_main_context_push_thread_default(attempt->context);
        CallDeadline deadline(wait);
        ESourceRegistry* registry = e_source_registry_new_sync(deadline.get(), nullptr);
        g_main_context_pop_thread_default(attempt->context);
        std::lock_guard lock(attempt->mutex);
        attempt->registry = registry;
        attempt->done = true;
        attempt->finished.notify_one();
    }).detach();

    std::unique_lock lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, wait, [&] { return attempt->done; }) || !attempt->registry) {
        attempt->abandoned = true;
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->context = g_main_context_ref(attempt->context);
    g_main_context_push_thread_default(state->context);
    state->registry.reset(std::exchange(attempt->registry, nullptr));
    return std::unique_ptr<EdsCalendarStore>(new EdsCalendarStore(std::move(state)));
}

EdsCalendarStore::EdsCalendarStore(std::unique_ptr<State> state) : state(std::move(state)) { }

EdsCalendarStore::~EdsCalendarStore() = default;

int EdsCalendarStore::authorizationStatus(EntityKind)
{
    // EDS asks no one; whoever reaches its bus may use it.
    return authorization::fullAccess;
}

void EdsCalendarStore::requestFullAccess(EntityKind kind, AccessCompletion completion)
{
    bool granted = authorizationStatus(kind) == authorization::fullAccess;
    std::thread answer([&completion, granted] { completion(granted, std::nullopt); });
    answer.join();
}

std::vector<Calendar> EdsCalendarStore::calendars(EntityKind kind)
{
    std::vector<Calendar> result;
    for (auto* source : state->refresh(kind))
        result.push_back(source->calendar());
    return result;
}

std::optional<Calendar> EdsCalendarStore::defaultCalendar(EntityKind kind)
{
    return state->defaultCalendar(kind);
}

std::vector<Event> EdsCalendarStore::events(Instant from, Instant to)
{
    std::vector<Event> result;
    forEachEvent(from, to, [&](const Event& event) { result.push_back(event); });
    return result;
}

void EdsCalendarStore::forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit)
{
    Seconds start = std::chrono::floor<std::chrono::seconds>(from).time_since_epoch().count();
    Seconds end = std::chrono::ceil<std::chrono::seconds>(to).time_since_epoch().count();
    for (auto* source : state->refresh(EntityKind::events)) {
        Event event;
        event.calendar = source->calendar();
        for (auto& [uid, item] : source->items) {
            for (const auto& stored : source->parsed(item).events) {
                if (stored.start >= end || stored.lastEnd < start)
                    continue;
                // What the occurrences share is filled in once.
                event.identifier = source->itemIdentifier(uid, stored.item);
                event.title = stored.title;
                event.location = stored.location;
                event.notes = stored.notes;
                event.url = stored.url;
                event.allDay = stored.allDay;
                ical::expandEvent(stored, start, end, [&](Seconds first, Seconds last) {
                    event.start = ical::instantOf(first);
                    event.end = ical::instantOf(last);
                    visit(event);
                });
            }
        }
    }
}

namespace {

std::vector<Reminder> loadReminders(EdsCalendarStore::State& state, ReminderQuery query)
{
    std::vector<Reminder> result;
    for (auto* source : state.refresh(EntityKind::reminders)) {
        Calendar list = source->calendar();
        for (auto& [uid, item] : source->items) {
            for (const auto& todo : source->parsed(item).todos) {
                if ((query == ReminderQuery::completed && !todo.completed)
                    || (query == ReminderQuery::incomplete && todo.completed))
                    continue;
                result.push_back(ical::reminderOf(todo, list, source->itemIdentifier(uid, todo.item)));
            }
        }
    }
    return result;
}

}

void EdsCalendarStore::fetchReminders(ReminderQuery query, RemindersCompletion completion)
{
    // EDS's objects belong to this thread; only the answer crosses over.
    auto reminders = loadReminders(*state, query);
    std::thread answer([&] { completion(std::move(reminders)); });
    answer.join();
}

std::optional<Reminder> EdsCalendarStore::reminder(const std::string& identifier)
{
    // Compared with the identifiers of listed items only: no request text
    // reaches EDS.
    if (identifier.rfind(identifierPrefix, 0) != 0)
        return std::nullopt;
    for (auto& reminder : loadReminders(*state, ReminderQuery::all)) {
        if (reminder.identifier == identifier)
            return std::move(reminder);
    }
    return std::nullopt;
}

Event EdsCalendarStore::saveEvent(const NewEvent& event)
{
    auto* source = state->sourceFor(EntityKind::events, event.calendarIdentifier);
    if (!source)
        throw StoreError("a agenda não existe mais");
    std::string uid = ical::newUid();
    auto item = ical::newEventComponent(event, uid, now());
    state->create(*source, item.get());
    ical::ZoneResolver zones(nullptr);
    auto read = ical::readItems(item.get(), zones);
    if (read.events.empty())
        throw StoreError("o evento gravado não pôde ser lido");
    const auto& stored = read.events.front();
    return ical::eventOf(stored, source->calendar(), source->itemIdentifier(uid, 0), stored.start, stored.end);
}

Reminder EdsCalendarStore::saveReminder(const NewReminder& reminder)
{
    auto* source = state->sourceFor(EntityKind::reminders, reminder.calendarIdentifier);
    if (!source)
        throw StoreError("a lista de lembretes não existe mais");
    std::string uid = ical::newUid();
    auto item = ical::newTodoComponent(reminder, uid, now());
    state->create(*source, item.get());
    ical::ZoneResolver zones(nullptr);
    auto read = ical::readItems(item.get(), zones);
    if (read.todos.empty())
        throw StoreError("o lembrete gravado não pôde ser lido");
    return ical::reminderOf(read.todos.front(), source->calendar(), source->itemIdentifier(uid, 0));
}

Reminder EdsCalendarStore::completeReminder(const Reminder& reminder)
{
    for (auto* source : state->refresh(EntityKind::reminders)) {
        for (auto& [uid, item] : source->items) {
            for (const auto& todo : source->parsed(item).todos) {
                if (source->itemIdentifier(uid, todo.item) != reminder.identifier)
                    continue;
                if (e_client_is_readonly(E_CLIENT(source->client.get())))
                    throw StoreError("a lista de lembretes é somente leitura");
                // The to-do itself, not one of its moved instances.
                auto master = item.parts.find("");
                if (master == item.parts.end())
                    throw StoreError("o lembrete mudou e não pôde ser atualizado");
                GObjectPointer<ICalComponent> changed(i_cal_component_clone(master->second.get()));
                ical::markCompleted(nativeOf(changed.get()), now());
                CallDeadline deadline(callWait);
                GErrorHolder error;
                if (!e_cal_client_modify_object_sync(source->client.get(), changed.get(), E_CAL_OBJ_MOD_THIS,
                        E_CAL_OPERATION_FLAG_NONE, deadline.get(), &error.error))
                    throw StoreError(error.message());
                std::string completedUid = uid;
                size_t index = todo.item;
                source->store_component(changed.get());
                for (const auto& saved : source->parsed(source->items[completedUid]).todos) {
                    if (saved.item == index)
                        return ical::reminderOf(saved, source->calendar(), reminder.identifier);
                }
                throw StoreError("o lembrete gravado não pôde ser lido");
            }
        }
    }
    throw StoreError("o lembrete não existe mais");
}

}
