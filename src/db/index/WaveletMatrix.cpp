#include "WaveletMatrix.h"

#include "db/index/TwoThreads.h"

#include <algorithm>
#include <bit>

namespace tarnvik {

size_t WaveletMatrix::Level::rank1(size_t i) const
{
    const size_t w = i >> 6;
    const unsigned r = i & 63;
    size_t n = ranks[w];
    if (r)
        n += std::popcount(bits[w] & ((uint64_t(1) << r) - 1));
    return n;
}

WaveletMatrix::WaveletMatrix(std::vector<uint32_t> values, int bitCount)
    : m_size(values.size())
{
    const size_t words = (m_size >> 6) + 1;
    std::vector<uint32_t> next(m_size);
    m_levels.resize(size_t(bitCount));
    // Each level in two halves, one on each core (a half begins on a word):
    // as fast as two matrices built side by side, with half their memory.
    // Small ones on this thread alone.
    const size_t half = m_size < (size_t(1) << 16) ? m_size : (m_size / 2) & ~size_t(63);
    auto inHalves = [&](auto part) {
        if (half == m_size)
            part(0, m_size, 0);
        else
            onTwoThreads([&] { part(0, half, 0); }, [&] { part(half, m_size, 1); });
    };
    for (int l = 0; l < bitCount; ++l) {
        const unsigned shift = unsigned(bitCount - 1 - l);
        Level &level = m_levels[size_t(l)];
        std::vector<uint64_t> bits(words, 0);
        // Without branches on the bits: they are as good as random, and a
        // mispredicted branch per value and level was most of the build.
        inHalves([&](size_t from, size_t to, int) {
            for (size_t w = from >> 6; w << 6 < to; ++w) {
                const size_t first = w << 6, last = std::min(to, first + 64);
                uint64_t word = 0;
                for (size_t i = first; i < last; ++i)
                    word |= uint64_t((values[i] >> shift) & 1) << (i - first);
                bits[w] = word;
            }
        });
        level.ranks.assign(words, 0);
        uint32_t ones = 0, onesBeforeHalf = 0;
        for (size_t w = 0; w < words; ++w) {
            if (w << 6 == half)
                onesBeforeHalf = ones;
            level.ranks[w] = ones;
            ones += uint32_t(std::popcount(bits[w]));
        }
        level.zeros = m_size - ones;
        level.bits = std::move(bits);
        // Stable partition: zeros first, then ones, for the next level.
        const size_t zerosBeforeHalf = half - onesBeforeHalf;
        inHalves([&](size_t from, size_t to, int part) {
            size_t zero = part == 0 ? 0 : zerosBeforeHalf, one = level.zeros + (part == 0 ? 0 : onesBeforeHalf);
            for (size_t i = from; i < to; ++i) {
                const uint32_t v = values[i];
                const size_t bit = (v >> shift) & 1;
                next[bit ? one : zero] = v;
                one += bit;
                zero += bit ^ 1;
            }
        });
        values.swap(next);
    }
}

WaveletMatrix WaveletMatrix::fromLevels(std::vector<Level> levels, size_t size)
{
    WaveletMatrix m;
    m.m_levels = std::move(levels);
    m.m_size = size;
    return m;
}

uint32_t WaveletMatrix::access(size_t i) const
{
    uint32_t v = 0;
    for (const Level &level : m_levels) {
        if (level.bit(i)) {
            v = (v << 1) | 1;
            i = level.zeros + level.rank1(i);
        } else {
            v <<= 1;
            i = level.rank0(i);
        }
    }
    return v;
}

uint32_t WaveletMatrix::kthSmallest(size_t lo, size_t hi, size_t k) const
{
    uint32_t v = 0;
    for (const Level &level : m_levels) {
        const size_t zlo = level.rank0(lo), zhi = level.rank0(hi);
        const size_t zerosHere = zhi - zlo;
        if (k < zerosHere) {
            v <<= 1;
            lo = zlo;
            hi = zhi;
        } else {
            k -= zerosHere;
            v = (v << 1) | 1;
            lo = level.zeros + (lo - zlo);
            hi = level.zeros + (hi - zhi);
        }
    }
    return v;
}

size_t WaveletMatrix::memoryBytes() const
{
    size_t n = 0;
    for (const Level &level : m_levels)
        n += level.bits.ownedBytes() + level.ranks.capacity() * 4;
    return n;
}

} // namespace tarnvik
