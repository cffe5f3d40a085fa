#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

namespace tarvio::testing {

// A private Xvfb for one test, a child of the test process; stopped (and
// waited for) by the destructor. -noreset keeps monitors set with xrandr
// when clients leave.
class XServer {
public:
    // Any free display when `display` is none; `arguments` go to Xvfb.
    explicit XServer(int width = 1512, int height = 982, std::optional<int> display = std::nullopt,
        const std::vector<std::string>& arguments = {});
    ~XServer();

    // On a display number well above those -displayfd hands out (the lowest
    // free), for tests that stop the server and must not find another one
    // under its number, or that start it again.
    static std::unique_ptr<XServer> aboveTheCommonNumbers(int width = 1512, int height = 982);

    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return child > 0; }
    int number() const { return displayNumber; }
    pid_t pid() const { return child; }
    // ":N", for DISPLAY.
    std::string name() const { return ":" + std::to_string(displayNumber); }
    void stop();

private:
    pid_t child = -1;
    int displayNumber = -1;
};

// Cinnamon's clipboard daemon, a real clipboard manager (ICCCM
// CLIPBOARD_MANAGER, SAVE_TARGETS), on a session bus of its own; stopped with
// its bus by the destructor.
class ClipboardManager {
public:
    explicit ClipboardManager(const std::string& display);
    ~ClipboardManager();

    ClipboardManager(const ClipboardManager&) = delete;
    ClipboardManager& operator=(const ClipboardManager&) = delete;

    // Whether it owns CLIPBOARD_MANAGER.
    bool ready = false;

private:
    pid_t group = -1;
};

struct CommandResult {
    int status = -1;
    std::string output;
};

// Runs a shell command with DISPLAY set to `display` and collects its output.
CommandResult runCommand(const std::string& display, const std::string& command);

// Quotes `text` for the shell.
std::string shellQuoted(const std::string& text);

}
