#include "calendar/CombinedCalendarStore.h"
#include "calendar/FakeCalendarStore.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::FakeCalendarStore;

namespace {

struct TwoStores {
    TwoStores()
    {
        auto first = std::make_unique<FakeCalendarStore>();
        auto second = std::make_unique<FakeCalendarStore>();
        eds = first.get();
        vdir = second.get();
        eds->lists[EntityKind::events] = {{"eds:a", "Pessoal", true, std::nullopt, ""}};
        eds->lists[EntityKind::reminders] = {{"eds:t", "Tarefas", true, std::nullopt, ""}};
        eds->storedReminders = {{"eds:t/1", "daqui", {}, {}, {}, false}};
        vdir->lists[EntityKind::events] = {{"calendars/b", "Caderno", true, std::nullopt, ""}};
        vdir->lists[EntityKind::reminders] = {{"reminders/c", "Lista", true, std::nullopt, ""}};
        vdir->defaults[EntityKind::reminders] = "reminders/c";
        vdir->storedReminders = {{"reminders/c/2", "dali", {}, {}, {}, false}};
        std::vector<CombinedCalendarStore::Member> members;
        members.push_back({"eds", std::move(first)});
        members.push_back({"vdir", std::move(second)});
        combined = std::make_unique<CombinedCalendarStore>(std::move(members));
    }
    FakeCalendarStore* eds;
    FakeCalendarStore* vdir;
    std::unique_ptr<CombinedCalendarStore> combined;
};

}

TEST(CombinedStore, ListsEveryMemberAndNamesWhichServes)
{
    TwoStores stores;
    auto calendars = stores.combined->calendars(EntityKind::events);
    ASSERT_EQ(calendars.size(), 2u);
    EXPECT_EQ(calendars[0].title, "Pessoal");
    EXPECT_EQ(calendars[0].store, "eds");
    EXPECT_EQ(calendars[1].store, "vdir");
    // The first member has no default list: the next one's serves.
    auto list = stores.combined->defaultCalendar(EntityKind::reminders);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->identifier, "reminders/c");
    EXPECT_EQ(list->store, "vdir");

    std::vector<Reminder> delivered;
    stores.combined->fetchReminders(ReminderQuery::all, [&](std::vector<Reminder> reminders) { delivered = std::move(reminders); });
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].title, "dali");
}

TEST(CombinedStore, SavesAndCompletionsGoToTheMemberThatHoldsTheItem)
{
    TwoStores stores;
    NewEvent event;
    event.calendarIdentifier = "calendars/b";
    event.title = "aqui";
    stores.combined->saveEvent(event);
    EXPECT_EQ(stores.vdir->savedEvents.size(), 1u);
    EXPECT_TRUE(stores.eds->savedEvents.empty());

    NewReminder reminder;
    reminder.calendarIdentifier = "eds:t";
    stores.combined->saveReminder(reminder);
    EXPECT_EQ(stores.eds->savedReminders.size(), 1u);

    auto found = stores.combined->reminder("reminders/c/2");
    ASSERT_TRUE(found);
    stores.combined->completeReminder(*found);
    ASSERT_EQ(stores.vdir->completed.size(), 1u);
    EXPECT_TRUE(stores.eds->completed.empty());

    event.calendarIdentifier = "elsewhere";
    EXPECT_THROW(stores.combined->saveEvent(event), StoreError);
    EXPECT_THROW(stores.combined->completeReminder({"nowhere/1", "", {}, {}, {}, false}), StoreError);
}
