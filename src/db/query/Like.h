// LIKE patterns as the Jet engine reads them: '*' any run, '?' one character,
// '#' one digit, '[abc]', '[a-z]', '[!abc]'. Case-insensitive by full Unicode
// case folding, accent-sensitive. Matching runs on folded text.
#pragma once

#include <QString>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnvik {

// Which letters are one in another case: Unicode's, or Turkish, where I is
// the capital of ı and İ that of i (a source whose input character set is
// Turkish, 162).
enum class CaseRule { Default, Turkish };
CaseRule caseRuleFor(int charset);

// Full Unicode case folding (ß -> ss), the form every comparison here works on.
QString foldCase(QStringView text, CaseRule rule = CaseRule::Default);
// The same without allocating: 'text' itself when folding changes nothing,
// else a view of 'buffer'.
QStringView foldCase(QStringView text, QString &buffer, CaseRule rule = CaseRule::Default);

// Folded text with its diacritics dropped: each character's canonical
// decomposition less its nonspacing marks (dům -> dum, άλφα -> αλφα, pointed
// Hebrew -> unpointed), and Latin letters with no mark to drop spelled in
// ASCII (ł -> l, æ -> ae, ı -> i). What a look-up that forgives missing accents compares.
// 'text' itself when nothing is dropped, else a view of 'buffer'.
QStringView dropMarks(QStringView folded, QString &buffer);
// Whether dropMarks changes 'folded', without making what it makes.
bool dropsMarks(QStringView folded);
// The order of dropMarks(a) and dropMarks(b) by UTF-16 units (negative, zero,
// positive), mostly without making either.
int compareBare(QStringView a, QStringView b);
// The next character of UTF-8 text as one UTF-16 unit, 'p' moved past it;
// none for a character beyond the BMP or bytes that are not UTF-8. Inline:
// the index's build decodes the start of every row with it.
inline std::optional<char16_t> nextBmpUnit(const unsigned char *&p, const unsigned char *end)
{
    auto follows = [&](ptrdiff_t i) { return end - p > i && (p[i] & 0xC0) == 0x80; };
    if (*p < 0x80)
        return char16_t(*p++);
    if (*p >= 0xC2 && *p < 0xE0 && follows(1)) {
        const char16_t u = char16_t((*p & 0x1F) << 6 | (p[1] & 0x3F));
        p += 2;
        return u;
    }
    if (*p >= 0xE0 && *p < 0xF0 && follows(1) && follows(2)) {
        const char16_t u = char16_t((*p & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
        if (u < 0x800)
            return std::nullopt;
        p += 3;
        return u;
    }
    return std::nullopt;
}
// The first units of UTF-8 text into 'out': 'wanted' of them, or fewer
// where the text ends. Nothing for a character beyond the BMP or bytes that
// are not UTF-8.
inline std::optional<size_t> unitsOfUtf8(std::string_view text, char16_t *out, size_t wanted)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data()), *end = p + text.size();
    size_t n = 0;
    for (; n < wanted && p != end; ++n) {
        const std::optional<char16_t> u = nextBmpUnit(p, end);
        if (!u)
            return std::nullopt;
        out[n] = *u;
    }
    return n;
}
// The first units of dropMarks(folded), 'folded' given as UTF-8, into 'out':
// 'wanted' of them, or fewer where the text ends. Nothing where a character
// needs dropMarks itself (one that becomes more than one unit, or beyond the
// BMP): most text never takes the round through UTF-16 then.
std::optional<size_t> bareUnitsOfUtf8(std::string_view folded, char16_t *out, size_t wanted);
// foldCase, then dropMarks.
QString bareText(QStringView text, CaseRule rule = CaseRule::Default);

class LikePattern
{
public:
    // nullopt with 'error' set for a malformed pattern (an unclosed '[').
    static std::optional<LikePattern> compile(QStringView pattern, QString *error,
                                              CaseRule rule = CaseRule::Default);

    bool matchesFolded(QStringView foldedText) const;
    bool matches(QStringView text) const { return matchesFolded(foldCase(text, m_rule)); }

    // The folded literal text every match starts with.
    const QString &foldedPrefix() const { return m_prefix; }
    // True when the pattern is its literal prefix followed by '*' (or nothing more
    // than that prefix and '*'): the prefix alone decides a match.
    bool isPrefixPattern() const { return m_prefixOnly; }

private:
    struct Range { char32_t lo, hi; };
    struct Token {
        enum Kind { Literal, One, Digit, Class, Star } kind = Literal;
        char32_t ch = 0;          // Literal
        bool negated = false;     // Class
        std::vector<Range> ranges; // Class
    };
    bool matchOne(const Token &t, char32_t c) const;

    std::vector<Token> m_tokens;
    QString m_prefix;
    bool m_prefixOnly = false;
    CaseRule m_rule = CaseRule::Default;
};

} // namespace tarnvik
