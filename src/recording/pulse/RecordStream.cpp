#include "recording/pulse/RecordStream.h"

namespace tarvio::pulse {

RecordStream::RecordStream(PulseConnection& connection, DataCallback onData, EndCallback onEnd)
    : connection(connection), onData(std::move(onData)), onEnd(std::move(onEnd))
{
}

RecordStream::~RecordStream()
{
    close();
}

int RecordStream::connect(const Request& request)
{
    pa_sample_spec spec {PA_SAMPLE_FLOAT32LE, request.rate, request.channels};
    pa_channel_map map;
    if (!pa_sample_spec_valid(&spec) || !pa_channel_map_init_extend(&map, request.channels, PA_CHANNEL_MAP_DEFAULT))
        return -PA_ERR_INVALID;
    frameBytes = static_cast<uint32_t>(pa_frame_size(&spec));
    channels = request.channels;
    fragmentFrames = request.fragmentFrames;
    gathered.reserve(size_t(fragmentFrames) * channels * 2);
    stream = pa_stream_new(connection.context(), request.name.c_str(), &spec, &map);
    if (!stream)
        return connection.lastStatus();
    pa_stream_set_state_callback(stream, &RecordStream::stateChanged, this);
    pa_stream_set_read_callback(stream, &RecordStream::readable, this);
    if (request.onlySinkInput != PA_INVALID_INDEX && pa_stream_set_monitor_stream(stream, request.onlySinkInput) < 0)
        return connection.lastStatus();
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = request.fragmentFrames * frameBytes;
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const char* device = request.device.empty() ? nullptr : request.device.c_str();
    if (pa_stream_connect_record(stream, device, &attributes, flags) < 0)
        return connection.lastStatus();
    return 0;
}

int RecordStream::waitReady()
{
    if (!stream)
        return -PA_ERR_BADSTATE;
    auto settled = [&] {
        pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!connection.waitFor(settled, PulseConnection::replyLimit))
        return -PA_ERR_TIMEOUT;
    if (pa_stream_get_state(stream) != PA_STREAM_READY)
        return connection.lastStatus();
    return 0;
}

void RecordStream::close()
{
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void RecordStream::stateChanged(pa_stream* stream, void* self)
{
    auto* record = static_cast<RecordStream*>(self);
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY)
        record->wasReady = true;
    if (!PA_STREAM_IS_GOOD(state) && !record->hasEnded) {
        record->hasEnded = true;
        if (record->wasReady && record->onEnd)
            record->onEnd();
    }
    pa_threaded_mainloop_signal(record->connection.loop(), 0);
}

void RecordStream::gather(const float* frames, size_t frameCount)
{
    if (!onData || frameCount == 0)
        return;
    if (gathered.empty() && frameCount >= fragmentFrames) {
        onData(frames, frameCount);
        return;
    }
    gathered.insert(gathered.end(), frames, frames + frameCount * channels);
    if (gathered.size() < fragmentFrames * channels)
        return;
    onData(gathered.data(), gathered.size() / channels);
    gathered.clear();
}

void RecordStream::readable(pa_stream* stream, size_t, void* self)
{
    auto* record = static_cast<RecordStream*>(self);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        // A hole (no data) is left to the recording's silence fill.
        if (data)
            record->gather(static_cast<const float*>(data), bytes / record->frameBytes);
        pa_stream_drop(stream);
    }
}

}
