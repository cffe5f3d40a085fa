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

// One request handed from the request thread to the selection owner's
// thread, answered exactly once unless the asker stopped waiting first.
struct OwnerAnswer {
    // Owner thread: reports the outcome. False when the asker has given up,
    // in which case a write must not stay in effect.
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

private:
    std::mutex lock;
    bool abandoned = false;
    std::optional<bool> outcome;
    std::binary_semaphore answered{0};
};

// A write: the texts to offer, and whether the selection was taken.
struct ClipboardWrite : OwnerAnswer {
    explicit ClipboardWrite(SelectionContent content) : content(std::move(content)) {}

    const SelectionContent content;
};

}
