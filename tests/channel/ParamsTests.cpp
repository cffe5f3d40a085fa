#include "channel/Params.h"

#include <gtest/gtest.h>

using namespace tarvio;

namespace {

struct KindCase {
    const char* json;
    std::optional<std::string> string;
    std::optional<double> number;
    std::optional<int64_t> integer;
    std::optional<bool> boolean;
};

// One row per JSON value: what each kind reads from it.
const KindCase kindCases[] = {
    {R"("12")", "12", {}, {}, {}},
    {R"("")", "", {}, {}, {}},
    {R"(" a ")", " a ", {}, {}, {}},
    {R"("true")", "true", {}, {}, {}},
    {"12", {}, 12.0, 12, {}},
    {"16000", {}, 16000.0, 16000, {}},
    {"16000.0", {}, 16000.0, 16000, {}},
    {"5e2", {}, 500.0, 500, {}},
    {"-3", {}, -3.0, -3, {}},
    {"10.5", {}, 10.5, {}, {}},
    {"2.5", {}, 2.5, {}, {}},
    {"1", {}, 1.0, 1, true},
    {"0", {}, 0.0, 0, false},
    {"1.0", {}, 1.0, 1, true},
    {"0.0", {}, 0.0, 0, false},
    {"2", {}, 2.0, 2, {}},
    {"-1", {}, -1.0, -1, {}},
    {"0.5", {}, 0.5, {}, {}},
    {"true", {}, 1.0, 1, true},
    {"false", {}, 0.0, 0, false},
    {"null", {}, {}, {}, {}},
    {"[1]", {}, {}, {}, {}},
    {"{}", {}, {}, {}, {}},
    // Beyond what a double holds exactly: not a number, still an integer.
    {"9007199254740993", {}, {}, 9007199254740993, {}},
    {"9007199254740992", {}, 9007199254740992.0, 9007199254740992, {}},
    {"9223372036854775807", {}, {}, INT64_MAX, {}},
    {"-9223372036854775808", {}, -9223372036854775808.0, INT64_MIN, {}},
    // Beyond 64 bits: no integer.
    {"18446744073709551615", {}, {}, {}, {}},
    {"1e19", {}, 1e19, {}, {}},
};

}

TEST(Params, KindsTable)
{
    for (const auto& row : kindCases) {
        SCOPED_TRACE(row.json);
        Json params = Json::object();
        params["x"] = Json::parse(row.json);
        EXPECT_EQ(stringParam(params, "x"), row.string);
        EXPECT_EQ(numberParam(params, "x"), row.number);
        EXPECT_EQ(integerParam(params, "x"), row.integer);
        EXPECT_EQ(booleanParam(params, "x"), row.boolean);
        EXPECT_FALSE(stringListParam(params, "x").has_value());
    }
}

TEST(Params, AbsentMemberIsAbsentForEveryKind)
{
    Json params = {{"other", 1}};
    EXPECT_FALSE(stringParam(params, "x"));
    EXPECT_FALSE(numberParam(params, "x"));
    EXPECT_FALSE(integerParam(params, "x"));
    EXPECT_FALSE(booleanParam(params, "x"));
    EXPECT_FALSE(stringListParam(params, "x"));
    EXPECT_FALSE(numericOrBooleanParam(params, "x"));
    EXPECT_FALSE(listParam(params, "x"));
    EXPECT_FALSE(isNullMember(params, "x"));
}

TEST(Params, StringLists)
{
    using List = std::vector<std::string>;
    struct Case {
        const char* json;
        std::optional<List> expected;
    } cases[] = {
        {R"(["a", "", "c"])", List {"a", "", "c"}},
        {"[]", List {}},
        {R"([" a", " a"])", List {" a", " a"}},
        {R"(["a", 1])", {}},
        {R"(["a", null])", {}},
        {R"(["a", ["b"]])", {}},
        {R"("a")", {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.json);
        Json params = {{"x", Json::parse(row.json)}};
        EXPECT_EQ(stringListParam(params, "x"), row.expected);
    }
}

TEST(Params, NumericOrBooleanListAndNull)
{
    Json params = Json::parse(R"({"big": 9007199254740993, "t": true, "s": "1", "list": [1, "a"], "n": null})");
    EXPECT_EQ(numericOrBooleanParam(params, "big"), 9007199254740992.0);
    EXPECT_EQ(numericOrBooleanParam(params, "t"), 1.0);
    EXPECT_FALSE(numericOrBooleanParam(params, "s"));
    ASSERT_TRUE(listParam(params, "list"));
    EXPECT_EQ(listParam(params, "list")->size(), 2u);
    EXPECT_FALSE(listParam(params, "s"));
    EXPECT_TRUE(isNullMember(params, "n"));
    EXPECT_FALSE(isNullMember(params, "t"));
}

TEST(Params, RectCopiesValuesUnchanged)
{
    EXPECT_EQ(rect({0, 0, 1512, 982}), Json::parse(R"({"x":0,"y":0,"width":1512,"height":982})"));
    EXPECT_EQ(rect({-10.5, 3, -4, 0}), Json::parse(R"({"x":-10.5,"y":3,"width":-4,"height":0})"));
}
