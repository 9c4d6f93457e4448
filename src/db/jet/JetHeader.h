// The database header page: its first 126 (Jet 3) or 128 (Jet 4) bytes after
// offset 0x18 are scrambled with RC4 under a fixed key. Shared by the writer
// and the reader's own header check.
#pragma once

#include <cstdint>
#include <utility>

namespace tarnvik::jetheader {

constexpr int kScrambledAt = 0x18;
constexpr int scrambledLength(bool jet3) { return jet3 ? 126 : 128; }
constexpr uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr int kVersionAt = 0x14;
constexpr int kCodePageAt = 0x3C;
constexpr int kDatabaseKeyAt = 0x3E; // nonzero: the pages are encrypted

// RC4 is its own inverse: the same call scrambles and unscrambles.
inline void rc4(uint8_t *data, int len, const uint8_t *key = kKey, int keyLen = 4)
{
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLen]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < len; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

} // namespace tarnvik::jetheader
