#pragma once

#include "channel/Params.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvio {

// One screen as the display server describes it, in points, in the server's
// global coordinates.
struct ScreenGeometry {
    // The server's number for the screen, when it has one.
    std::optional<uint32_t> displayNumber;
    Rectangle frame;
    // Height of the band a camera housing takes at the top edge.
    double safeAreaTop = 0;
    // The unobscured areas beside the housing, when the screen has one.
    std::optional<Rectangle> auxiliaryTopLeftArea;
    std::optional<Rectangle> auxiliaryTopRightArea;
};

// The display server's list of screens. The X11 implementation asks RandR;
// tests use doubles.
class Screens {
public:
    virtual ~Screens() = default;

    // Every attached screen in the server's order; empty when no display is
    // reachable. Read afresh on every call.
    virtual std::vector<ScreenGeometry> list() = 0;
};

}
