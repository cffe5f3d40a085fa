#include "recording/pulse/SystemTapSource.h"

#include "channel/HelperError.h"
#include "recording/pulse/CaptureConverter.h"
#include "recording/pulse/RecordStream.h"
#include "recording/pulse/StreamSum.h"

#include <algorithm>
#include <map>
#include <set>

namespace tarvio::pulse {

std::string tapRefusedMessage(int status)
{
    return "não foi possível capturar o som do computador (código " + std::to_string(status)
        + "); permita em Ajustes do Sistema > Privacidade e Segurança > Gravação de Áudio do Sistema";
}

std::string captureDeviceFailedMessage(int status)
{
    return "falha ao criar o dispositivo de captura (código " + std::to_string(status) + ")";
}

std::string captureStartFailedMessage(int status)
{
    return "falha ao iniciar a captura do sistema (código " + std::to_string(status) + ")";
}

namespace {

HelperError noOutputDevice()
{
    return unavailable("sem dispositivo de saída de áudio");
}

// Key of the whole-device monitor stream; no playback stream has this index.
constexpr uint32_t wholeDevice = PA_INVALID_INDEX;

class SystemCapture final : public OpenCapture {
public:
    SystemCapture(SamplesCallback onSamples, std::vector<int32_t> excludePids, std::function<void()> lost,
        const std::atomic<bool>& cancel)
        : onSamples(std::move(onSamples)), excludePids(std::move(excludePids)), lost(std::move(lost))
    {
        connection = PulseConnection::open("tarvio.tap", this->lost, &cancel);
        if (!connection)
            throw noOutputDevice();
        PulseConnection::Lock lock(*connection);
        auto defaults = connection->defaults();
        if (!defaults || defaults->sink.empty())
            throw noOutputDevice();
        defaultSink = defaults->sink;
        auto sink = connection->sinkNamed(defaultSink);
        if (!sink)
            throw noOutputDevice();
        defaultSinkIndex = sink->index;
        if (sink->monitorSource.empty())
            throw unavailable("sem UID do dispositivo de saída");
        rate = sink->spec.rate;
        channels = sink->spec.channels;
        converter = CaptureConverter::make(rate, channels);
        if (!converter)
            throw internalError("formato do áudio do sistema não suportado");
        sum = std::make_unique<StreamSum>(channels, rate / 5);
        sinkMonitors[sink->index] = sink->monitorSource;

        pa_context_set_subscribe_callback(connection->context(), &SystemCapture::changed, this);
        auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
        if (!connection->finish(pa_context_subscribe(connection->context(), mask, nullptr, nullptr)))
            fail(internalError(captureDeviceFailedMessage(connection->lastStatus())));
        for (const SinkInput& input : connection->sinkInputs())
            inputs[input.index] = input;
        for (const SinkDetails& details : connection->sinks())
            sinkMonitors[details.index] = details.monitorSource;

        // The whole-device stream opens first, so a refusal shows here.
        RecordStream& whole = openStream(wholeDevice, sink->monitorSource, PA_INVALID_INDEX);
        if (connectStatus != 0)
            fail(permissionDenied(tapRefusedMessage(connectStatus)));
        if (int status = whole.waitReady(); status != 0)
            fail(internalError(captureStartFailedMessage(status)));
        started = true;
        reconcile();
    }

    ~SystemCapture() override
    {
        if (!connection)
            return;
        {
            PulseConnection::Lock lock(*connection);
            close();
        }
        connection.reset();
    }

private:
    struct Open {
        std::string device;
        std::unique_ptr<RecordStream> stream;
    };

    // Undoes everything before raising, with the lock held.
    [[noreturn]] void fail(HelperError error)
    {
        close();
        throw error;
    }

    void close()
    {
        closing = true;
        pa_context_set_subscribe_callback(connection->context(), nullptr, nullptr);
        for (auto& [id, open] : streams)
            open.stream->close();
        for (auto& stream : finished)
            stream->close();
    }

    bool excluded(const SinkInput& input) const
    {
        return input.processId
            && std::find(excludePids.begin(), excludePids.end(), *input.processId) != excludePids.end();
    }

    // Inputs owned by server modules (loopbacks, generators) are not a
    // process's playback.
    static bool ownedByClient(const SinkInput& input) { return input.client != PA_INVALID_INDEX; }

    RecordStream& openStream(uint32_t id, const std::string& device, uint32_t onlyInput)
    {
        auto stream = std::make_unique<RecordStream>(
            *connection, [this, id](const float* frames, size_t count) { deliver(id, frames, count); },
            [this, id] { streamEnded(id); });
        RecordStream::Request request {"Som do computador", device, rate, static_cast<uint8_t>(channels),
            SystemTapSource::fragmentFrames, onlyInput};
        connectStatus = stream->connect(request);
        sum->add(id);
        Open& open = streams[id];
        open.device = device;
        open.stream = std::move(stream);
        return *open.stream;
    }

    void closeStream(uint32_t id)
    {
        auto found = streams.find(id);
        if (found == streams.end())
            return;
        found->second.stream->close();
        finished.push_back(std::move(found->second.stream));
        streams.erase(found);
        sum->remove(id);
    }

    // What should be captured now, by stream key and device.
    std::map<uint32_t, std::pair<std::string, uint32_t>> wanted() const
    {
        std::map<uint32_t, std::pair<std::string, uint32_t>> result;
        bool excludedPlaying = std::any_of(inputs.begin(), inputs.end(),
            [&](const auto& entry) { return ownedByClient(entry.second) && excluded(entry.second); });
        if (!excludedPlaying) {
            result[wholeDevice] = {sinkMonitors.at(defaultSinkIndex), PA_INVALID_INDEX};
            return result;
        }
        for (const auto& [index, input] : inputs) {
            if (!ownedByClient(input) || excluded(input) || refused.count(index))
                continue;
            auto monitor = sinkMonitors.find(input.sink);
            if (monitor != sinkMonitors.end() && !monitor->second.empty())
                result[index] = {monitor->second, index};
        }
        return result;
    }

    void reconcile()
    {
        if (!started || closing)
            return;
        // Streams are released here, never inside their own callbacks.
        finished.clear();
        auto want = wanted();
        std::vector<uint32_t> stale;
        for (const auto& [id, open] : streams) {
            auto target = want.find(id);
            if (target == want.end() || target->second.first != open.device || open.stream->ended())
                stale.push_back(id);
        }
        for (uint32_t id : stale) {
            if (streams[id].stream->ended() && id != wholeDevice)
                refused.insert(id);
            closeStream(id);
        }
        for (const auto& [id, target] : want)
            if (!streams.count(id) && !refused.count(id))
                openStream(id, target.first, target.second);
    }

    void deliver(uint32_t id, const float* frames, size_t count)
    {
        std::vector<float> ready = sum->push(id, frames, count);
        if (ready.empty())
            return;
        std::vector<float> block = converter->convert(ready.data(), ready.size() / channels);
        onSamples(block);
    }

    void streamEnded(uint32_t id)
    {
        if (closing)
            return;
        // The whole-device stream ending means the device went away.
        if (id == wholeDevice) {
            lost();
            return;
        }
        // On PulseAudio a finished playback stream ends its capture too.
        sum->remove(id);
        refused.insert(id);
    }

    static void changed(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self)
    {
        auto* capture = static_cast<SystemCapture*>(self);
        if (capture->closing)
            return;
        auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            if (pa_operation* operation = pa_context_get_server_info(context, &SystemCapture::serverInfo, self))
                pa_operation_unref(operation);
            return;
        }
        if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
            return;
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            capture->inputs.erase(index);
            capture->refused.erase(index);
            capture->reconcile();
            return;
        }
        // New inputs and changes (a process id filled in, a move to another
        // device) are read again.
        if (pa_operation* operation = pa_context_get_sink_input_info(context, index, &SystemCapture::inputInfo, self))
            pa_operation_unref(operation);
    }

    static void inputInfo(pa_context* context, const pa_sink_input_info* info, int eol, void* self)
    {
        auto* capture = static_cast<SystemCapture*>(self);
        if (eol || !info || capture->closing)
            return;
        SinkInput input = sinkInputOf(*info);
        capture->inputs[input.index] = input;
        if (!capture->sinkMonitors.count(input.sink)) {
            if (pa_operation* operation = pa_context_get_sink_info_by_index(context, input.sink, &SystemCapture::sinkInfo, self))
                pa_operation_unref(operation);
        }
        capture->reconcile();
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self)
    {
        auto* capture = static_cast<SystemCapture*>(self);
        if (eol || !info || capture->closing)
            return;
        capture->sinkMonitors[info->index] = info->monitor_source_name ? info->monitor_source_name : "";
        capture->reconcile();
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto* capture = static_cast<SystemCapture*>(self);
        if (!info || capture->closing)
            return;
        // Another default device: start over on it.
        if (!info->default_sink_name || capture->defaultSink != info->default_sink_name)
            capture->lost();
    }

    SamplesCallback onSamples;
    std::vector<int32_t> excludePids;
    std::function<void()> lost;
    std::unique_ptr<CaptureConverter> converter;
    std::unique_ptr<StreamSum> sum;
    std::string defaultSink;
    uint32_t defaultSinkIndex = PA_INVALID_INDEX;
    uint32_t rate = 0;
    uint32_t channels = 0;
    int connectStatus = 0;
    bool started = false;
    bool closing = false;
    std::map<uint32_t, SinkInput> inputs;
    std::map<uint32_t, std::string> sinkMonitors;
    std::set<uint32_t> refused;
    std::map<uint32_t, Open> streams;
    std::vector<std::unique_ptr<RecordStream>> finished;
    std::unique_ptr<PulseConnection> connection;
};

}

SystemTapSource::SystemTapSource(SamplesCallback onSamples, std::vector<int32_t> excludePids)
    : onSamples(std::move(onSamples))
    , excludePids(std::move(excludePids))
    , capture([this](std::function<void()> lost, const std::atomic<bool>& cancel) -> std::unique_ptr<OpenCapture> {
        return std::make_unique<SystemCapture>(this->onSamples, this->excludePids, std::move(lost), cancel);
    })
{
}

void SystemTapSource::start()
{
    capture.start();
}

}
