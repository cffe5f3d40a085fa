#include "speech/RecognizerBackend.h"

#include "channel/HelperError.h"

#include <atomic>
#include <mutex>
#include <semaphore>
#include <utf8proc.h>

namespace tarvio {

namespace {

// What one recognition shares with its callback; the callback keeps it
// alive, so a late call writes into storage nobody reads any more.
struct RecognitionState {
    std::mutex lock;
    std::string text;
    std::optional<std::string> error;
    std::atomic<bool> done{false};
    std::counting_semaphore<> finished{0};
};

bool isTrimmable(utf8proc_int32_t codepoint)
{
    if (codepoint == '\n' || codepoint == '\r' || codepoint == '\t' || codepoint == 0x0B || codepoint == 0x0C
        || codepoint == 0x85 || codepoint == 0x2028 || codepoint == 0x2029)
        return true;
    return utf8proc_category(codepoint) == UTF8PROC_CATEGORY_ZS;
}

}

std::string speechAuthorizationName(SpeechAuthorizationStatus status)
{
    switch (status) {
    case 0: return "notDetermined";
    case 1: return "denied";
    case 2: return "restricted";
    case 3: return "authorized";
    default: return "unknown";
    }
}

std::string trimmedText(const std::string& text)
{
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t start = 0;
    size_t end = 0;
    bool seenContent = false;
    for (size_t offset = 0; offset < text.size();) {
        utf8proc_int32_t codepoint = 0;
        auto length = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
        if (length <= 0)
            length = 1;
        if (codepoint < 0 || !isTrimmable(codepoint)) {
            if (!seenContent)
                start = offset;
            seenContent = true;
            end = offset + static_cast<size_t>(length);
        }
        offset += static_cast<size_t>(length);
    }
    if (!seenContent)
        return {};
    return text.substr(start, end - start);
}

SpeechAuthorizationStatus requestSpeechAuthIfNeeded(SpeechRecognitionService& service)
{
    SpeechAuthorizationStatus status = service.authorizationStatus();
    if (status != 0)
        return status;
    struct Slot {
        std::atomic<SpeechAuthorizationStatus> status{0};
        std::counting_semaphore<> answered{0};
    };
    auto slot = std::make_shared<Slot>();
    service.requestAuthorization([slot](SpeechAuthorizationStatus answer) {
        slot->status.store(answer);
        slot->answered.release();
    });
    slot->answered.acquire();
    return slot->status.load();
}

std::string transcribeWithSFSpeechRecognizer(SpeechRecognitionService& service, const audio::PcmBuffer& buffer,
    const std::string& localeId, const std::vector<std::string>& vocabulary)
{
    SpeechAuthorizationStatus status = requestSpeechAuthIfNeeded(service);
    if (status != 3)
        throw permissionDenied("permissão de reconhecimento de fala negada (" + speechAuthorizationName(status) + ")");
    auto recognizer = service.recognizer(localeId);
    if (!recognizer)
        throw permissionDenied("idioma de fala não suportado: " + localeId);
    if (!recognizer->supportsOnDeviceRecognition())
        throw permissionDenied("reconhecimento offline indisponível para " + localeId);

    RecognitionRequest request;
    request.requiresOnDeviceRecognition = true;
    request.shouldReportPartialResults = false;
    if (!vocabulary.empty())
        request.contextualStrings = vocabulary;
    request.audio = &buffer;
    request.audioEnded = true;

    auto state = std::make_shared<RecognitionState>();
    auto task = recognizer->recognitionTask(request,
        [state](const std::optional<RecognitionResult>& result, const std::optional<std::string>& error) {
            if (result) {
                {
                    std::lock_guard guard(state->lock);
                    state->text = result->formattedString;
                }
                if (!result->isFinal)
                    return;
            } else if (error) {
                std::lock_guard guard(state->lock);
                state->error = error;
            } else {
                return;
            }
            // Only the first final result or error ends the wait.
            if (!state->done.exchange(true, std::memory_order_acq_rel))
                state->finished.release();
        });
    if (!state->done.load(std::memory_order_acquire))
        state->finished.acquire();

    std::lock_guard guard(state->lock);
    if (state->error && state->text.empty())
        throw internalError(*state->error);
    return trimmedText(state->text);
}

}
