#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "channel/HelperError.h"
#include "channel/JsonWriter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvio {

namespace {

constexpr size_t trimAfterBytes = 8 << 20;

Json optionalText(const std::optional<std::string>& text)
{
    return text ? Json(*text) : Json(nullptr);
}

Json optionalDate(const std::optional<Instant>& instant)
{
    return instant ? Json(formatDate(*instant)) : Json(nullptr);
}

void writeOptionalText(const std::optional<std::string>& text, std::string& out)
{
    if (!text)
        return out.append("null"), void();
    writeJsonString(*text, out);
}

void writeOptionalDate(const std::optional<Instant>& instant, std::string& out)
{
    if (!instant)
        return out.append("null"), void();
    out.push_back('"');
    out.append(formatDate(*instant));
    out.push_back('"');
}

// The text eventJSON's object is written as (members in its key order),
// without building the object: a long range lists many thousands.
void writeEvent(const Event& event, std::string& out)
{
    out.append("{\"allDay\":");
    out.append(event.allDay ? "true" : "false");
    out.append(",\"calendar\":");
    writeJsonString(event.calendar ? std::string_view(event.calendar->title) : std::string_view(), out);
    out.append(",\"end\":");
    writeOptionalDate(event.end, out);
    out.append(",\"id\":");
    writeJsonString(event.identifier, out);
    out.append(",\"location\":");
    writeOptionalText(event.location, out);
    out.append(",\"notes\":");
    writeOptionalText(event.notes, out);
    out.append(",\"start\":");
    writeOptionalDate(event.start, out);
    out.append(",\"title\":");
    writeJsonString(event.title, out);
    out.append(",\"url\":");
    writeOptionalText(event.url, out);
    out.push_back('}');
}

}

Json eventJSON(const Event& event)
{
    return {
        {"id", event.identifier},
        {"title", event.title},
        {"start", optionalDate(event.start)},
        {"end", optionalDate(event.end)},
        {"calendar", event.calendar ? event.calendar->title : std::string()},
        {"location", optionalText(event.location)},
        {"notes", optionalText(event.notes)},
        {"url", optionalText(event.url)},
        {"allDay", event.allDay},
    };
}

Json calendarEvents(CalendarStore& store, const Json& params)
{
    Instant from = parseDate(params, "from");
    Instant to = parseDate(params, "to");
    if (to <= from)
        throw invalidParams("to deve ser depois de from");
    requireFull(store, EntityKind::events);

    // Each event is written out as it comes, into one buffer; only where its
    // text lies waits for the sort.
    struct Written {
        Instant start;
        size_t offset;
        size_t length;
    };
    std::vector<Written> written;
    std::string texts;
    store.forEachEvent(from, to, [&](const Event& event) {
        size_t offset = texts.size();
        writeEvent(event, texts);
        written.push_back({event.start.value_or(Instant::max()), offset, texts.size() - offset});
    });
    std::stable_sort(written.begin(), written.end(), [](const Written& left, const Written& right) {
        return left.start < right.start;
    });
    std::vector<std::uint8_t> text;
    text.reserve(texts.size() + written.size() + 2);
    text.push_back('[');
    for (const auto& entry : written) {
        if (text.size() > 1)
            text.push_back(',');
        text.insert(text.end(), texts.begin() + static_cast<std::ptrdiff_t>(entry.offset),
            texts.begin() + static_cast<std::ptrdiff_t>(entry.offset + entry.length));
    }
    text.push_back(']');
    written = {};
    std::string().swap(texts);
    // A long range's answer leaves a large heap behind: give it back to the
    // system. Not after every answer: trimming costs more than a short
    // answer, and the next one would fault its pages in again.
    if (text.size() >= trimAfterBytes)
        ::malloc_trim(0);
    return rawJson(std::move(text));
}

}
