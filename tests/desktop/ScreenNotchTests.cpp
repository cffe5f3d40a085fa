#include "desktop/ScreenNotch.h"

#include "desktop/Doubles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarvio;
using tarvio::testing::FixedScreens;

namespace {

struct NotchCase {
    const char* what;
    ScreenGeometry screen;
    const char* expected;
};

const Rectangle builtIn{0, 0, 1512, 982};
const Rectangle left{0, 950, 655, 32};
const Rectangle right{857, 950, 657, 32};

}

TEST(ScreenNotch, ScreenObjectFollowsTheNullAndWidthRules)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const NotchCase cases[] = {
        {"external display", {7, {1512, -200, 1920, 1080}, 0, {}, {}},
            R"({"displayId":7,"frame":{"x":1512,"y":-200,"width":1920,"height":1080},"safeAreaTop":0,
                "auxiliaryTopLeftArea":null,"auxiliaryTopRightArea":null,"notchWidth":0})"},
        {"built-in with housing", {1, builtIn, 32, left, right},
            R"({"displayId":1,"frame":{"x":0,"y":0,"width":1512,"height":982},"safeAreaTop":32,
                "auxiliaryTopLeftArea":{"x":0,"y":950,"width":655,"height":32},
                "auxiliaryTopRightArea":{"x":857,"y":950,"width":657,"height":32},"notchWidth":200})"},
        {"only the left area", {1, builtIn, 32, left, {}},
            R"({"displayId":1,"frame":{"x":0,"y":0,"width":1512,"height":982},"safeAreaTop":32,
                "auxiliaryTopLeftArea":null,"auxiliaryTopRightArea":null,"notchWidth":0})"},
        {"only the right area", {1, builtIn, 32, {}, right},
            R"({"displayId":1,"frame":{"x":0,"y":0,"width":1512,"height":982},"safeAreaTop":32,
                "auxiliaryTopLeftArea":null,"auxiliaryTopRightArea":null,"notchWidth":0})"},
        {"areas wider than the frame", {2, {0, 0, 1000, 800}, 30, Rectangle{0, 770, 600, 30}, Rectangle{400, 770, 500, 30}},
            R"({"displayId":2,"frame":{"x":0,"y":0,"width":1000,"height":800},"safeAreaTop":30,
                "auxiliaryTopLeftArea":{"x":0,"y":770,"width":600,"height":30},
                "auxiliaryTopRightArea":{"x":400,"y":770,"width":500,"height":30},"notchWidth":0})"},
        {"areas filling the frame exactly", {3, {0, 0, 1000, 800}, 30, Rectangle{0, 0, 500, 30}, Rectangle{500, 0, 500, 30}},
            R"({"displayId":3,"frame":{"x":0,"y":0,"width":1000,"height":800},"safeAreaTop":30,
                "auxiliaryTopLeftArea":{"x":0,"y":0,"width":500,"height":30},
                "auxiliaryTopRightArea":{"x":500,"y":0,"width":500,"height":30},"notchWidth":0})"},
        {"no display number", {{}, {0, 0, 800, 600}, 0, {}, {}},
            R"({"displayId":0,"frame":{"x":0,"y":0,"width":800,"height":600},"safeAreaTop":0,
                "auxiliaryTopLeftArea":null,"auxiliaryTopRightArea":null,"notchWidth":0})"},
        {"largest display number", {4294967295u, {0, 0, 800, 600}, 0, {}, {}},
            R"({"displayId":4294967295,"frame":{"x":0,"y":0,"width":800,"height":600},"safeAreaTop":0,
                "auxiliaryTopLeftArea":null,"auxiliaryTopRightArea":null,"notchWidth":0})"},
        // A negative width is copied as it stands but counts as a size.
        {"negative area width", {5, builtIn, 32, Rectangle{655, 950, -655, 32}, right},
            R"({"displayId":5,"frame":{"x":0,"y":0,"width":1512,"height":982},"safeAreaTop":32,
                "auxiliaryTopLeftArea":{"x":655,"y":950,"width":-655,"height":32},
                "auxiliaryTopRightArea":{"x":857,"y":950,"width":657,"height":32},"notchWidth":200})"},
    };
    for (const NotchCase& test : cases)
        EXPECT_EQ(screenJSON(test.screen), Json::parse(test.expected)) << test.what;

    ScreenGeometry broken{1, {0, 0, nan, 982}, 32, left, right};
    EXPECT_EQ(screenJSON(broken)["notchWidth"], 0);
}

TEST(ScreenNotch, AnswersAnArrayInTheServersOrder)
{
    FixedScreens screens;
    EXPECT_EQ(screenNotch(screens), Json::array());

    screens.screens = {{9, {1512, 0, 1920, 1080}, 0, {}, {}}, {4, builtIn, 32, left, right}};
    Json result = screenNotch(screens);
    ASSERT_TRUE(result.is_array());
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0]["displayId"], 9);
    EXPECT_EQ(result[1]["displayId"], 4);
    EXPECT_EQ(result[1]["notchWidth"], 200);
}
