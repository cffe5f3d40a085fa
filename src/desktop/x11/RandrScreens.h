#pragma once

#include "desktop/Screens.h"

#include <string>

namespace tarvio {

// The X server's monitors through RandR 1.5, on the display named by DISPLAY
// (or by `display`, for tests).
// Each call opens a connection of its own, so a server that went away or came
// back is simply seen as it is now.
class RandrScreens final : public Screens {
public:
    explicit RandrScreens(std::string display = "") : display(std::move(display)) {}

    std::vector<ScreenGeometry> list() override;

private:
    std::string display;
};

}
