#pragma once

#include "channel/Json.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarvio {

using Instant = std::chrono::sys_time<std::chrono::milliseconds>;

// Internet date-time (RFC 3339) in UTC. The option sets name the fields the
// form carries: 1907 is date, time and zone with separators; 3955 adds the
// fraction of a second.
class IsoDateFormatter {
public:
    static constexpr unsigned internetDateTime = 1907;
    static constexpr unsigned withFractionalSeconds = 3955;

    constexpr explicit IsoDateFormatter(unsigned options) : options(options) {}

    std::optional<Instant> parse(std::string_view text) const;
    // Always UTC, whole seconds (the fraction is cut), trailing Z.
    std::string format(Instant instant) const;

private:
    unsigned options;
};

// Process-wide, created before anything else and never replaced.
extern const IsoDateFormatter isoPlain;
extern const IsoDateFormatter isoFrac;

// A required date member: absent, null, not a string or in neither form
// throws "invalid_params" naming the member.
Instant parseDate(const Json* value, std::string_view name);
Instant parseDate(const Json& params, std::string_view name);

// Every date in a result is written this way.
inline std::string formatDate(Instant instant) { return isoPlain.format(instant); }

}
