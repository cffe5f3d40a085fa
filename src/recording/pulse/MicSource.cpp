#include "recording/pulse/MicSource.h"

#include "channel/HelperError.h"
#include "recording/pulse/CaptureConverter.h"
#include "recording/pulse/RecordStream.h"

namespace tarvio::pulse {

namespace {

HelperError noMicrophone()
{
    return unavailable("nenhum microfone disponível");
}

class MicCapture final : public OpenCapture {
public:
    MicCapture(SamplesCallback onSamples, std::function<void()> lost, const std::atomic<bool>& cancel)
        : onSamples(std::move(onSamples)), lost(std::move(lost))
    {
        connection = PulseConnection::open("tarvio.mic", this->lost, &cancel);
        if (!connection)
            throw noMicrophone();
        PulseConnection::Lock lock(*connection);
        auto defaults = connection->defaults();
        if (!defaults || defaults->source.empty())
            throw noMicrophone();
        auto source = connection->sourceNamed(defaults->source);
        // A monitor stands in as the default source when a machine has no
        // input: it is the computer's sound, not a microphone.
        if (!source || source->isMonitor || source->spec.rate == 0 || source->spec.channels == 0)
            throw noMicrophone();
        converter = CaptureConverter::make(source->spec.rate, source->spec.channels);
        if (!converter)
            throw internalError("formato do microfone não suportado");
        stream = std::make_unique<RecordStream>(
            *connection, [this](const float* frames, size_t count) { deliver(frames, count); }, this->lost);
        RecordStream::Request request {"Microfone", defaults->source, source->spec.rate, source->spec.channels,
            MicSource::fragmentFrames, PA_INVALID_INDEX};
        int status = stream->connect(request);
        if (status == 0)
            status = stream->waitReady();
        if (status != 0) {
            stream->close();
            throw internalError("falha ao abrir o microfone: " + std::string(pa_strerror(-status)));
        }
        // A new default input (a headset plugged in) is followed by
        // starting over on it.
        defaultSource = defaults->source;
        pa_context_set_subscribe_callback(connection->context(), &MicCapture::changed, this);
        if (pa_operation* operation = pa_context_subscribe(connection->context(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(operation);
    }

    ~MicCapture() override
    {
        if (!connection)
            return;
        {
            PulseConnection::Lock lock(*connection);
            closing = true;
            pa_context_set_subscribe_callback(connection->context(), nullptr, nullptr);
            stream->close();
        }
        connection.reset();
    }

private:
    void deliver(const float* frames, size_t count)
    {
        std::vector<float> block = converter->convert(frames, count);
        onSamples(block);
    }

    static void changed(pa_context* context, pa_subscription_event_type_t type, uint32_t, void* self)
    {
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER)
            return;
        if (pa_operation* operation = pa_context_get_server_info(context, &MicCapture::serverInfo, self))
            pa_operation_unref(operation);
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto* capture = static_cast<MicCapture*>(self);
        if (!info || capture->closing)
            return;
        if (!info->default_source_name || capture->defaultSource != info->default_source_name)
            capture->lost();
    }

    SamplesCallback onSamples;
    std::function<void()> lost;
    std::string defaultSource;
    bool closing = false;
    std::unique_ptr<CaptureConverter> converter;
    std::unique_ptr<PulseConnection> connection;
    std::unique_ptr<RecordStream> stream;
};

}

MicSource::MicSource(SamplesCallback onSamples)
    : onSamples(std::move(onSamples))
    , capture([this](std::function<void()> lost, const std::atomic<bool>& cancel) -> std::unique_ptr<OpenCapture> {
        return std::make_unique<MicCapture>(this->onSamples, std::move(lost), cancel);
    })
{
}

void MicSource::start()
{
    capture.start();
}

}
