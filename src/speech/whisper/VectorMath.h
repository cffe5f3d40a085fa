#pragma once

#include <cstddef>

namespace tarvio::whisper {

// values = softmax(values), in place.
void softmax(float* values, size_t count);

// The tanh form of GELU, in place.
void gelu(float* values, size_t count);

}
