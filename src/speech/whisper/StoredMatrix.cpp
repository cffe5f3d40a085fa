#include "speech/whisper/StoredMatrix.h"

#include "speech/whisper/Parallel.h"

#include <algorithm>
#include <cblas.h>
#include <cstring>
#include <immintrin.h>
#include <type_traits>

namespace tarvio::whisper {

namespace {

// From this many input rows on, widening a band of weights and handing it
// to sgemm beats a dot product per weight row.
constexpr int batchRows = 24;
// Floats of the band a thread widens at a time.
constexpr size_t bandFloats = size_t{1} << 20;
// Products below this many multiply-adds stay on one thread.
constexpr size_t splitWork = size_t{1} << 19;

bool vectorUnits()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c");
    }();
    return supported;
}

bool quantized(TensorKind kind) { return kind != TensorKind::f32 && kind != TensorKind::f16; }

__attribute__((target("avx2,fma"))) float sum(__m256 v)
{
    __m128 half = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    half = _mm_add_ps(half, _mm_movehl_ps(half, half));
    half = _mm_add_ss(half, _mm_movehdup_ps(half));
    return _mm_cvtss_f32(half);
}

__attribute__((target("avx2,fma,f16c"))) __m256 load8(const float* values) { return _mm256_loadu_ps(values); }

__attribute__((target("avx2,fma,f16c"))) __m256 load8(const uint8_t* halves)
{
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves)));
}

// y[r * yStride] (+)= dot(weight row, x row r) for the n rows of x; the
// weight row holds `columns` floats or halves. Four rows of x share each
// load of weights.
template<typename Element>
__attribute__((target("avx2,fma,f16c"))) void rowTimesVectors(const Element* weights, int columns, const float* x,
    int n, float* y, int yStride, bool accumulate)
{
    constexpr int step = std::is_same_v<Element, float> ? 8 : 16;
    const int vectorEnd = columns / 8 * 8;
    for (int r = 0; r < n; r += 4) {
        const int group = std::min(4, n - r);
        __m256 totals[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
        const float* rows = x + static_cast<size_t>(r) * columns;
        if (group == 1) {
            // One input: two chains of sums hide the latency of the adds.
            int i = 0;
            for (; i + 16 <= vectorEnd; i += 16) {
                totals[0] = _mm256_fmadd_ps(load8(weights + i * step / 8), load8(rows + i), totals[0]);
                totals[1] = _mm256_fmadd_ps(load8(weights + (i + 8) * step / 8), load8(rows + i + 8), totals[1]);
            }
            for (; i < vectorEnd; i += 8)
                totals[0] = _mm256_fmadd_ps(load8(weights + i * step / 8), load8(rows + i), totals[0]);
            totals[0] = _mm256_add_ps(totals[0], totals[1]);
        } else {
            for (int i = 0; i < vectorEnd; i += 8) {
                __m256 w = load8(weights + i * step / 8);
                for (int k = 0; k < group; ++k)
                    totals[k] = _mm256_fmadd_ps(w, load8(rows + static_cast<size_t>(k) * columns + i), totals[k]);
            }
        }
        for (int k = 0; k < group; ++k) {
            float total = sum(totals[k]);
            for (int i = vectorEnd; i < columns; ++i) {
                float weight;
                if constexpr (std::is_same_v<Element, float>) {
                    weight = weights[i];
                } else {
                    uint16_t half;
                    std::memcpy(&half, weights + 2 * i, 2);
                    weight = halfToFloat(half);
                }
                total += weight * rows[static_cast<size_t>(k) * columns + i];
            }
            float& target = y[static_cast<size_t>(r + k) * yStride];
            target = accumulate ? target + total : total;
        }
    }
}

void rowTimesVectorsPlain(const float* weights, int columns, const float* x, int n, float* y, int yStride, bool accumulate)
{
    for (int r = 0; r < n; ++r) {
        const float* row = x + static_cast<size_t>(r) * columns;
        float total = 0.0f;
        for (int i = 0; i < columns; ++i)
            total += weights[i] * row[i];
        float& target = y[static_cast<size_t>(r) * yStride];
        target = accumulate ? target + total : total;
    }
}

__attribute__((target("avx2,fma,f16c"))) void halvesToFloats(const uint8_t* halves, size_t count, float* out)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(out + i, load8(halves + 2 * i));
    if (i < count)
        dequantize(TensorKind::f16, halves + 2 * i, static_cast<int64_t>(count - i), out + i);
}

// 32 bytes of small integers as four vectors of floats times `scale`,
// stored at `out`.
__attribute__((target("avx2,fma,f16c"))) void widenBlock(__m256i integers, float scale, float minimum, float* out)
{
    const __m256 scales = _mm256_set1_ps(scale);
    const __m256 minimums = _mm256_set1_ps(minimum);
    const __m128i low = _mm256_castsi256_si128(integers);
    const __m128i high = _mm256_extracti128_si256(integers, 1);
    const __m128i parts[4] = {low, _mm_srli_si128(low, 8), high, _mm_srli_si128(high, 8)};
    for (int part = 0; part < 4; ++part) {
        __m256 values = _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(parts[part]));
        _mm256_storeu_ps(out + 8 * part, _mm256_fmadd_ps(values, scales, minimums));
    }
}

// 0x10 in byte j where bit j of `bits` is set.
__attribute__((target("avx2,fma,f16c"))) __m256i fifthBits(uint32_t bits)
{
    // Byte j takes byte j / 8 of the bits, then tests its bit j % 8.
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)),
        _mm256_set_epi64x(0x0303030303030303, 0x0202020202020202, 0x0101010101010101, 0));
    const __m256i others = _mm256_or_si256(spread, _mm256_set1_epi64x(0x7fbfdfeff7fbfdfe));
    return _mm256_and_si256(_mm256_cmpeq_epi8(others, _mm256_set1_epi8(-1)), _mm256_set1_epi8(0x10));
}

__attribute__((target("avx2,fma,f16c"))) float half(const uint8_t* at)
{
    uint16_t value;
    std::memcpy(&value, at, 2);
    return _cvtsh_ss(value);
}

// The blocks of q8_0, q5_0 and q5_1 (see dequantize) with AVX2.
__attribute__((target("avx2,fma,f16c"))) void widenBlocks(TensorKind kind, const uint8_t* data, size_t elements,
    float* out)
{
    const size_t blocks = elements / 32;
    if (kind == TensorKind::q8_0) {
        for (size_t block = 0; block < blocks; ++block, data += 34, out += 32)
            widenBlock(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 2)), half(data), 0.0f, out);
        return;
    }
    const bool withMinimum = kind == TensorKind::q5_1;
    const size_t stride = withMinimum ? 24 : 22;
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    for (size_t block = 0; block < blocks; ++block, data += stride, out += 32) {
        const uint8_t* highBytes = data + (withMinimum ? 4 : 2);
        uint32_t high;
        std::memcpy(&high, highBytes, 4);
        const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(highBytes + 4));
        // Values 0-15 in the low nibbles, 16-31 in the high ones.
        __m256i integers = _mm256_and_si256(_mm256_set_m128i(_mm_srli_epi16(packed, 4), packed), nibble);
        integers = _mm256_or_si256(integers, fifthBits(high));
        if (withMinimum)
            widenBlock(integers, half(data), half(data + 2), out);
        else
            widenBlock(_mm256_sub_epi8(integers, _mm256_set1_epi8(16)), half(data), 0.0f, out);
    }
}

}

StoredMatrix::StoredMatrix(TensorKind kind, int rows, int columns, std::unique_ptr<uint8_t[]> data)
    : stored(kind), rowCount(rows), columnCount(columns)
{
    const auto elements = static_cast<int64_t>(rows) * columns;
    if (kind == TensorKind::f32 || (quantized(kind) && columns % 32 != 0)) {
        floats.resize(static_cast<size_t>(elements));
        dequantize(kind, data.get(), elements, floats.data());
        stored = TensorKind::f32;
        rowBytes = static_cast<size_t>(columns) * sizeof(float);
        return;
    }
    rowBytes = static_cast<size_t>(*storedBytes(kind, columns));
    bytes = std::move(data);
}

void StoredMatrix::rowsToFloat(int first, int count, float* out) const
{
    const size_t elements = static_cast<size_t>(count) * columnCount;
    if (stored == TensorKind::f32) {
        std::memcpy(out, floats.data() + static_cast<size_t>(first) * columnCount, elements * sizeof(float));
        return;
    }
    const uint8_t* data = bytes.get() + static_cast<size_t>(first) * rowBytes;
    if (stored == TensorKind::f16 && vectorUnits())
        halvesToFloats(data, elements, out);
    else if (vectorUnits())
        widenBlocks(stored, data, elements, out);
    else
        dequantize(stored, data, static_cast<int64_t>(elements), out);
}

void StoredMatrix::multiply(const float* x, int n, float* y, int yStride, bool accumulate) const
{
    if (n <= 0 || rowCount == 0)
        return;
    const float keep = accumulate ? 1.0f : 0.0f;
    if (stored == TensorKind::f32) {
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, n, rowCount, columnCount, 1.0f, x, columnCount,
            floats.data(), columnCount, keep, y, yStride);
        return;
    }
    if (n >= batchRows) {
        // Kept by the thread between calls: widening is cheap, finding fresh
        // pages for a band on every product is not.
        thread_local std::vector<float> band;
        const int bandRows = static_cast<int>(std::clamp<size_t>(bandFloats / columnCount, 1, rowCount));
        if (band.size() < static_cast<size_t>(bandRows) * columnCount)
            band.resize(static_cast<size_t>(bandRows) * columnCount);
        for (int first = 0; first < rowCount; first += bandRows) {
            const int count = std::min(bandRows, rowCount - first);
            rowsToFloat(first, count, band.data());
            cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, n, count, columnCount, 1.0f, x, columnCount,
                band.data(), columnCount, keep, y + first, yStride);
        }
        return;
    }
    const size_t work = static_cast<size_t>(rowCount) * columnCount * n;
    splitInTwo(rowCount, work, splitWork,
        [&](int first, int end) { multiplyByRows(x, n, y, yStride, accumulate, first, end); });
}

void StoredMatrix::multiplyByRows(const float* x, int n, float* y, int yStride, bool accumulate, int firstRow,
    int endRow) const
{
    if (stored == TensorKind::f16 && vectorUnits()) {
        for (int row = firstRow; row < endRow; ++row)
            rowTimesVectors(bytes.get() + static_cast<size_t>(row) * rowBytes, columnCount, x, n, y + row, yStride,
                accumulate);
        return;
    }
    std::vector<float> widened(static_cast<size_t>(columnCount));
    for (int row = firstRow; row < endRow; ++row) {
        rowsToFloat(row, 1, widened.data());
        if (vectorUnits())
            rowTimesVectors(widened.data(), columnCount, x, n, y + row, yStride, accumulate);
        else
            rowTimesVectorsPlain(widened.data(), columnCount, x, n, y + row, yStride, accumulate);
    }
}

}
