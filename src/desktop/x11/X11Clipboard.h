#pragma once

#include "desktop/Clipboard.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tarvio {

struct ClipboardWrite;
struct OwnerAnswer;

// Owns the X11 CLIPBOARD selection for the life of the helper and hands the
// file to whoever pastes. All X traffic runs on one background thread with a
// connection of its own (made on the first write, and again after the server
// went away); a write waits a bounded time for that thread's answer, so a
// stuck or vanished X server never holds up the request loop. At exit the
// copy goes to a running clipboard manager, so it can still be pasted.
class X11Clipboard final : public Clipboard {
public:
    // `display` empty means DISPLAY; tests name private servers.
    explicit X11Clipboard(std::string display = "", std::chrono::milliseconds answerTimeout = std::chrono::seconds(3));
    ~X11Clipboard() override;

    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool writeFile(const ClipboardFile& file) override;
    bool handOver() override;

private:
    void run();
    void wake();

    const std::string display;
    const std::chrono::milliseconds answerTimeout;
    int wakeDescriptor = -1;
    std::mutex lock;
    // Guarded by lock: the latest write and hand-over the owner thread has
    // not taken yet, and whether that thread should end.
    std::shared_ptr<ClipboardWrite> incoming;
    std::shared_ptr<OwnerAnswer> incomingHandOver;
    bool stopping = false;
    // Started by the first write; only the request thread touches it.
    std::thread owner;
};

}
