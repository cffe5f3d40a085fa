#pragma once

#include "desktop/Screens.h"

#include <chrono>
#include <memory>
#include <string>

namespace tarvio {

// The X server's monitors through RandR 1.5, on the display named by DISPLAY
// (or by `display`, for tests).
// Each call opens a connection of its own, so a server that went away or came
// back is simply seen as it is now. A server that does not answer within
// `answerTimeout` counts as no display (no screens).
class RandrScreens final : public Screens {
public:
    explicit RandrScreens(std::string display = "", std::chrono::milliseconds answerTimeout = std::chrono::seconds(3))
        : display(std::move(display)), answerTimeout(answerTimeout) {}

    std::vector<ScreenGeometry> list() override;

private:
    struct Query;
    // The whole exchange with the server, without a time limit.
    static std::vector<ScreenGeometry> query(const std::string& display);

    const std::string display;
    const std::chrono::milliseconds answerTimeout;
    // The latest query; its thread may outlive a request that gave up on it.
    std::shared_ptr<Query> running;
};

}
