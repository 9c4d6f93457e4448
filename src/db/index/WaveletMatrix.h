// Order statistics on a static array of integers: the k-th smallest value in
// any range of positions, in O(log n) and about 1.5 bits per level per value.
// The look-up uses it to list the rows matching a prefix in display order
// without sorting or copying them on each keystroke.
#pragma once

#include "db/index/Array.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnvik {

class WaveletMatrix
{
public:
    WaveletMatrix() = default;
    // Values must be below 2^bits.
    WaveletMatrix(std::vector<uint32_t> values, int bits);

    size_t size() const { return m_size; }
    uint32_t access(size_t i) const;
    // k-th smallest (0-based) of the values at positions [lo, hi); k < hi - lo.
    uint32_t kthSmallest(size_t lo, size_t hi, size_t k) const;
    size_t memoryBytes() const;

    struct Level
    {
        // A count for every four words: beside a count for every word (half
        // the bits' own memory) the matrices built one after the other were
        // the largest part of a build's peak after the text.
        static constexpr size_t kBlockWords = 4;
        Array<uint64_t> bits;
        std::vector<uint32_t> ranks; // ones before each block of words
        size_t zeros = 0;
        // Counts the ones before each block into 'ranks'; all of them.
        size_t countRanks();
        size_t rank1(size_t i) const;
        size_t rank0(size_t i) const { return i - rank1(i); }
        bool bit(size_t i) const { return (bits[i >> 6] >> (i & 63)) & 1; }
    };
    // For the on-disk cache.
    const std::vector<Level> &levels() const { return m_levels; }
    static WaveletMatrix fromLevels(std::vector<Level> levels, size_t size);

private:
    std::vector<Level> m_levels;
    size_t m_size = 0;
};

} // namespace tarnvik
