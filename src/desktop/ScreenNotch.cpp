#include "desktop/ScreenNotch.h"

#include <cmath>

namespace tarvio {

namespace {

// A rectangle's width as a size: never negative.
double widthOf(const Rectangle& rectangle)
{
    return std::fabs(rectangle.width);
}

}

Json screenJSON(const ScreenGeometry& screen)
{
    Json object = Json::object();
    object["displayId"] = screen.displayNumber.value_or(0);
    object["frame"] = rect(screen.frame);
    object["safeAreaTop"] = screen.safeAreaTop;
    object["auxiliaryTopLeftArea"] = nullptr;
    object["auxiliaryTopRightArea"] = nullptr;
    object["notchWidth"] = 0;
    // A housing is reported only when both areas beside it are known.
    if (!screen.auxiliaryTopLeftArea || !screen.auxiliaryTopRightArea)
        return object;

    const Rectangle& left = *screen.auxiliaryTopLeftArea;
    const Rectangle& right = *screen.auxiliaryTopRightArea;
    object["auxiliaryTopLeftArea"] = rect(left);
    object["auxiliaryTopRightArea"] = rect(right);
    double width = widthOf(screen.frame) - widthOf(left) - widthOf(right);
    // NaN and infinity give 0 as well: neither can be written as JSON.
    if (std::isfinite(width) && width >= 0)
        object["notchWidth"] = width;
    return object;
}

Json screenNotch(Screens& screens)
{
    Json result = Json::array();
    for (const ScreenGeometry& screen : screens.list())
        result.push_back(screenJSON(screen));
    return result;
}

}
