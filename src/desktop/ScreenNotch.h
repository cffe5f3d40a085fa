#pragma once

#include "channel/Json.h"
#include "desktop/Screens.h"

namespace tarvio {

// {"displayId", "frame", "safeAreaTop", "auxiliaryTopLeftArea",
// "auxiliaryTopRightArea", "notchWidth"} for one screen.
Json screenJSON(const ScreenGeometry& screen);

// "screen.notch": an array with one screen object per screen.
Json screenNotch(Screens& screens);

}
