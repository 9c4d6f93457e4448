#include "WaveletMatrix.h"

#include "db/index/TwoThreads.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarnvik {

size_t WaveletMatrix::Level::countRanks()
{
    const size_t words = bits.size();
    ranks.assign((words + kBlockWords - 1) / kBlockWords, 0);
    size_t ones = 0;
    for (size_t w = 0; w < words; ++w) {
        if (w % kBlockWords == 0)
            ranks[w / kBlockWords] = uint32_t(ones);
        ones += size_t(std::popcount(bits[w]));
    }
    return ones;
}

size_t WaveletMatrix::Level::rank1(size_t i) const
{
    const size_t w = i >> 6;
    const unsigned r = i & 63;
    size_t n = ranks[w / kBlockWords];
    for (size_t b = w - w % kBlockWords; b < w; ++b)
        n += size_t(std::popcount(bits[b]));
    if (r)
        n += std::popcount(bits[w] & ((uint64_t(1) << r) - 1));
    return n;
}

WaveletMatrix::WaveletMatrix(std::vector<uint32_t> values, int bitCount)
    : m_size(values.size())
{
    const size_t words = (m_size >> 6) + 1;
    // Only the ones of a level are moved aside (about half the values): the
    // matrix is built beside the whole index, and this is part of its peak.
    std::vector<uint32_t> ones;
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
        level.bits = std::move(bits);
        const size_t count = level.countRanks();
        const size_t onesBeforeHalf = level.rank1(half);
        level.zeros = m_size - count;
        if (l + 1 == bitCount)
            break;
        // Stable partition for the next level, zeros first, then ones: each
        // half keeps its zeros at its own start and puts its ones aside (each
        // value is written both ways, one slot past each half's ones taking
        // the strays); then the second half's zeros follow the first's, and
        // the ones all zeros.
        if (ones.size() < count + 2)
            ones.resize(count + 2);
        const size_t zerosBeforeHalf = half - onesBeforeHalf;
        inHalves([&](size_t from, size_t to, int part) {
            size_t zero = from, one = part == 0 ? 0 : onesBeforeHalf + 1;
            for (size_t i = from; i < to; ++i) {
                const uint32_t v = values[i];
                const size_t bit = (v >> shift) & 1;
                values[zero] = v; // never ahead of i
                ones[one] = v;
                one += bit;
                zero += bit ^ 1;
            }
        });
        uint32_t *const out = values.data();
        std::memmove(out + zerosBeforeHalf, out + half, (level.zeros - zerosBeforeHalf) * sizeof(uint32_t));
        std::copy_n(ones.begin(), onesBeforeHalf, out + level.zeros);
        std::copy_n(ones.begin() + onesBeforeHalf + 1, count - onesBeforeHalf, out + level.zeros + onesBeforeHalf);
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
