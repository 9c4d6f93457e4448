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
