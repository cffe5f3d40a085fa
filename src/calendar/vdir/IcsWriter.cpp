#include "calendar/vdir/IcsWriter.h"

#include "calendar/ical/Forms.h"


#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace tarvio::vdir {

std::string eventText(const NewEvent& event, const std::string& uid, Instant now)
{
    return ical::serialise(ical::calendarWrapping(ical::newEventComponent(event, uid, now)).get());
}

std::string reminderText(const NewReminder& reminder, const std::string& uid, Instant now)
{
    return ical::serialise(ical::calendarWrapping(ical::newTodoComponent(reminder, uid, now)).get());
}

namespace {

struct Line {
    size_t start = 0;
    size_t end = 0; // after the line break
};

// The file's content lines, each with its continuation lines and break.
std::vector<Line> contentLines(std::string_view text)
{
    std::vector<Line> lines;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        end = end == std::string_view::npos ? text.size() : end + 1;
        bool continuation = !lines.empty() && (text[position] == ' ' || text[position] == '\t');
        if (continuation)
            lines.back().end = end;
        else
            lines.push_back({position, end});
        position = end;
    }
    return lines;
}

// The property name of a content line, upper-cased.
std::string nameOf(std::string_view line)
{
    size_t end = line.find_first_of(";:\r\n");
    std::string name(line.substr(0, end == std::string_view::npos ? line.size() : end));
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string valueOf(std::string_view line)
{
    size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    std::string value(line.substr(colon + 1));
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

std::string utcText(Instant instant)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(instant));
    std::tm fields {};
    ::gmtime_r(&seconds, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &fields);
    return text;
}

}

std::optional<std::string> completedText(const std::string& original, size_t component, Instant now)
{
    std::string_view text(original);
    std::vector<Line> lines = contentLines(text);
    auto line = [&](const Line& at) { return text.substr(at.start, at.end - at.start); };

    // The `component`-th VTODO, and its own lines (not those of its alarms).
    size_t seen = 0, begin = lines.size(), finish = lines.size();
    for (size_t i = 0; i < lines.size() && finish == lines.size(); ++i) {
        std::string name = nameOf(line(lines[i]));
        std::string value = valueOf(line(lines[i]));
        for (char& c : value)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "BEGIN" && value == "VTODO" && seen++ == component)
            begin = i;
        else if (name == "END" && value == "VTODO" && begin != lines.size())
            finish = i;
    }
    if (finish == lines.size())
        return std::nullopt;
    std::string_view opening = line(lines[begin]);
    std::string lineBreak = opening.size() >= 2 && opening[opening.size() - 2] == '\r' ? "\r\n" : "\n";

    std::string stampText = utcText(now);
    std::map<std::string, std::string> replacements {
        {"STATUS", "STATUS:COMPLETED"},
        {"COMPLETED", "COMPLETED:" + stampText},
        {"PERCENT-COMPLETE", "PERCENT-COMPLETE:100"},
        {"DTSTAMP", "DTSTAMP:" + stampText},
        {"LAST-MODIFIED", "LAST-MODIFIED:" + stampText},
    };
    std::set<std::string> written;
    std::string result;
    result.reserve(original.size() + 128);
    int depth = 0;
    bool added = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view current = line(lines[i]);
        if (i <= begin || i > finish) {
            result.append(current);
            continue;
        }
        std::string name = nameOf(current);
        // What was missing goes after the to-do's own properties, before its
        // first alarm.
        if ((i == finish || (name == "BEGIN" && depth == 0)) && !added) {
            for (const auto& [property, replacement] : replacements) {
                if (!written.count(property))
                    result.append(replacement).append(lineBreak);
            }
            added = true;
        }
        if (i == finish) {
            result.append(current);
            continue;
        }
        if (name == "BEGIN")
            ++depth;
        else if (name == "END")
            --depth;
        if (depth == 0 && name != "END") {
            if (auto found = replacements.find(name); found != replacements.end()) {
                // One of each, where the first one stood.
                if (written.insert(name).second)
                    result.append(found->second).append(lineBreak);
                continue;
            }
            if (name == "SEQUENCE") {
                long sequence = std::strtol(valueOf(current).c_str(), nullptr, 10);
                if (sequence >= 0 && sequence < INT_MAX) {
                    result.append("SEQUENCE:" + std::to_string(sequence + 1)).append(lineBreak);
                    continue;
                }
            }
        }
        result.append(current);
    }
    return result;
}

}
