#include "calendar/LocalTime.h"
#include "calendar/Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace tarvio;

TEST(CalendarText, TrimsEachSetOfWhiteSpace)
{
    struct Case {
        std::string text;
        std::string withNewlines;
        std::string spacesOnly;
    };
    for (const auto& [text, withNewlines, spacesOnly] : std::vector<Case> {
             {"  a b\t", "a b", "a b"},
             {"\n a \r\n", "a", "\n a \r\n"},
             {"\u00a0\u3000x\u2028\u0085", "x", "x\u2028\u0085"},
             {" \t ", "", ""},
             {"\n", "", "\n"},
             {"", "", ""},
         }) {
        EXPECT_EQ(trimWhitespacesAndNewlines(text), withNewlines) << text;
        EXPECT_EQ(trimWhitespaces(text), spacesOnly) << text;
    }
}

TEST(CalendarText, CountsUserPerceivedCharacters)
{
    EXPECT_EQ(characterCount("abc"), 3u);
    EXPECT_EQ(characterCount("e\u0301"), 1u);
    EXPECT_EQ(characterCount("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1u);
    EXPECT_EQ(characterCount("\r\n"), 1u);
    EXPECT_EQ(characterCount(""), 0u);
}

TEST(CalendarText, CanonicallyEquivalentTextsAreEqual)
{
    EXPECT_TRUE(canonicallyEqual("Caf\u00e9", "Cafe\u0301"));
    EXPECT_FALSE(canonicallyEqual("Café", "café"));
    EXPECT_FALSE(canonicallyEqual("Café", "Café "));
}

TEST(LocalTime, DaysAndComponentsFollowTheMachineZone)
{
    ::setenv("TZ", "America/Sao_Paulo", 1);
    ::tzset();
    auto instant = *isoPlain.parse("2026-11-15T02:30:00Z");
    EXPECT_EQ(formatDate(startOfDay(instant)), "2026-11-14T03:00:00Z");
    auto components = localComponents(instant);
    EXPECT_EQ(components.day, 14);
    EXPECT_EQ(components.hour, 23);
    EXPECT_EQ(instantFromComponents(components), instant);
    components.utcOffsetSeconds = 0;
    EXPECT_EQ(formatDate(*instantFromComponents(components)), "2026-11-14T23:30:00Z");
    EXPECT_FALSE(instantFromComponents({2026, 13, 1, 0, 0, 0, std::nullopt}));

    // 2018-11-04 had no local midnight in São Paulo: the day starts at 01:00.
    EXPECT_EQ(formatDate(startOfDay(*isoPlain.parse("2018-11-04T12:00:00Z"))), "2018-11-04T03:00:00Z");
}
