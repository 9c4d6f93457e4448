// Random words in many scripts, for tests that compare a fast structure with a
// plain answer. Each alphabet holds the letters where that script trips code
// that thinks in Latin: case pairs outside Latin 1, final forms, combining
// marks, characters outside the BMP.
#pragma once

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <memory>
#include <unicode/translit.h>

namespace testutil {

struct Script
{
    const char *name;
    QString letters; // by code point; upper case is made from these at random
};

inline const QList<Script> &scripts()
{
    static const QList<Script> all = {
        {"Latin 1", u"abcdeefghilmnorstuyzàáâäåæçèéêëíîïñòóôöøùúûüýÿß"_qs},
        {"Latin 2", u"aábcčdďeéěfghchiíjklľĺłmnňńoóôöőpqrřsšśtťuúůüűvwxyýzžźż"_qs},
        {"Turkish", u"abcçdefgğhıiİjklmnoöprsştuüvyz"_qs},
        {"Baltic", u"aąbcčdeęėfghiįyjklļmnņoprsštuųūvzž"_qs},
        {"Cyrillic", u"абвгдеёжзийклмнопрстуфхцчшщъыьэюяіїєґўђћџ"_qs},
        {"Greek", u"αβγδεζηθικλμνξοπρσςτυφχψωάέήίόύώϊϋΐΰ"_qs},
        {"Hebrew", u"אבגדהוזחטיכךלמםנןסעפףצץקרשת\u05B4\u05B7\u05BC"_qs},
        {"Arabic", u"ابتثجحخدذرزسشصضطظعغفقكلمنهويءآأؤإئةى\u064E\u0650"_qs},
        {"Vietnamese", u"aăâbcdđeêghiklmnoôơpqrstuưvxyảạắằẩẫậẽệếềểỉịọỏốồổỗộớờởỡợụủứừửữựỳỵỷỹ"_qs},
        {"Thai", u"กขคงจฉชซญดตถทธนบปผพฟภมยรลวศษสหอฮะาิีึืุูเแโใไ่้๊๋ั็์"_qs},
        {"CJK", u"的一是不了人我在有他这中大来上国个到说们日本語漢字あいうえおかきアイウエオ한국어"_qs},
        {"beyond the BMP", QString::fromUcs4(U"a\u00e9\U0001F600\U0001F431\U00010400\U00010428\U0001D400\U00020000\U00020001")},
    };
    return all;
}

// The letters of an alphabet, each a whole code point.
inline QStringList lettersOf(const QString &alphabet)
{
    QStringList out;
    for (qsizetype i = 0; i < alphabet.size(); ++i) {
        const qsizetype n = alphabet[i].isHighSurrogate() && i + 1 < alphabet.size() ? 2 : 1;
        out << alphabet.mid(i, n);
        i += n - 1;
    }
    return out;
}

// The first n code points of s.
inline QString firstCodePoints(const QString &s, int n)
{
    qsizetype i = 0;
    for (; i < s.size() && n > 0; --n)
        i += s[i].isHighSurrogate() && i + 1 < s.size() ? 2 : 1;
    return s.left(i);
}

// A word of 1 to 9 letters, sometimes in capitals or with a capital first;
// a few words begin with a stem shared by many, longer than any short key.
inline QString randomWord(const QStringList &letters, QRandomGenerator &rng)
{
    QString w;
    if (rng.bounded(4) == 0) {
        QRandomGenerator stem(quint32(rng.bounded(3)));
        for (int n = 0; n < 8; ++n)
            w += letters[stem.bounded(letters.size())];
    }
    for (int n = 1 + int(rng.bounded(9)); n > 0; --n)
        w += letters[rng.bounded(letters.size())];
    if (rng.bounded(10) == 0)
        w += u' ' + letters[rng.bounded(letters.size())];
    switch (rng.bounded(6)) {
    case 0: return w.toUpper();
    case 1: return firstCodePoints(w, 1).toUpper() + w.mid(firstCodePoints(w, 1).size());
    default: return w;
    }
}

// A code point without its diacritics, by Qt's Unicode tables rather than
// ICU's: its canonical decomposition less the nonspacing marks, else itself.
inline QString naiveBare(char32_t c)
{
    // Each base letter of the Latin script (beyond ASCII) that ICU's
    // Latin-ASCII spells in ASCII letters alone is taken so, in lower case.
    static const std::unique_ptr<icu::Transliterator> latinAscii = [] {
        UErrorCode status = U_ZERO_ERROR;
        return std::unique_ptr<icu::Transliterator>(
            icu::Transliterator::createInstance("Latin-ASCII", UTRANS_FORWARD, status));
    }();
    auto plain = [](char32_t d) {
        const QString one = QString::fromUcs4(&d, 1);
        if (d < 0x80 || !QChar::isLetter(d) || QChar::script(d) != QChar::Script_Latin)
            return one;
        icu::UnicodeString u(reinterpret_cast<const UChar *>(one.utf16()), int32_t(one.size()));
        latinAscii->transliterate(u);
        const QString ascii = QString(reinterpret_cast<const QChar *>(u.getBuffer()), u.length());
        static const QRegularExpression letters(QStringLiteral("^[A-Za-z]+$"));
        return letters.match(ascii).hasMatch() ? ascii.toLower() : one;
    };
    const QString whole = QString::fromUcs4(&c, 1);
    QString bare;
    bool changed = false;
    for (char32_t d : whole.normalized(QString::NormalizationForm_D).toUcs4()) {
        if (QChar::category(d) == QChar::Mark_NonSpacing) {
            changed = true;
        } else {
            const QString p = plain(d);
            changed = changed || p != QString::fromUcs4(&d, 1);
            bare += p;
        }
    }
    return changed ? bare : whole;
}

} // namespace testutil
