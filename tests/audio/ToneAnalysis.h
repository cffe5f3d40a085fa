#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace tarvio::testing {

constexpr double pi = 3.14159265358979323846;

// amplitude × sin(2π f (n + start) / rate) for n in [0, count).
inline std::vector<float> sineTone(double frequency, double rate, size_t count, double amplitude, size_t start = 0)
{
    std::vector<float> samples(count);
    for (size_t index = 0; index < count; ++index)
        samples[index] = float(amplitude * std::sin(2 * pi * frequency * double(index + start) / rate));
    return samples;
}

// Power of the difference between `samples` and the ideal tone over
// [from, to), relative to the tone's power, in dB (lower is better).
inline double errorDb(std::span<const float> samples, double frequency, double rate, double amplitude, size_t from,
    size_t to)
{
    double error = 0;
    for (size_t index = from; index < to; ++index) {
        double ideal = amplitude * std::sin(2 * pi * frequency * double(index) / rate);
        double difference = double(samples[index]) - ideal;
        error += difference * difference;
    }
    double signal = amplitude * amplitude / 2 * double(to - from);
    return 10 * std::log10(error / signal);
}

// Power of `samples` over [from, to) relative to a full tone of `amplitude`, in dB.
inline double powerDb(std::span<const float> samples, double amplitude, size_t from, size_t to)
{
    double power = 0;
    for (size_t index = from; index < to; ++index)
        power += double(samples[index]) * double(samples[index]);
    double reference = amplitude * amplitude / 2 * double(to - from);
    return 10 * std::log10(power / reference);
}

}
