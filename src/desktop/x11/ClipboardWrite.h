#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <utility>

namespace tarvio {

// The texts the selection owner offers to applications that paste.
struct SelectionContent {
    std::string uriList;
    std::string gnomeCopiedFiles;
    std::string path;
};

// One write handed from the request thread to the selection owner's thread,
// answered exactly once unless the writer stopped waiting first.
struct ClipboardWrite {
    explicit ClipboardWrite(SelectionContent content) : content(std::move(content)) {}

    // Owner thread: reports the outcome. False when the writer has given up,
    // in which case the write must not stay in effect.
    bool deliver(bool owned)
    {
        {
            std::lock_guard guard(lock);
            if (abandoned)
                return false;
            outcome = owned;
        }
        answered.release();
        return true;
    }

    // Request thread: the outcome, or false when none came within `timeout`.
    bool await(std::chrono::milliseconds timeout)
    {
        answered.try_acquire_for(timeout);
        std::lock_guard guard(lock);
        abandoned = true;
        return outcome.value_or(false);
    }

    const SelectionContent content;

private:
    std::mutex lock;
    bool abandoned = false;
    std::optional<bool> outcome;
    std::binary_semaphore answered{0};
};

}
