#include "Collation.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>

namespace tarnvik {

namespace {

uint32_t pairOf(char16_t a, char16_t b) { return uint32_t(a) << 16 | b; }

// Which units begin a contraction (or a prefix context), and for each pair
// of units that begins one, whether a longer one begins with it.
struct Contractions
{
    bool read = false; // false if ICU could not list them
    std::vector<bool> starts = std::vector<bool>(0x10000, false);
    std::unordered_map<uint32_t, bool> pairs;
};

const Contractions &contractionsOf(const UCollator *collator)
{
    // Every index uses the one tailoring, so its contractions are read once.
    static Contractions c;
    static std::once_flag read;
    std::call_once(read, [collator] {
        UErrorCode status = U_ZERO_ERROR;
        USet *set = uset_openEmpty();
        ucol_getContractionsAndExpansions(collator, set, nullptr, true, &status);
        const int32_t items = U_SUCCESS(status) ? uset_getItemCount(set) : 0;
        for (int32_t i = 0; i < items && U_SUCCESS(status); ++i) {
            UChar32 first, last;
            UChar s[64];
            // Ranges of single characters have no length; a contraction
            // longer than the buffer fails the whole list.
            const int32_t length = uset_getItem(set, i, &first, &last, s, int32_t(std::size(s)), &status);
            if (length < 2 || U_FAILURE(status))
                continue;
            c.starts[s[0]] = true;
            c.pairs[pairOf(s[0], s[1])] |= length > 2;
        }
        uset_close(set);
        c.read = U_SUCCESS(status);
    });
    return c;
}

// A unit whose character the normaliser leaves as it is next to any other
// such: no combining mark, and none at its start when decomposed.
bool plainUnit(char16_t u)
{
    return !(u >= 0xD800 && u <= 0xDFFF) && u_getCombiningClass(u) == 0
        && u_getIntPropertyValue(u, UCHAR_LEAD_CANONICAL_COMBINING_CLASS) == 0;
}

// ICU's sort key bytes: what ends a level, and how a run of common
// secondary weights is written (a count, below or above the common byte by
// what follows the run).
constexpr uint8_t kLevelSeparator = 0x01, kCompressedBelow = 0x03, kCompressedAbove = 0xFF;
constexpr uint16_t kCommonSecondary = 0x0500;
constexpr uint8_t kCommonLow = 0x05, kCommonHigh = 0x45;
constexpr int kCommonMaxCount = 0x21;

} // namespace

DisplayCollator::DisplayCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    c = ucol_open("cs_CZ", &status);
    if (U_FAILURE(status) || !c)
        throw std::runtime_error("ICU collator for cs_CZ is not available");
    ucol_setStrength(c, UCOL_SECONDARY);
    ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("ICU collator cannot normalise");
}

DisplayCollator::DisplayCollator(const DisplayCollator &other)
{
    UErrorCode status = U_ZERO_ERROR;
    c = ucol_clone(other.c, &status);
    if (U_FAILURE(status) || !c)
        throw std::runtime_error("ICU collator cannot be cloned");
}

DisplayCollator::~DisplayCollator() { ucol_close(c); }

SortKeyStart::SortKeyStart(const UCollator *collator) : m_collator(collator)
{
    // Only the levels and rules lookedUp writes: primary and secondary
    // weights in text order, none shifted, reordered, reversed, or taken
    // together as a number.
    UErrorCode status = U_ZERO_ERROR;
    m_usable = ucol_getStrength(collator) == UCOL_SECONDARY
        && ucol_getAttribute(collator, UCOL_ALTERNATE_HANDLING, &status) == UCOL_NON_IGNORABLE
        && ucol_getAttribute(collator, UCOL_FRENCH_COLLATION, &status) == UCOL_OFF
        && ucol_getAttribute(collator, UCOL_CASE_LEVEL, &status) == UCOL_OFF
        && ucol_getAttribute(collator, UCOL_NUMERIC_COLLATION, &status) == UCOL_OFF
        && ucol_getReorderCodes(collator, nullptr, 0, &status) == 0
        && (U_SUCCESS(status) || status == U_BUFFER_OVERFLOW_ERROR);
}

void SortKeyStart::byCollator(std::u16string_view text, uint8_t (&bytes)[12]) const
{
    std::fill(std::begin(bytes), std::end(bytes), 0);
    // Empty text comes first, before text the collator ignores altogether
    // (NULs, controls), as QCollator has it: no other key starts with 00.
    if (!text.empty())
        ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(text.data()), int32_t(text.size()), bytes, 12);
}

// The weights of the units (one, or the two of a contraction), read off
// their own sort key: one primary weight, and the secondaries of their
// elements; or Other. Every element with a primary weight has a secondary
// one, so a key with one secondary weight is a key of one primary weight.
// (ICU's element iterator would tell more, but on its first use it builds a
// table of every expansion, kept for the life of the process.)
SortKeyStart::Weights SortKeyStart::weigh(const char16_t *units, int length)
{
    Weights other;
    other.kind = Other;
    for (int i = 0; i < length; ++i) {
        if (!plainUnit(units[i]))
            return other;
    }
    // The primary bytes, and the secondary ones, of a key.
    struct Split
    {
        std::basic_string_view<uint8_t> primary, secondary;
    };
    uint8_t key[32], baseKey[32], markKey[32];
    auto split = [this](const UChar *text, int32_t n, uint8_t (&into)[32]) {
        const int32_t size = ucol_getSortKey(m_collator, text, n, into, sizeof into);
        const uint8_t *end = into + (size > 0 && size <= int32_t(sizeof into) ? size - 1 : 0);
        const uint8_t *separator = std::find(static_cast<const uint8_t *>(into), end, kLevelSeparator);
        return Split{{into, size_t(separator - into)},
                     {separator == end ? end : separator + 1, size_t(end - std::min(end, separator + 1))}};
    };
    const Split mine = split(reinterpret_cast<const UChar *>(units), length, key);
    if (mine.primary.empty() || mine.primary.size() > 4 || mine.primary[0] <= 2)
        return other;
    Weights w;
    for (size_t i = 0; i < 4; ++i)
        w.primary |= uint32_t(i < mine.primary.size() ? mine.primary[i] : 0) << (24 - 8 * i);
    const std::basic_string_view<uint8_t> oneCommon(&kCommonLow, 1);
    if (mine.secondary == oneCommon) {
        w.secondaries[w.secondaryCount++] = kCommonSecondary;
    } else if (length == 1 && mine.secondary.size() == 2 && mine.secondary[0] == kCommonHigh) {
        // A letter and one mark: the letter's weight, then the mark's one
        // secondary, as its decomposition has them (each checked here).
        UChar parts[4];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = unorm2_getRawDecomposition(unorm2_getNFDInstance(&status), units[0], parts, 4, &status);
        if (U_FAILURE(status) || n != 2 || !plainUnit(parts[0]))
            return other;
        const Split base = split(parts, 1, baseKey), mark = split(parts + 1, 1, markKey);
        if (base.primary != mine.primary || base.secondary != oneCommon || !mark.primary.empty()
            || mark.secondary != mine.secondary.substr(1))
            return other;
        w.secondaries[w.secondaryCount++] = kCommonSecondary;
        w.secondaries[w.secondaryCount++] = uint16_t(mine.secondary[1] << 8);
    } else {
        return other;
    }
    const uint8_t lead = uint8_t(w.primary >> 24);
    if (m_compressible[lead] == 0) {
        // Twice the same weight: a compressible lead byte is written once.
        UChar twice[4];
        for (int i = 0; i < length; ++i)
            twice[i] = twice[length + i] = units[i];
        const size_t bytes = split(twice, 2 * length, key).primary.size(), weightBytes = mine.primary.size();
        if (weightBytes > 1 && bytes == 2 * weightBytes - 1)
            m_compressible[lead] = 1;
        else if (bytes == 2 * weightBytes)
            m_compressible[lead] = -1;
        else
            return other;
    }
    w.kind = Known;
    return w;
}

// A unit's own weights, weighed when first met.
SortKeyStart::Weights &SortKeyStart::unit(char16_t u)
{
    Weights &w = m_units[u];
    if (w.kind == Unknown) {
        const bool starts = w.starts;
        w = weigh(&u, 1);
        w.starts = starts;
    }
    return w;
}

// The key from the weights looked up, written as ICU writes it: the
// primary weights, a compressible lead byte once for a run of weights that
// share it and the run ended by 03 or FF where the next lead is lower or
// higher; then 01 and the secondary weights, each run of the common weight
// as its length, below or above the common byte by what follows; then 00.
bool SortKeyStart::lookedUp(std::u16string_view text, uint8_t (&bytes)[12])
{
    if (!m_usable || text.empty())
        return false;
    if (m_units.empty()) {
        // Made here, on the thread that makes the keys, rather than with
        // the index's builder on the thread that reads the rows.
        const Contractions &contractions = contractionsOf(m_collator);
        if (!(m_usable = contractions.read))
            return false;
        m_units.resize(0x10000);
        for (size_t u = 0; u < m_units.size(); ++u)
            m_units[u].starts = contractions.starts[u];
        for (const auto &[pair, longer] : contractions.pairs)
            m_pairs[pair].kind = longer ? Other : Unknown;
    }
    size_t at = 0;
    auto put = [&](uint8_t b) {
        if (at < 12)
            bytes[at++] = b;
    };
    const Weights *taken[12]; // each weight written, for the secondaries
    size_t count = 0;
    uint32_t runStart = 0; // the first weight of a compressed run; 0 outside one
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (at == 12) {
            // What follows cannot change the weights before it if it is a
            // character that takes part in no normalisation.
            return unit(text[i]).kind == Known;
        }
        const bool starts = m_units[text[i]].starts;
        const auto pair = starts && i + 1 < n ? m_pairs.find(pairOf(text[i], text[i + 1])) : m_pairs.end();
        const Weights *w = nullptr;
        if (pair != m_pairs.end()) {
            if (pair->second.kind == Unknown)
                pair->second = weigh(&text[i], 2);
            w = &pair->second;
            ++i;
        } else {
            w = &unit(text[i]);
        }
        if (w->kind == Other)
            return false;
        taken[count++] = w;
        const uint32_t p = w->primary;
        const uint8_t lead = uint8_t(p >> 24);
        const bool compressible = m_compressible[lead] > 0;
        if (!compressible || lead != runStart >> 24) {
            if (runStart != 0)
                put(p < runStart ? kCompressedBelow : kCompressedAbove);
            put(lead);
            runStart = compressible ? p : 0;
        }
        if (const uint8_t b1 = uint8_t(p >> 16)) {
            put(b1);
            if (const uint8_t b2 = uint8_t(p >> 8)) {
                put(b2);
                if (const uint8_t b3 = uint8_t(p))
                    put(b3);
            }
        }
    }
    // Every weight written, in twelve bytes at most: each took one or more.
    put(kLevelSeparator);
    int common = 0;
    auto endRun = [&](uint16_t next) {
        if (common > 0)
            put(uint8_t(next < kCommonSecondary ? kCommonLow + common - 1 : kCommonHigh - (common - 1)));
        common = 0;
    };
    for (size_t k = 0; k < count; ++k) {
        for (size_t j = 0; j < taken[k]->secondaryCount; ++j) {
            const uint16_t s = taken[k]->secondaries[j];
            if (s == kCommonSecondary) {
                if (++common == kCommonMaxCount)
                    return false; // written otherwise, never within twelve bytes here
                continue;
            }
            endRun(s);
            put(uint8_t(s >> 8));
            if (s & 0xFF)
                put(uint8_t(s));
        }
    }
    endRun(0x0100); // the level's end sorts below the common weight
    std::fill(bytes + at, std::end(bytes), 0);
    return true;
}

void SortKeyStart::make(std::u16string_view text, uint8_t (&bytes)[12])
{
    if (!lookedUp(text, bytes))
        byCollator(text, bytes);
}

} // namespace tarnvik
