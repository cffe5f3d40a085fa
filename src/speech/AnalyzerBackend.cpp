#include "speech/AnalyzerBackend.h"

#include "channel/HelperError.h"
#include "speech/AudioPayload.h"
#include "speech/RecognizerBackend.h"

#include <algorithm>
#include <cctype>
#include <semaphore>
#include <thread>

namespace tarvio {

namespace {

// What the task and the request thread share.
struct Bridge {
    AnalyzerOutcome outcome;
    std::counting_semaphore<> signalled{0};
};

std::string describe(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const HelperError& error) {
        return error.message;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "falha desconhecida";
    }
}

// Collects the plain text of every final result, in order.
std::string collectFinalText(SpeechAnalysisSession& session, std::stop_token stop)
{
    std::string collected;
    while (auto result = session.nextResult(stop)) {
        if (result->isFinal)
            collected += result->text;
    }
    return collected;
}

AnalyzerOutcome analyze(SpeechAnalysisService& service, const audio::PcmBuffer& buffer, const std::string& localeId,
    const std::vector<std::string>& vocabulary)
{
    if (!service.isAvailable())
        return {};
    auto locale = installedTranscriberLocale(service, localeId);
    if (!locale)
        return {};
    auto session = service.makeSession(*locale);
    if (!session)
        return AnalyzerOutcome::failure("transcritor indisponível");

    auto format = session->bestAvailableAudioFormat(buffer.format()).value_or(buffer.format());
    std::unique_ptr<audio::PcmBuffer> converted;
    const audio::PcmBuffer* input = nullptr;
    try {
        input = &convertBuffer(buffer, format, converted);
    } catch (...) {
        return AnalyzerOutcome::failure(describe(std::current_exception()));
    }

    AnalysisContext context;
    if (!vocabulary.empty())
        context.generalContextualStrings = vocabulary;
    auto stream = std::make_shared<AnalyzerInputStream>();
    session->startAnalyzer(stream, context);

    // The child collects results while this task feeds and finalizes.
    std::string collected;
    std::exception_ptr childFailure;
    std::jthread child([&](std::stop_token stop) {
        try {
            collected = collectFinalText(*session, stop);
        } catch (...) {
            childFailure = std::current_exception();
        }
    });

    // The stream holds the input without owning the caller's buffer.
    stream->yield(std::shared_ptr<const audio::PcmBuffer>(std::shared_ptr<void>(), input));
    stream->finish();
    try {
        session->finalizeAndFinishThroughEndOfInput();
    } catch (...) {
        child.request_stop();
        child.join();
        return AnalyzerOutcome::failure(describe(std::current_exception()));
    }
    child.join();
    if (childFailure)
        return AnalyzerOutcome::failure(describe(childFailure));
    return AnalyzerOutcome::text(trimmedText(collected));
}

}

void AnalyzerInputStream::yield(std::shared_ptr<const audio::PcmBuffer> buffer)
{
    {
        std::lock_guard guard(lock);
        pending.push_back(std::move(buffer));
    }
    changed.notify_all();
}

void AnalyzerInputStream::finish()
{
    {
        std::lock_guard guard(lock);
        finished = true;
    }
    changed.notify_all();
}

std::shared_ptr<const audio::PcmBuffer> AnalyzerInputStream::next()
{
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return finished || !pending.empty(); });
    if (pending.empty())
        return nullptr;
    auto buffer = std::move(pending.front());
    pending.pop_front();
    return buffer;
}

std::string normalizedLocaleId(const std::string& localeId)
{
    std::string normalized = localeId;
    std::replace(normalized.begin(), normalized.end(), '_', '-');
    std::transform(normalized.begin(), normalized.end(), normalized.begin(),
        [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return normalized;
}

std::optional<std::string> installedTranscriberLocale(SpeechAnalysisService& service, const std::string& localeId)
{
    auto supported = service.supportedLocale(localeId);
    if (!supported)
        return std::nullopt;
    std::string wanted = normalizedLocaleId(*supported);
    for (const auto& installed : service.installedLocales()) {
        if (normalizedLocaleId(installed) == wanted)
            return supported;
    }
    return std::nullopt;
}

AnalyzerOutcome transcribeWithSpeechTranscriber(SpeechAnalysisService& service, const audio::PcmBuffer& buffer,
    const std::string& localeId, const std::vector<std::string>& vocabulary)
{
    auto bridge = std::make_shared<Bridge>();
    std::thread task([&service, &buffer, &localeId, &vocabulary, bridge] {
        try {
            bridge->outcome = analyze(service, buffer, localeId, vocabulary);
        } catch (...) {
            bridge->outcome = AnalyzerOutcome::failure(describe(std::current_exception()));
        }
        bridge->signalled.release();
    });
    bridge->signalled.acquire();
    // Joined so that nothing of the run outlives the call.
    task.join();
    return bridge->outcome;
}

}
