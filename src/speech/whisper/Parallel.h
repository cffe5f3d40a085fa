#pragma once

#include <cstddef>
#include <thread>

namespace tarvio::whisper {

// Runs body(first, end) over [0, count) in two parts, one on a helper
// thread, when `work` (in rough multiply-adds) pays for starting it.
template<typename Body>
void splitInTwo(int count, size_t work, size_t worthwhile, Body body)
{
    if (count < 2 || work < worthwhile) {
        body(0, count);
        return;
    }
    int half = count / 2;
    std::jthread helper([&] { body(half, count); });
    body(0, half);
}

}
