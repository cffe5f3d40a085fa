#pragma once

#include "calendar/vdir/VdirCalendarStore.h"

#include <string>
#include <vector>

namespace tarvio::vdir {

// The collections that the user's khal configuration (its [calendars]
// entries: a `path`, or a glob with `type = discover`) and todoman
// configuration (its `path` glob) name. Read only; never written.
// `configHome` is $XDG_CONFIG_HOME or ~/.config, `home` the user's home.
std::vector<VdirCalendarStore::ExternalCollection> peerCollections(const std::string& configHome, const std::string& home);

// What the texts of those files name, for tests.
std::vector<VdirCalendarStore::ExternalCollection> khalCollections(const std::string& text, const std::string& home);
std::vector<VdirCalendarStore::ExternalCollection> todomanCollections(const std::string& text, const std::string& home);

}
