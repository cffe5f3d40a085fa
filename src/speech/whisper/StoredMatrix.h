#pragma once

#include "speech/whisper/GgmlFile.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarvio::whisper {

// A weight matrix (outputs x inputs, row-major) kept in the kind its file
// stores it in, so that a model costs its file's size in memory; products
// widen it to floats as they go.
class StoredMatrix {
public:
    StoredMatrix() = default;
    // `bytes` as stored: rows * columns values of `kind`. A quantized kind
    // whose rows are not whole blocks is widened here once.
    StoredMatrix(TensorKind kind, int rows, int columns, std::unique_ptr<uint8_t[]> bytes);
    // A shape without data, for checking a file's table.
    StoredMatrix(int rows, int columns) : rowCount(rows), columnCount(columns) {}

    int rows() const { return rowCount; }
    int columns() const { return columnCount; }
    TensorKind kind() const { return stored; }

    // Rows [first, first + count) as floats into `out` (count x columns).
    void rowsToFloat(int first, int count, float* out) const;

    // y = x W^T (+ y when `accumulate`): x is n x columns (row stride
    // columns), y is n x rows with row stride `yStride`.
    void multiply(const float* x, int n, float* y, int yStride, bool accumulate) const;

private:
    TensorKind stored = TensorKind::f32;
    int rowCount = 0;
    int columnCount = 0;
    size_t rowBytes = 0;
    std::vector<float> floats;
    std::unique_ptr<uint8_t[]> bytes;

    void multiplyByRows(const float* x, int n, float* y, int yStride, bool accumulate, int firstRow, int endRow) const;
};

}
