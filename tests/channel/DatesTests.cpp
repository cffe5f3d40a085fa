#include "channel/Dates.h"
#include "channel/HelperError.h"

#include <gtest/gtest.h>

using namespace tarvio;

namespace {

std::optional<std::string> roundTrip(const char* text)
{
    try {
        return formatDate(parseDate(Json {{"start", text}}, "start"));
    } catch (const HelperError&) {
        return std::nullopt;
    }
}

}

TEST(Dates, AcceptedFormsAreWrittenInUtcWholeSeconds)
{
    struct Case {
        const char* text;
        const char* written;
    } cases[] = {
        {"2026-11-15T10:00:00Z", "2026-11-15T10:00:00Z"},
        {"2026-11-15T07:00:00-03:00", "2026-11-15T10:00:00Z"},
        {"2026-11-15T12:30:00+02:30", "2026-11-15T10:00:00Z"},
        {"2026-11-15T10:00:00.5Z", "2026-11-15T10:00:00Z"},
        {"2026-11-15T10:00:00.750Z", "2026-11-15T10:00:00Z"},
        {"2026-11-15T10:00:00.999999Z", "2026-11-15T10:00:00Z"},
        {"2026-11-15T23:30:00.250-03:00", "2026-11-16T02:30:00Z"},
        {"2024-02-29T00:00:00Z", "2024-02-29T00:00:00Z"},
        {"1969-12-31T23:59:59.5Z", "1969-12-31T23:59:59Z"},
        {"2026-01-01T00:30:00+01:00", "2025-12-31T23:30:00Z"},
        {"0001-01-01T00:00:00Z", "0001-01-01T00:00:00Z"},
        {"9999-12-31T23:59:59Z", "9999-12-31T23:59:59Z"},
        {"0000-01-01T00:30:00+01:00", "-001-12-31T23:30:00Z"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(roundTrip(row.text), std::optional<std::string>(row.written));
    }
}

TEST(Dates, RefusedForms)
{
    for (const char* text : {"2026-11-15", "2026-11-15T10:00:00", "2026-11-15 10:00:00Z", " 2026-11-15T10:00:00Z",
             "2026-11-15T10:00:00Z ", "2026-11-15T10:00:00.Z", "2026-11-15T10:00Z", "2026-13-15T10:00:00Z",
             "2026-02-30T10:00:00Z", "2026-11-15T24:00:00Z", "2026-11-15T10:60:00Z", "2026-11-15T10:00:00+0300",
             "26-11-15T10:00:00Z", "", "2026-11-15T10:00:00+03:00:00"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(roundTrip(text), std::nullopt);
    }
}

TEST(Dates, ErrorNamesTheParameterForEveryWrongValue)
{
    for (const char* json : {R"({"end": 5})", R"({"end": null})", R"({})", R"({"end": "2026-11-15"})",
             R"({"end": ["2026-11-15T10:00:00Z"]})"}) {
        SCOPED_TRACE(json);
        try {
            parseDate(Json::parse(json), "end");
            ADD_FAILURE() << "accepted";
        } catch (const HelperError& error) {
            EXPECT_EQ(error.code, "invalid_params");
            EXPECT_EQ(error.message, "end deve ser uma data ISO 8601 (ex: 2026-11-15T10:00:00Z)");
        }
    }
}

TEST(Dates, FormattersKeepTheirForms)
{
    EXPECT_TRUE(isoPlain.parse("2026-11-15T10:00:00Z"));
    EXPECT_FALSE(isoPlain.parse("2026-11-15T10:00:00.5Z"));
    EXPECT_TRUE(isoFrac.parse("2026-11-15T10:00:00.5Z"));
    EXPECT_FALSE(isoFrac.parse("2026-11-15T10:00:00Z"));
}
