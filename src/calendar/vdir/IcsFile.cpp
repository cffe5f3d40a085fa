#include "calendar/vdir/IcsFile.h"

#include "calendar/ical/Forms.h"
#include "calendar/vdir/IcsText.h"
#include "channel/Utf8.h"

namespace tarvio::vdir {

ParsedFile parseIcs(const std::string& raw)
{
    ParsedFile parsed;
    ProtectedText texts = protectTexts(makeValidUtf8(raw));
    ical::Component root(icalparser_parse_string(texts.text.c_str()));
    if (!root)
        return parsed;
    ical::ZoneResolver zones(root.get());
    ical::Items items = ical::readItems(root.get(), zones, [&texts](const char* value) { return protectedValue(texts, value); });
    parsed.events = std::move(items.events);
    parsed.todos = std::move(items.todos);
    if (zones.usedCalendarZone())
        parsed.zones = std::shared_ptr<icalcomponent>(root.release(), ical::ComponentDeleter {});
    return parsed;
}

}
