#include "app/CalendarChoice.h"

#include "app/Module.h"
#include "calendar/CombinedCalendarStore.h"
#include "calendar/vdir/PeerCollections.h"
#include "calendar/vdir/VdirCalendarStore.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace tarvio {

namespace {

// EDS's registry starts in about a second when nothing has started it yet
// (several on a busy machine); on a desktop it is running already.
constexpr auto registryWait = std::chrono::seconds(5);

std::string homeFolder()
{
    if (const char* value = std::getenv("HOME"); value && value[0])
        return value;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return "/";
}

// The EDS store, from its module; none when EDS does not answer or the
// module cannot be loaded.
std::unique_ptr<CalendarStore> connectEds()
{
    using Connect = CalendarStore* (*)(long waitMilliseconds);
    std::string error;
    auto connect = reinterpret_cast<Connect>(moduleSymbol("calendar-eds", "tarvioConnectCalendarStore", error));
    if (!connect)
        return nullptr;
    return std::unique_ptr<CalendarStore>(connect(std::chrono::milliseconds(registryWait).count()));
}

std::string configHome()
{
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && value[0] == '/')
        return value;
    return homeFolder() + "/.config";
}

}

std::unique_ptr<CalendarStore> chooseCalendarStore()
{
    auto peers = vdir::peerCollections(configHome(), homeFolder());
    std::vector<CombinedCalendarStore::Member> members;
    auto eds = connectEds();
    bool withEds = eds != nullptr;
    if (withEds)
        members.push_back({"eds", std::move(eds)});
    members.push_back({"vdir", std::make_unique<VdirCalendarStore>(VdirCalendarStore::userRoot(), !withEds, std::move(peers))});
    return std::make_unique<CombinedCalendarStore>(std::move(members));
}

}
