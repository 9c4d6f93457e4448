#include "Like.h"

#include <QCoreApplication>

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utrans.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace tarnvik {

CaseRule caseRuleFor(int charset)
{
    return charset == 162 ? CaseRule::Turkish : CaseRule::Default;
}

// ICU's folding options for the rule, for text and single characters alike.
static uint32_t foldOptions(CaseRule rule)
{
    return rule == CaseRule::Turkish ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
}

namespace {

// The units that fold to themselves under either rule (the rules differ only
// in where I, İ and i go, none of which stays): most text is folded already.
struct Unfolding
{
    std::vector<bool> self = std::vector<bool>(0x10000);
    Unfolding()
    {
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            const UChar u = UChar(c);
            bool same = true;
            for (const CaseRule rule : {CaseRule::Default, CaseRule::Turkish}) {
                UChar out[4];
                UErrorCode status = U_ZERO_ERROR;
                const int32_t n = u_strFoldCase(out, 4, &u, 1, foldOptions(rule), &status);
                same = same && U_SUCCESS(status) && n == 1 && out[0] == u;
            }
            self[c] = same;
        }
    }
};

bool foldsToItself(QStringView text)
{
    static const Unfolding table;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return table.self[c.unicode()]; });
}

} // namespace

QStringView foldCase(QStringView text, QString &buffer, CaseRule rule)
{
    // Folding is pure ASCII lowering for the common case; skip ICU then
    // (but for a Turkish I, which folds to ı).
    const bool turkish = rule == CaseRule::Turkish;
    bool ascii = true, upper = false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80 || (turkish && u == 'I')) {
            ascii = false;
            break;
        }
        upper = upper || (u >= 'A' && u <= 'Z');
    }
    if (ascii) {
        if (!upper)
            return text;
        buffer.resize(text.size());
        QChar *p = buffer.data();
        for (QChar c : text) {
            const char16_t u = c.unicode();
            *p++ = QChar((u >= 'A' && u <= 'Z') ? u + 32 : u);
        }
        return buffer;
    }
    if (foldsToItself(text))
        return text;
    buffer.resize(text.size() + 8);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = u_strFoldCase(reinterpret_cast<UChar *>(buffer.data()), int32_t(buffer.size()),
                                        reinterpret_cast<const UChar *>(text.data()), int32_t(text.size()),
                                        foldOptions(rule), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            buffer.resize(n);
            continue;
        }
        if (U_FAILURE(status)) {
            buffer = text.toString().toCaseFolded();
            return buffer;
        }
        buffer.resize(n);
        return QStringView(buffer) == text ? text : QStringView(buffer);
    }
}

QString foldCase(QStringView text, CaseRule rule)
{
    QString buffer;
    const QStringView folded = foldCase(text, buffer, rule);
    return folded.data() == buffer.constData() ? buffer : folded.toString();
}

namespace {

// A letter of the Latin script that has no decomposition to drop a mark from
// (ł, ø, đ, æ, þ, ı) in the ASCII letters a reader takes it for, as ICU's
// Latin-ASCII transliteration spells it; anything else as it is. True when
// it was made plain.
bool appendPlainLetter(UChar32 x, QString &out)
{
    UErrorCode status = U_ZERO_ERROR;
    if (x < 0x80 || !u_isalpha(x) || uscript_getScript(x, &status) != USCRIPT_LATIN || U_FAILURE(status)) {
        out += QChar::fromUcs4(char32_t(x));
        return false;
    }
    static std::mutex mutex;
    static UTransliterator *const latinAscii = [] {
        UErrorCode error = U_ZERO_ERROR;
        UTransliterator *t = utrans_openU(u"Latin-ASCII", -1, UTRANS_FORWARD, nullptr, 0, nullptr, &error);
        return U_SUCCESS(error) ? t : nullptr;
    }();
    UChar text[16];
    int32_t length = 0;
    U16_APPEND_UNSAFE(text, length, x);
    int32_t limit = length;
    if (latinAscii) {
        const std::lock_guard lock(mutex);
        utrans_transUChars(latinAscii, text, &length, 16, 0, &limit, &status);
    }
    const bool letters = U_SUCCESS(status) && latinAscii && length > 0
        && std::all_of(text, text + length, [](UChar u) { return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'); });
    if (!letters) {
        out += QChar::fromUcs4(char32_t(x));
        return false;
    }
    // Folded text stays folded: þ is "th", not "Th".
    for (int32_t i = 0; i < length; ++i)
        out += QChar(text[i] >= 'A' && text[i] <= 'Z' ? text[i] + 32 : text[i]);
    return true;
}

// One code point without its marks, appended to 'out': its canonical
// decomposition less the nonspacing marks, each base letter made plain
// (appendPlainLetter); the code point itself where nothing changes (Hangul
// syllables stay whole).
void appendBare(char32_t c, QString &out)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    UChar in[2], d[32];
    int32_t n = 0;
    U16_APPEND_UNSAFE(in, n, UChar32(c));
    if (U_SUCCESS(status))
        n = unorm2_normalize(nfd, in, n, d, 32, &status);
    bool changed = false;
    QString base;
    for (int32_t i = 0; U_SUCCESS(status) && i < n;) {
        UChar32 x;
        U16_NEXT(d, i, n, x);
        if (u_charType(x) == U_NON_SPACING_MARK)
            changed = true;
        else
            changed = appendPlainLetter(x, base) || changed;
    }
    if (U_SUCCESS(status) && changed)
        out += base;
    else
        out += QChar::fromUcs4(c);
}

// Each BMP unit's bare unit, worked out once (about 10 ms): the look-up of
// a million rows then costs one table read a character.
struct BareUnits
{
    // Never a bare unit, nor the entry of a high surrogate: the scan for the
    // first change stops at every one of those.
    static constexpr char16_t kDropped = 0xDFFE, kOther = 0xDFFF;
    std::vector<char16_t> unit = std::vector<char16_t>(0x10000);
    // What each unit marked kOther becomes (æ is "ae"); only the surrogates,
    // which pair up or stay as they are, are not here.
    std::unordered_map<char16_t, QString> longer;
    BareUnits()
    {
        QString bare;
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c)) {
                unit[c] = kOther;
                continue;
            }
            bare.clear();
            appendBare(c, bare);
            unit[c] = bare.isEmpty() ? kDropped
                : bare.size() == 1 && !bare[0].isSurrogate() ? bare[0].unicode() : kOther;
            if (unit[c] == kOther)
                longer.emplace(char16_t(c), bare);
        }
    }
};

const BareUnits &bareUnits()
{
    static const BareUnits table;
    return table;
}

} // namespace

// Where dropMarks first changes 'folded' (its size if nowhere).
static qsizetype firstChange(QStringView folded, const std::vector<char16_t> &unit)
{
    qsizetype i = 0;
    while (i < folded.size() && unit[folded[i].unicode()] == folded[i].unicode())
        ++i;
    return i;
}

bool dropsMarks(QStringView folded)
{
    return firstChange(folded, bareUnits().unit) != folded.size();
}

QStringView dropMarks(QStringView folded, QString &buffer)
{
    const BareUnits &table = bareUnits();
    const std::vector<char16_t> &unit = table.unit;
    qsizetype i = firstChange(folded, unit);
    const qsizetype n = folded.size();
    if (i == n)
        return folded;
    buffer.resize(0);
    buffer.append(folded.first(i));
    while (i < n) {
        const char16_t u = folded[i].unicode(), b = unit[u];
        if (b == BareUnits::kDropped) {
            ++i;
        } else if (b != BareUnits::kOther) {
            buffer += QChar(b);
            ++i;
        } else if (const auto more = table.longer.find(u); more != table.longer.end()) {
            buffer += more->second;
            ++i;
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && folded[i + 1].isLowSurrogate()) {
            appendBare(QChar::surrogateToUcs4(u, folded[i + 1].unicode()), buffer);
            i += 2;
        } else {
            buffer += QChar(u); // a lone half stays as it is
            ++i;
        }
    }
    return buffer;
}

int compareBare(QStringView a, QStringView b)
{
    const std::vector<char16_t> &unit = bareUnits().unit;
    constexpr char16_t dropped = BareUnits::kDropped, other = BareUnits::kOther;
    for (qsizetype i = 0, j = 0;; ++i, ++j) {
        char16_t x = 0, y = 0;
        while (i < a.size() && (x = unit[a[i].unicode()]) == dropped)
            ++i;
        while (j < b.size() && (y = unit[b[j].unicode()]) == dropped)
            ++j;
        if (i == a.size() || j == b.size())
            return int(i < a.size()) - int(j < b.size());
        if (x == other || y == other)
            break; // a unit that becomes more than one: the slow way
        if (x != y)
            return x < y ? -1 : 1;
    }
    QString bufferA, bufferB;
    const QStringView x = dropMarks(a, bufferA), y = dropMarks(b, bufferB);
    return std::u16string_view(reinterpret_cast<const char16_t *>(x.data()), size_t(x.size()))
        .compare(std::u16string_view(reinterpret_cast<const char16_t *>(y.data()), size_t(y.size())));
}

std::optional<size_t> bareUnitsOfUtf8(std::string_view folded, char16_t *out, size_t wanted)
{
    const std::vector<char16_t> &unit = bareUnits().unit;
    const auto *p = reinterpret_cast<const unsigned char *>(folded.data()), *end = p + folded.size();
    size_t n = 0;
    while (n < wanted && p != end) {
        const std::optional<char16_t> u = nextBmpUnit(p, end);
        if (!u)
            return std::nullopt;
        const char16_t b = unit[*u];
        if (b == BareUnits::kOther)
            return std::nullopt;
        if (b != BareUnits::kDropped)
            out[n++] = b;
    }
    return n;
}

QString bareText(QStringView text, CaseRule rule)
{
    QString folded, bare;
    const QStringView f = foldCase(text, folded, rule);
    const QStringView b = dropMarks(f, bare);
    return b.data() == bare.constData() ? bare : b.data() == folded.constData() ? folded : b.toString();
}

static char32_t foldChar(char32_t c, CaseRule rule)
{
    return char32_t(u_foldCase(UChar32(c), foldOptions(rule)));
}

// Reads one code point at i and advances i.
static char32_t nextCodePoint(QStringView s, qsizetype &i)
{
    const char16_t u = s[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
        const char32_t c = QChar::surrogateToUcs4(u, s[i + 1].unicode());
        i += 2;
        return c;
    }
    ++i;
    return u;
}

std::optional<LikePattern> LikePattern::compile(QStringView pattern, QString *error, CaseRule rule)
{
    LikePattern p;
    p.m_rule = rule;
    qsizetype i = 0;
    QString literal; // unfolded run, folded as a whole when it ends
    auto flushLiteral = [&] {
        const QString folded = foldCase(literal, rule);
        for (qsizetype j = 0; j < folded.size();) {
            Token t;
            t.kind = Token::Literal;
            t.ch = nextCodePoint(folded, j);
            p.m_tokens.push_back(t);
        }
        literal.clear();
    };
    while (i < pattern.size()) {
        const QChar c = pattern[i];
        if (c == u'*' || c == u'?' || c == u'#') {
            flushLiteral();
            Token t;
            t.kind = c == u'*' ? Token::Star : c == u'?' ? Token::One : Token::Digit;
            // Adjacent stars mean the same as one.
            if (!(t.kind == Token::Star && !p.m_tokens.empty() && p.m_tokens.back().kind == Token::Star))
                p.m_tokens.push_back(t);
            ++i;
            continue;
        }
        if (c != u'[') {
            literal += c;
            ++i;
            continue;
        }
        flushLiteral();
        const qsizetype start = i++;
        Token t;
        t.kind = Token::Class;
        if (i < pattern.size() && pattern[i] == u'!') {
            t.negated = true;
            ++i;
        }
        bool closed = false;
        while (i < pattern.size()) {
            if (pattern[i] == u']') {
                closed = true;
                ++i;
                break;
            }
            const char32_t lo = foldChar(nextCodePoint(pattern, i), rule);
            char32_t hi = lo;
            if (i + 1 < pattern.size() && pattern[i] == u'-' && pattern[i + 1] != u']') {
                ++i;
                hi = foldChar(nextCodePoint(pattern, i), rule);
                if (hi < lo) {
                    if (error)
                        *error = QCoreApplication::translate("Like", "Neplatný rozsah ve vzoru na pozici %1.")
                                     .arg(start + 1);
                    return std::nullopt;
                }
            }
            t.ranges.push_back({lo, hi});
        }
        if (!closed) {
            if (error)
                *error = QCoreApplication::translate("Like", "Neuzavřená závorka „[“ ve vzoru na pozici %1.")
                             .arg(start + 1);
            return std::nullopt;
        }
        p.m_tokens.push_back(std::move(t));
    }
    flushLiteral();

    size_t k = 0;
    for (; k < p.m_tokens.size() && p.m_tokens[k].kind == Token::Literal; ++k)
        p.m_prefix += QChar::fromUcs4(p.m_tokens[k].ch); // QString::fromUcs4 would drop a U+FEFF
    p.m_prefixOnly = (k + 1 == p.m_tokens.size() && p.m_tokens[k].kind == Token::Star);
    return p;
}

bool LikePattern::matchOne(const Token &t, char32_t c) const
{
    switch (t.kind) {
    case Token::Literal: return c == t.ch;
    case Token::One: return true;
    case Token::Digit: return c >= U'0' && c <= U'9';
    case Token::Class: {
        bool in = false;
        for (const Range &r : t.ranges) {
            if (c >= r.lo && c <= r.hi) {
                in = true;
                break;
            }
        }
        return in != t.negated;
    }
    case Token::Star: break;
    }
    return false;
}

bool LikePattern::matchesFolded(QStringView text) const
{
    // Greedy match with backtracking to the last star: linear for patterns
    // with one star, never exponential.
    size_t ti = 0;
    qsizetype si = 0;
    size_t starToken = SIZE_MAX;
    qsizetype starText = 0;
    while (si < text.size()) {
        if (ti < m_tokens.size() && m_tokens[ti].kind == Token::Star) {
            starToken = ti++;
            starText = si;
            continue;
        }
        qsizetype next = si;
        const char32_t c = nextCodePoint(text, next);
        if (ti < m_tokens.size() && matchOne(m_tokens[ti], c)) {
            ++ti;
            si = next;
            continue;
        }
        if (starToken == SIZE_MAX)
            return false;
        ti = starToken + 1;
        nextCodePoint(text, starText);
        si = starText;
    }
    while (ti < m_tokens.size() && m_tokens[ti].kind == Token::Star)
        ++ti;
    return ti == m_tokens.size();
}

} // namespace tarnvik
