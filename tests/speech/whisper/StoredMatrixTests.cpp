#include "GeneratedModel.h"
#include "speech/whisper/StoredMatrix.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace tarvio::testing {
namespace {

using whisper::StoredMatrix;
using whisper::TensorKind;

struct Shape {
    TensorKind kind;
    int rows;
    int columns;
};

// Weights kept in their stored kind widen (by whichever kernels this
// machine runs) to exactly what the reference decoder of each kind gives,
// and their products with 1 to 30 input rows, in every path (one thread or
// two), match a plain product of those floats.
TEST(StoredMatrix, ProductsMatchThePlainProductOfTheDecodedWeights)
{
    const std::vector<Shape> shapes = {
        {TensorKind::f32, 5, 68},
        // 68 columns: a tail after the last group of eight.
        {TensorKind::f16, 37, 68},
        {TensorKind::q8_0, 37, 96},
        {TensorKind::q5_0, 37, 96},
        {TensorKind::q5_1, 37, 96},
        // Rows that are not whole blocks are widened once at load.
        {TensorKind::q8_0, 4, 24},
        // Large enough for the rows to be shared by two threads.
        {TensorKind::f16, 2048, 256},
        {TensorKind::q5_1, 2048, 256},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(static_cast<int>(shape.kind));
        const size_t elements = static_cast<size_t>(shape.rows) * shape.columns;
        std::vector<float> source(elements);
        for (auto& value : source)
            value = uniform(random);
        std::vector<uint8_t> bytes = encodeTensor(shape.kind, source);
        std::vector<float> weights(elements);
        whisper::dequantize(shape.kind, bytes.data(), static_cast<int64_t>(elements), weights.data());
        auto stored = std::make_unique_for_overwrite<uint8_t[]>(bytes.size());
        std::memcpy(stored.get(), bytes.data(), bytes.size());
        StoredMatrix matrix(shape.kind, shape.rows, shape.columns, std::move(stored));

        std::vector<float> widened(elements - shape.columns);
        matrix.rowsToFloat(1, shape.rows - 1, widened.data());
        for (size_t i = 0; i < widened.size(); ++i)
            ASSERT_EQ(widened[i], weights[i + shape.columns]) << i;

        for (int n : {1, 3, 5, 30}) {
            SCOPED_TRACE(n);
            std::vector<float> x(static_cast<size_t>(n) * shape.columns);
            for (auto& value : x)
                value = uniform(random);
            // Rows of y one wider than the output, so a wrong stride shows.
            const int stride = shape.rows + 1;
            std::vector<float> y(static_cast<size_t>(n) * stride, 0.5f);
            matrix.multiply(x.data(), n, y.data(), stride, true);
            std::vector<float> fresh(static_cast<size_t>(n) * stride, 0.5f);
            matrix.multiply(x.data(), n, fresh.data(), stride, false);
            for (int r = 0; r < n; ++r) {
                for (int o = 0; o < shape.rows; ++o) {
                    double expected = 0.0;
                    for (int i = 0; i < shape.columns; ++i)
                        expected += static_cast<double>(x[static_cast<size_t>(r) * shape.columns + i]) *
                            weights[static_cast<size_t>(o) * shape.columns + i];
                    size_t at = static_cast<size_t>(r) * stride + o;
                    ASSERT_NEAR(y[at], expected + 0.5, 1e-4) << r << " " << o;
                    ASSERT_NEAR(fresh[at], expected, 1e-4) << r << " " << o;
                }
                ASSERT_EQ(y[static_cast<size_t>(r) * stride + shape.rows], 0.5f);
            }
        }
    }
}

}
}
