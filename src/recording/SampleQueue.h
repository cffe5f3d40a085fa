#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tarvio {

// A FIFO of float samples kept contiguous, so a pull reads one span. Dropped
// samples at the front are reclaimed once they outweigh the live ones.
class SampleQueue {
public:
    size_t size() const { return samples.size() - head; }
    std::span<const float> front(size_t count) const { return {samples.data() + head, count}; }

    void append(std::span<const float> block) { samples.insert(samples.end(), block.begin(), block.end()); }
    void dropFront(size_t count)
    {
        head += count;
        if (head == samples.size()) {
            samples.clear();
            head = 0;
            return;
        }
        if (head > samples.size() - head) {
            samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
        }
    }
    // Keeps only the newest `count` samples.
    void keepNewest(size_t count)
    {
        if (size() > count)
            dropFront(size() - count);
    }
    void clear()
    {
        samples.clear();
        head = 0;
    }

private:
    std::vector<float> samples;
    size_t head = 0;
};

}
