#include "recording/pulse/PulseConnection.h"

#include <charconv>
#include <cstring>

namespace tarvio::pulse {

namespace {

void signalLoop(pa_operation*, void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

std::string text(const char* value)
{
    return value ? value : "";
}

}

SinkInput sinkInputOf(const pa_sink_input_info& info)
{
    SinkInput input;
    input.index = info.index;
    input.sink = info.sink;
    input.client = info.client;
    if (const char* pid = info.proplist ? pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID) : nullptr) {
        int32_t value = 0;
        auto [end, error] = std::from_chars(pid, pid + std::strlen(pid), value);
        if (error == std::errc() && *end == '\0')
            input.processId = value;
    }
    return input;
}

std::unique_ptr<PulseConnection> PulseConnection::open(const char* threadName, LostCallback onLost, const std::atomic<bool>* cancel)
{
    std::unique_ptr<PulseConnection> connection(new PulseConnection(std::move(onLost), cancel));
    connection->mainloop = pa_threaded_mainloop_new();
    if (!connection->mainloop)
        return nullptr;
    pa_threaded_mainloop_set_name(connection->mainloop, threadName);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Tarvio");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tarvio.helper");
    connection->ctx = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(connection->mainloop), "Tarvio", properties);
    pa_proplist_free(properties);
    if (!connection->ctx)
        return nullptr;
    pa_context_set_state_callback(connection->ctx, &PulseConnection::contextChanged, connection.get());
    if (pa_context_connect(connection->ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return nullptr;
    if (pa_threaded_mainloop_start(connection->mainloop) < 0)
        return nullptr;
    Lock lock(*connection);
    auto settled = [&] {
        pa_context_state_t state = pa_context_get_state(connection->ctx);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (!connection->waitFor(settled, replyLimit) || !connection->ready())
        return nullptr;
    return connection;
}

PulseConnection::~PulseConnection()
{
    if (mainloop)
        pa_threaded_mainloop_stop(mainloop);
    if (ctx) {
        pa_context_set_state_callback(ctx, nullptr, nullptr);
        pa_context_set_subscribe_callback(ctx, nullptr, nullptr);
        pa_context_disconnect(ctx);
        pa_context_unref(ctx);
    }
    if (mainloop)
        pa_threaded_mainloop_free(mainloop);
}

bool PulseConnection::ready() const
{
    return pa_context_get_state(ctx) == PA_CONTEXT_READY;
}

int PulseConnection::lastStatus() const
{
    int error = pa_context_errno(ctx);
    return error > 0 ? -error : -PA_ERR_UNKNOWN;
}

void PulseConnection::contextChanged(pa_context* context, void* self)
{
    auto* connection = static_cast<PulseConnection*>(self);
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
        connection->wasReady = true;
    if (!PA_CONTEXT_IS_GOOD(state) && connection->wasReady && !connection->lostReported) {
        connection->lostReported = true;
        if (connection->onLost)
            connection->onLost();
    }
    pa_threaded_mainloop_signal(connection->mainloop, 0);
}

void PulseConnection::timerFired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseConnection*>(self)->mainloop, 0);
}

bool PulseConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    // Wake at least this often to notice cancellation.
    constexpr pa_usec_t pollMicroseconds = 50'000;
    const auto deadline = Clock::now() + limit;
    pa_time_event* timer = nullptr;
    bool result = done();
    while (!result) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx)) || Clock::now() >= deadline)
            break;
        if (cancel && cancel->load())
            break;
        pa_usec_t when = pa_rtclock_now() + pollMicroseconds;
        if (!timer)
            timer = pa_context_rttime_new(ctx, when, &PulseConnection::timerFired, this);
        else
            pa_context_rttime_restart(ctx, timer, when);
        pa_threaded_mainloop_wait(mainloop);
        result = done();
    }
    if (timer)
        pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
    return result;
}

bool PulseConnection::finish(pa_operation* operation)
{
    if (!operation)
        return false;
    pa_operation_set_state_callback(operation, signalLoop, mainloop);
    bool completed = waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, replyLimit);
    bool done = completed && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return done;
}

std::optional<ServerDefaults> PulseConnection::defaults()
{
    std::optional<ServerDefaults> reply;
    auto received = [](pa_context*, const pa_server_info* info, void* slot) {
        if (info)
            *static_cast<std::optional<ServerDefaults>*>(slot) = ServerDefaults {text(info->default_sink_name), text(info->default_source_name)};
    };
    if (!finish(pa_context_get_server_info(ctx, received, &reply)))
        return std::nullopt;
    return reply;
}

std::optional<SourceDetails> PulseConnection::sourceNamed(const std::string& name)
{
    std::optional<SourceDetails> reply;
    auto received = [](pa_context*, const pa_source_info* info, int eol, void* slot) {
        if (eol || !info)
            return;
        *static_cast<std::optional<SourceDetails>*>(slot) = SourceDetails {info->sample_spec, info->channel_map, info->monitor_of_sink != PA_INVALID_INDEX};
    };
    if (!finish(pa_context_get_source_info_by_name(ctx, name.c_str(), received, &reply)))
        return std::nullopt;
    return reply;
}

namespace {

SinkDetails sinkDetailsOf(const pa_sink_info& info)
{
    return SinkDetails {info.index, text(info.monitor_source_name), info.sample_spec, info.channel_map};
}

}

std::optional<SinkDetails> PulseConnection::sinkNamed(const std::string& name)
{
    std::optional<SinkDetails> reply;
    auto received = [](pa_context*, const pa_sink_info* info, int eol, void* slot) {
        if (eol || !info)
            return;
        *static_cast<std::optional<SinkDetails>*>(slot) = sinkDetailsOf(*info);
    };
    if (!finish(pa_context_get_sink_info_by_name(ctx, name.c_str(), received, &reply)))
        return std::nullopt;
    return reply;
}

std::vector<SinkDetails> PulseConnection::sinks()
{
    std::vector<SinkDetails> reply;
    auto received = [](pa_context*, const pa_sink_info* info, int eol, void* slot) {
        if (eol || !info)
            return;
        static_cast<std::vector<SinkDetails>*>(slot)->push_back(sinkDetailsOf(*info));
    };
    finish(pa_context_get_sink_info_list(ctx, received, &reply));
    return reply;
}

std::vector<SinkInput> PulseConnection::sinkInputs()
{
    std::vector<SinkInput> reply;
    auto received = [](pa_context*, const pa_sink_input_info* info, int eol, void* slot) {
        if (eol || !info)
            return;
        static_cast<std::vector<SinkInput>*>(slot)->push_back(sinkInputOf(*info));
    };
    finish(pa_context_get_sink_input_info_list(ctx, received, &reply));
    return reply;
}

}

#if defined(__SANITIZE_THREAD__)
// The client library hands data between its threads with its own atomics,
// built without the race detector, which therefore cannot see them.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}
#endif
