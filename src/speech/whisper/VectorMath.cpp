#include "speech/whisper/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <immintrin.h>

// glibc's vector math library: expf and tanhf on eight floats with AVX2.
extern "C" __m256 _ZGVdN8v_expf(__m256);
extern "C" __m256 _ZGVdN8v_tanhf(__m256);

namespace tarvio::whisper {

namespace {

constexpr float geluRoot = 0.7978845608028654f;
constexpr float geluCube = 0.044715f;

bool vectorUnits()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return supported;
}

__attribute__((target("avx2,fma"))) float sum(__m256 v)
{
    __m128 half = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    half = _mm_add_ps(half, _mm_movehl_ps(half, half));
    half = _mm_add_ss(half, _mm_movehdup_ps(half));
    return _mm_cvtss_f32(half);
}

__attribute__((target("avx2,fma"))) float maximum(const float* values, size_t count)
{
    __m256 highest = _mm256_set1_ps(values[0]);
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        highest = _mm256_max_ps(highest, _mm256_loadu_ps(values + i));
    __m128 half = _mm_max_ps(_mm256_castps256_ps128(highest), _mm256_extractf128_ps(highest, 1));
    half = _mm_max_ps(half, _mm_movehl_ps(half, half));
    half = _mm_max_ss(half, _mm_movehdup_ps(half));
    float result = _mm_cvtss_f32(half);
    for (; i < count; ++i)
        result = std::max(result, values[i]);
    return result;
}

__attribute__((target("avx2,fma"))) void softmaxVector(float* values, size_t count)
{
    const float highest = maximum(values, count);
    const __m256 shift = _mm256_set1_ps(highest);
    __m256 totals = _mm256_setzero_ps();
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256 e = _ZGVdN8v_expf(_mm256_sub_ps(_mm256_loadu_ps(values + i), shift));
        _mm256_storeu_ps(values + i, e);
        totals = _mm256_add_ps(totals, e);
    }
    float total = sum(totals);
    for (; i < count; ++i) {
        values[i] = std::exp(values[i] - highest);
        total += values[i];
    }
    const __m256 inverse = _mm256_set1_ps(1.0f / total);
    for (i = 0; i + 8 <= count; i += 8)
        _mm256_storeu_ps(values + i, _mm256_mul_ps(_mm256_loadu_ps(values + i), inverse));
    for (; i < count; ++i)
        values[i] *= 1.0f / total;
}

__attribute__((target("avx2,fma"))) void geluVector(float* values, size_t count)
{
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 root = _mm256_set1_ps(geluRoot);
    const __m256 cube = _mm256_set1_ps(geluCube);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256 v = _mm256_loadu_ps(values + i);
        __m256 inner = _mm256_mul_ps(root, _mm256_fmadd_ps(_mm256_mul_ps(cube, v), _mm256_mul_ps(v, v), v));
        __m256 t = _ZGVdN8v_tanhf(inner);
        _mm256_storeu_ps(values + i, _mm256_mul_ps(_mm256_mul_ps(half, v), _mm256_add_ps(one, t)));
    }
    for (; i < count; ++i) {
        float v = values[i];
        values[i] = 0.5f * v * (1.0f + std::tanh(geluRoot * (v + geluCube * v * v * v)));
    }
}

}

void softmax(float* values, size_t count)
{
    if (count == 0)
        return;
    if (vectorUnits()) {
        softmaxVector(values, count);
        return;
    }
    const float maximum = *std::max_element(values, values + count);
    float total = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        values[i] = std::exp(values[i] - maximum);
        total += values[i];
    }
    const float inverse = 1.0f / total;
    for (size_t i = 0; i < count; ++i)
        values[i] *= inverse;
}

void gelu(float* values, size_t count)
{
    if (vectorUnits()) {
        geluVector(values, count);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        float v = values[i];
        values[i] = 0.5f * v * (1.0f + std::tanh(geluRoot * (v + geluCube * v * v * v)));
    }
}

}
