#include "calendar/TemporaryFolder.h"
#include "calendar/vdir/PeerCollections.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarvio;
using tarvio::testing::TemporaryFolder;
using tarvio::testing::readText;
using tarvio::testing::writeText;

namespace {

std::vector<std::string> paths(const std::vector<VdirCalendarStore::ExternalCollection>& collections)
{
    std::vector<std::string> result;
    for (const auto& collection : collections)
        result.push_back(collection.path);
    return result;
}

}

TEST(PeerCollections, ReadsKhalEntriesAndTodomanGlobs)
{
    TemporaryFolder home;
    std::string root = home.path.string();
    for (const char* folder : {"cal/home", "cal/work", "cal/work/.hidden-not-a-glob-match", "tasks/inbox", "tasks/later"})
        std::filesystem::create_directories(root + "/" + folder);
    writeText(root + "/cal/notafolder", "");

    auto khal = vdir::khalCollections("[general]\npath = /wrong\n"
                                      "[calendars]\n"
                                      "  [[Casa]]\n    path = ~/cal/home/\n    color = dark green\n"
                                      "  [[tudo]]\n    path = \"~/cal/*\"  \n    type = discover\n    readonly = True\n"
                                      "  [[aniversários]]\n    path = ~/contacts\n    type = birthdays\n"
                                      "  # [[comentado]]\n"
                                      "[locale]\n  [[Nada]]\n    path = ~/cal/home\n",
        root);
    EXPECT_EQ(paths(khal), (std::vector<std::string> {root + "/cal/home", root + "/cal/home", root + "/cal/work"}));
    ASSERT_EQ(khal.size(), 3u);
    EXPECT_EQ(khal[0].title, "Casa");
    EXPECT_FALSE(khal[0].readOnly);
    EXPECT_EQ(khal[1].title, std::nullopt);
    EXPECT_TRUE(khal[2].readOnly);
    EXPECT_EQ(khal[2].kind, EntityKind::events);

    auto todoman = vdir::todomanCollections("date_format = \"%Y-%m-%d\"\npath = '~/tasks/*'\n", root);
    EXPECT_EQ(paths(todoman), (std::vector<std::string> {root + "/tasks/inbox", root + "/tasks/later"}));
    EXPECT_EQ(todoman[0].kind, EntityKind::reminders);
}

TEST(PeerCollections, ServedBesideTheStoreOnceEachAndNeverRewritten)
{
    TemporaryFolder home;
    std::string root = home.path.string();
    std::filesystem::create_directories(root + "/cal/home");
    std::filesystem::create_directories(root + "/config/khal");
    writeText(root + "/cal/home/displayname", "Ignorado\n");
    writeText(root + "/cal/home/a.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:a\r\nDTSTAMP:20260101T000000Z\r\n"
                                        "DTSTART:20261110T150000Z\r\nDTEND:20261110T160000Z\r\nSUMMARY:Do khal\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    // The same folder twice, and the helper's own collection through khal.
    std::string config = "[calendars]\n[[Casa]]\npath = ~/cal/home\n[[de novo]]\npath = ~/cal/home/\n"
                         "[[nosso]]\npath = ~/store/calendars/calendario\n";
    writeText(root + "/config/khal/config", config);

    VdirCalendarStore store(root + "/store", true, vdir::peerCollections(root + "/config", root));
    auto calendars = store.calendars(EntityKind::events);
    ASSERT_EQ(calendars.size(), 2u);
    EXPECT_EQ(calendars[0].title, "Calendário");
    EXPECT_EQ(calendars[1].title, "Casa");
    EXPECT_EQ(calendars[1].identifier, "external:" + root + "/cal/home");
    auto events = store.events(Instant(std::chrono::seconds(1793000000)), Instant(std::chrono::seconds(1796000000)));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].title, "Do khal");
    EXPECT_EQ(events[0].calendar->title, "Casa");

    NewEvent event;
    event.calendarIdentifier = calendars[1].identifier;
    event.title = "Para o khal";
    event.start = Instant(std::chrono::seconds(1793500000));
    event.end = event.start + std::chrono::hours(1);
    store.saveEvent(event);
    EXPECT_EQ(store.events(Instant(std::chrono::seconds(1793000000)), Instant(std::chrono::seconds(1796000000))).size(), 2u);
    EXPECT_EQ(readText(root + "/config/khal/config"), config);
}
