#include "channel/Utf8.h"

#include <gtest/gtest.h>

using namespace tarvio;

TEST(Utf8, InvalidBytesBecomeReplacementCharacters)
{
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        std::string input;
        std::string expected;
    } cases[] = {
        {"plain", "plain"},
        {"ção", "ção"},
        {"a\xFF" "b", "a" + replacement + "b"},
        {"\xC3", replacement},
        {"\xE2\x82", replacement},             // truncated sequence: one replacement
        {"\xE2\x82" "a", replacement + "a"},
        {"\xED\xA0\x80", replacement + replacement + replacement}, // surrogate
        {"\xC0\xAF", replacement + replacement},                   // overlong
        {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& row : cases) {
        std::string fixed = makeValidUtf8(row.input);
        EXPECT_EQ(fixed, row.expected);
        EXPECT_TRUE(isValidUtf8(fixed));
    }
}

TEST(Utf8, BlankLines)
{
    struct Case {
        const char* line;
        bool blank;
    } cases[] = {
        {"", true},
        {" \t  ", true},
        {"\xC2\xA0", true},           // no-break space
        {"\xE3\x80\x80 ", true},      // ideographic space
        {"\xE2\x80\x83\t", true},     // em space
        {"\r", false},
        {"\n", false},
        {"\v", false},
        {"\xE2\x80\xA8", false},      // line separator is Zl, not Zs
        {"\xE2\x80\x8B", false},      // zero-width space is Cf
        {" x ", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(isBlankLine(row.line), row.blank);
    }
}
