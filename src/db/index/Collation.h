#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

struct UCollator;

namespace tarnvik {

// Czech, case-insensitive, accent-sensitive: the same ICU collator QCollator
// makes for cs_CZ with Qt::CaseInsensitive, used directly for its sort keys.
// Normalising, as QCollator's does: marks stored in another order (Hebrew
// points, decomposed Vietnamese) sort as the same letter.
struct DisplayCollator
{
    UCollator *c = nullptr;
    DisplayCollator();
    DisplayCollator(const DisplayCollator &other); // a clone, for another thread
    DisplayCollator &operator=(const DisplayCollator &) = delete;
    ~DisplayCollator();
};

// The first twelve bytes of a text's ICU sort key (zeros after a shorter
// key), made from each character's collation elements, looked up once,
// wherever the text holds only characters the normaliser leaves alone, each
// (or each contraction, such as "ch") with one primary weight; by ICU
// otherwise. ICU walks every character through its normaliser and iterator
// each time: several times the cost, and the dearest part of a build.
class SortKeyStart
{
public:
    // 'collator' is only read, and must outlive this.
    explicit SortKeyStart(const UCollator *collator);
    SortKeyStart(const SortKeyStart &) = delete;
    SortKeyStart &operator=(const SortKeyStart &) = delete;

    void make(std::u16string_view text, uint8_t (&bytes)[12]);
    // The same, always by ICU.
    void byCollator(std::u16string_view text, uint8_t (&bytes)[12]) const;
    // The same from the weights looked up; false where ICU must make it.
    bool lookedUp(std::u16string_view text, uint8_t (&bytes)[12]);

private:
    enum Kind : uint8_t { Unknown, Known, Other };
    struct Weights
    {
        uint32_t primary = 0;
        uint16_t secondaries[3] = {}; // of each element in turn; none is 0
        uint8_t secondaryCount = 0;
        Kind kind = Unknown;
        bool starts = false; // begins a contraction
    };
    Weights weigh(const char16_t *units, int length);
    Weights &unit(char16_t u);

    const UCollator *m_collator;
    bool m_usable = false; // the collator's settings are those lookedUp writes
    std::vector<Weights> m_units;
    std::unordered_map<uint32_t, Weights> m_pairs; // the first two units of each contraction
    int8_t m_compressible[256] = {}; // by lead byte: 1 yes, -1 no, 0 not known yet
};

} // namespace tarnvik
