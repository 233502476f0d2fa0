#include "kpskeleton.h"

#include "kpbitsperpixelconverter.h"
#include "kppixelbuffer.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t GRAY_BLACK = 0;
constexpr uint8_t GRAY_WHITE = 255;
constexpr int BINARY_THRESHOLD = 127;

// A neighbourhood code holds one bit per neighbour, set when it is black,
// in the cyclic order east, north-east, north, north-west, west,
// south-west, south, south-east.
constexpr unsigned EAST = 1u << 0;
constexpr unsigned NORTH = 1u << 2;
constexpr unsigned WEST = 1u << 4;
constexpr unsigned SOUTH = 1u << 6;
constexpr unsigned EAST_NORTH_WEST = EAST | NORTH | WEST;
constexpr unsigned SOUTH_EAST_NORTH = SOUTH | EAST | NORTH;

struct CodeTables {
    // T: the changes of value going once around the closed cycle.
    std::array<uint8_t, 256> crossings;
    // 2 <= B <= 6 and T = 2.
    std::array<bool, 256> removable;
};

const CodeTables& codeTables()
{
    static const CodeTables tables = [] {
        CodeTables t{};
        for (unsigned code = 0; code < 256; ++code) {
            const unsigned rotated = (code >> 1) | ((code & 1u) << 7);
            const int crossings = __builtin_popcount(code ^ rotated);
            const int black = __builtin_popcount(code);
            t.crossings[code] = static_cast<uint8_t>(crossings);
            t.removable[code] = black >= 2 && black <= 6 && crossings == 2;
        }
        return t;
    }();
    return tables;
}

// The thinning state of one buffer. The strokes are held one byte per
// pixel (1 black, 0 white) inside a white margin one pixel wide, so that
// every neighbourhood can be read without bounds tests.
//
// A pass decides each pixel from the pixels within rows -2..+1 and
// columns -1..+2 of it (its own, its north neighbour's and its east
// neighbour's neighbourhoods), as they were when the pass began. A pixel
// kept by one pass is therefore kept by the next unless a pixel of that
// window was deleted in between: after the first pass, which tests every
// black pixel, only the pixels whose window holds a deletion of the last
// pass are tested again. This deletes exactly what full passes over the
// image delete, pass for pass.
class Thinning {
public:
    Thinning(const uint8_t* gray, int32_t height, int32_t width)
        : height(height), width(width), stride(static_cast<std::size_t>(width) + 2),
          black(), blocked()
    {
        const std::size_t cells = stride * (static_cast<std::size_t>(height) + 2);
        KpPixelBuffer::kpAssignLarge(black, cells, uint8_t(0));
        KpPixelBuffer::kpAssignLarge(blocked, cells, uint8_t(1));
        std::size_t blackPixels = 0;
        for (int32_t r = 0; r < height; ++r) {
            const uint8_t* source = gray + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
            uint8_t* target = &black[indexOf(r, 0)];
            for (int32_t c = 0; c < width; ++c) {
                target[c] = source[c] == GRAY_BLACK;
                blackPixels += target[c];
            }
        }
        // A pass deletes, and a pass tests, at most every black pixel.
        KpPixelBuffer::kpReserveLarge(deletions, blackPixels);
        KpPixelBuffer::kpReserveLarge(candidates, blackPixels);
        for (int32_t r = 1; r + 1 < height && width > 2; ++r) {
            std::memset(&blocked[indexOf(r, 1)], 0, static_cast<std::size_t>(width - 2));
        }
        for (int dr = -1; dr <= 2; ++dr) {
            for (int dc = -2; dc <= 1; ++dc) {
                dependents[static_cast<std::size_t>((dr + 1) * 4 + dc + 2)] =
                    static_cast<std::ptrdiff_t>(dr) * static_cast<std::ptrdiff_t>(stride) + dc;
            }
        }
    }

    int32_t run()
    {
        int32_t passes = 1;
        testEveryPixel();
        while (!deletions.empty()) {
            applyDeletions();
            collectCandidates();
            testCandidates();
            ++passes;
        }
        return passes;
    }

    // Turns every pixel of value 0 that the passes deleted to 255.
    void writeBack(uint8_t* gray) const
    {
        // A local count: the byte stores could otherwise change the member.
        const int32_t columns = width;
        for (int32_t r = 0; r < height; ++r) {
            uint8_t* target = gray + static_cast<std::size_t>(r) * static_cast<std::size_t>(columns);
            const uint8_t* kept = &black[indexOf(r, 0)];
            for (int32_t c = 0; c < columns; ++c) {
                const bool deleted = (target[c] == GRAY_BLACK) & (kept[c] == 0);
                target[c] = deleted ? GRAY_WHITE : target[c];
            }
        }
    }

private:
    std::size_t indexOf(int32_t r, int32_t c) const
    {
        return (static_cast<std::size_t>(r) + 1) * stride + static_cast<std::size_t>(c) + 1;
    }

    unsigned codeAt(std::size_t i) const
    {
        const uint8_t* p = &black[i];
        const std::ptrdiff_t s = static_cast<std::ptrdiff_t>(stride);
        return p[1] | p[1 - s] << 1 | p[-s] << 2 | p[-s - 1] << 3 | p[-1] << 4 | p[s - 1] << 5 | p[s] << 6 |
               p[s + 1] << 7;
    }

    // The four conditions of deletion for a black pixel off the border.
    // Its north neighbour may lie in row 0 and its east neighbour in the
    // last column; their neighbourhoods then reach past the image, and
    // those pixels count as white (the margin), which is the value that
    // T(N) and T(E) are taken with.
    bool isDeletable(std::size_t i) const
    {
        const CodeTables& tables = codeTables();
        const unsigned code = codeAt(i);
        if (!tables.removable[code]) {
            return false;
        }
        if ((code & EAST_NORTH_WEST) == EAST_NORTH_WEST && tables.crossings[codeAt(i - stride)] == 2) {
            return false;
        }
        if ((code & SOUTH_EAST_NORTH) == SOUTH_EAST_NORTH && tables.crossings[codeAt(i + 1)] == 2) {
            return false;
        }
        return true;
    }

    // The first pass: every black pixel off the border, white runs
    // skipped eight bytes at a time.
    void testEveryPixel()
    {
        for (int32_t r = 1; r + 1 < height; ++r) {
            std::size_t i = indexOf(r, 1);
            const std::size_t end = indexOf(r, width - 1);
            while (i < end) {
                uint64_t word = 0;
                if (i + 8 <= end) {
                    std::memcpy(&word, &black[i], 8);
                    if (word == 0) {
                        i += 8;
                        continue;
                    }
                }
                if (black[i] != 0 && isDeletable(i)) {
                    deletions.push_back(i);
                }
                ++i;
            }
        }
    }

    void applyDeletions()
    {
        for (std::size_t i : deletions) {
            black[i] = 0;
        }
    }

    // The black pixels off the border whose window holds a deletion, each
    // once.
    void collectCandidates()
    {
        candidates.clear();
        for (std::size_t deleted : deletions) {
            for (std::ptrdiff_t offset : dependents) {
                const std::size_t i = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(deleted) + offset);
                if (black[i] != 0 && blocked[i] == 0) {
                    blocked[i] = 1;
                    candidates.push_back(i);
                }
            }
        }
    }

    void testCandidates()
    {
        deletions.clear();
        for (std::size_t i : candidates) {
            if (isDeletable(i)) {
                deletions.push_back(i);
            }
            blocked[i] = 0;
        }
    }

    const int32_t height;
    const int32_t width;
    const std::size_t stride;
    std::vector<uint8_t> black;
    // 1 for the margin and the border, which are never tested, and for
    // the pixels already collected for the coming pass.
    std::vector<uint8_t> blocked;
    // Offsets of the pixels whose window holds a given pixel: rows -1..+2
    // and columns -2..+1 of it.
    std::array<std::ptrdiff_t, 16> dependents{};
    std::vector<std::size_t> deletions;
    std::vector<std::size_t> candidates;
};

} // namespace

KpSkeleton::~KpSkeleton() = default;

int32_t KpSkeleton::kpThinningLoop(uint8_t* data, int32_t height, int32_t width)
{
    if (height <= 0 || width <= 0) {
        return 1;
    }
    Thinning thinning(data, height, width);
    const int32_t passes = thinning.run();
    thinning.writeBack(data);
    return passes;
}

KpImage KpSkeleton::kpSkeletonize(const KpImage& image)
{
    KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(image);
    kpThinningLoop(gray.kpGetData(), gray.kpGetHeight(), gray.kpGetWidth());
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(gray, BINARY_THRESHOLD);
}
