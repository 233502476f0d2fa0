#ifndef DOVODA_INTMAT_H
#define DOVODA_INTMAT_H

#include "kpimage.h"

#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

// A dense matrix of 32-bit signed integers addressed by (row, column),
// stored row-major: cell (r, c) is element r * m_col + c. The edge linker
// keeps its pixel-state map in one. The matrix owns its cells and is
// never copied; it can be moved.
class IntMat {
public:
    IntMat();
    IntMat(int32_t rows, int32_t cols);
    IntMat(const IntMat&) = delete;
    IntMat& operator=(const IntMat&) = delete;
    IntMat(IntMat&& other) noexcept;
    IntMat& operator=(IntMat&& other) noexcept;
    ~IntMat();

    int32_t rows() const { return m_row; }
    int32_t cols() const { return m_col; }

    // Takes the image's size; cell (r, c) becomes the pixel scale of
    // (x, y) = (c, r) divided by divisor. Returns 1.
    int32_t loadFromImage(KpImage image, int32_t divisor);

    // Indices outside the matrix are programming errors, caught by the
    // assertions of debug builds.
    int32_t get(int32_t r, int32_t c) const
    {
        checkIndex(r, c);
        return m_data[static_cast<std::size_t>(r) * m_col + c];
    }
    int32_t set(int32_t r, int32_t c, int32_t value)
    {
        checkIndex(r, c);
        m_data[static_cast<std::size_t>(r) * m_col + c] = value;
        return 1;
    }

    // The cells of row r, for passes over whole rows.
    const int32_t* row(int32_t r) const
    {
        assert(r < m_row);
        assert(r >= 0);
        return m_data + static_cast<std::size_t>(r) * m_col;
    }

    // Every cell becomes 0; the size stays. Returns 1.
    int32_t clear();

    // Writes the cells as text, each with the "%3d" rule, every row ended
    // by ";" and a newline; an empty matrix gives an empty file. Returns 1,
    // or 0 when the file cannot be created or fully written.
    int32_t writeText(std::string fileName) const;
    // The same text, formatted once, into each of several files: true for
    // each file created and fully written.
    std::vector<bool> writeTextFiles(const std::vector<std::string>& fileNames) const;

private:
    void checkIndex([[maybe_unused]] int32_t r, [[maybe_unused]] int32_t c) const
    {
        assert(r < m_row);
        assert(r >= 0);
        assert(c < m_col);
        assert(c >= 0);
    }
    void resize(int32_t rows, int32_t cols);
    void release();

    int32_t m_row;
    int32_t m_col;
    int32_t* m_data;
};

#endif
