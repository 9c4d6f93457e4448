#include "StarDictSource.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

namespace tarnvik::mkdb {

namespace {

// The format asks for under 256 bytes; some dictionaries have longer ones,
// and past this the NUL is missing rather than far.
constexpr qsizetype kMaxWordBytes = 64 << 10;
constexpr qint64 kMaxIfoBytes = 1 << 20;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

quint64 bigEndian(const char *p, int n)
{
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | uchar(p[i]);
    return v;
}

std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return s;
}

// Drops a character cut in two at the end.
void trimToCharacter(QByteArray *data)
{
    const qsizetype end = data->size();
    qsizetype i = end;
    while (i > 0 && end - i < 3 && (uchar(data->at(i - 1)) & 0xC0) == 0x80)
        --i;
    if (i == 0)
        return;
    const uchar lead = uchar(data->at(i - 1));
    const qsizetype len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (len > end - (i - 1))
        data->truncate(i - 1);
}

struct TagSet
{
    QSet<QString> known, blocks, hidden; // hidden: content not shown either
};

const TagSet &tagsOf(char type)
{
    static const TagSet html{
        {u"a"_qs, u"abbr"_qs, u"acronym"_qs, u"address"_qs, u"article"_qs, u"aside"_qs, u"audio"_qs, u"b"_qs,
         u"bdi"_qs, u"bdo"_qs, u"big"_qs, u"blockquote"_qs, u"body"_qs, u"br"_qs, u"caption"_qs, u"center"_qs,
         u"cite"_qs, u"code"_qs, u"col"_qs, u"colgroup"_qs, u"dd"_qs, u"del"_qs, u"details"_qs, u"dfn"_qs, u"div"_qs,
         u"dl"_qs, u"dt"_qs, u"em"_qs, u"embed"_qs, u"figcaption"_qs, u"figure"_qs, u"font"_qs, u"footer"_qs,
         u"h1"_qs, u"h2"_qs, u"h3"_qs, u"h4"_qs, u"h5"_qs, u"h6"_qs, u"head"_qs, u"header"_qs, u"hr"_qs, u"html"_qs,
         u"i"_qs, u"img"_qs, u"ins"_qs, u"kbd"_qs, u"li"_qs, u"link"_qs, u"main"_qs, u"mark"_qs, u"meta"_qs,
         u"nav"_qs, u"ol"_qs, u"p"_qs, u"pre"_qs, u"q"_qs, u"rp"_qs, u"rt"_qs, u"ruby"_qs, u"s"_qs, u"samp"_qs,
         u"script"_qs, u"section"_qs, u"small"_qs, u"source"_qs, u"span"_qs, u"strike"_qs, u"strong"_qs,
         u"style"_qs, u"sub"_qs, u"summary"_qs, u"sup"_qs, u"table"_qs, u"tbody"_qs, u"td"_qs, u"tfoot"_qs,
         u"th"_qs, u"thead"_qs, u"time"_qs, u"title"_qs, u"tr"_qs, u"tt"_qs, u"u"_qs, u"ul"_qs, u"var"_qs,
         u"video"_qs, u"wbr"_qs},
        {u"address"_qs, u"article"_qs, u"aside"_qs, u"blockquote"_qs, u"caption"_qs, u"center"_qs, u"dd"_qs,
         u"details"_qs, u"div"_qs, u"dl"_qs, u"dt"_qs, u"figcaption"_qs, u"figure"_qs, u"footer"_qs, u"h1"_qs,
         u"h2"_qs, u"h3"_qs, u"h4"_qs, u"h5"_qs, u"h6"_qs, u"header"_qs, u"hr"_qs, u"li"_qs, u"main"_qs, u"nav"_qs,
         u"ol"_qs, u"p"_qs, u"pre"_qs, u"section"_qs, u"summary"_qs, u"table"_qs, u"tr"_qs, u"ul"_qs},
        {u"head"_qs, u"script"_qs, u"style"_qs}};
    static const TagSet xdxf{
        {u"abbr"_qs, u"abr"_qs, u"ant"_qs, u"ar"_qs, u"b"_qs, u"big"_qs, u"blockquote"_qs, u"br"_qs, u"c"_qs,
         u"categ"_qs, u"co"_qs, u"def"_qs, u"deftext"_qs, u"dtrn"_qs, u"etm"_qs, u"ex"_qs, u"ex_orig"_qs,
         u"ex_tran"_qs, u"gr"_qs, u"hpr"_qs, u"i"_qs, u"iref"_qs, u"k"_qs, u"kref"_qs, u"mrkd"_qs, u"nu"_qs,
         u"opt"_qs, u"rref"_qs, u"small"_qs, u"sr"_qs, u"sub"_qs, u"sup"_qs, u"syn"_qs, u"tr"_qs, u"tt"_qs,
         u"u"_qs},
        {u"ar"_qs, u"blockquote"_qs, u"def"_qs, u"ex"_qs},
        {}};
    static const TagSet pango{
        {u"b"_qs, u"big"_qs, u"br"_qs, u"i"_qs, u"markup"_qs, u"s"_qs, u"small"_qs, u"span"_qs, u"sub"_qs,
         u"sup"_qs, u"tt"_qs, u"u"_qs},
        {},
        {}};
    return type == 'h' ? html : type == 'x' ? xdxf : pango;
}

// A character reference at 'i' (just after '&'); the length it took, or 0.
qsizetype entity(QStringView s, qsizetype i, QString *out)
{
    static const QHash<QString, char16_t> names{
        {u"amp"_qs, u'&'},       {u"lt"_qs, u'<'},        {u"gt"_qs, u'>'},        {u"quot"_qs, u'"'},
        {u"apos"_qs, u'\''},     {u"nbsp"_qs, 0x00A0},    {u"shy"_qs, 0x00AD},     {u"ndash"_qs, 0x2013},
        {u"mdash"_qs, 0x2014},   {u"hellip"_qs, 0x2026},  {u"laquo"_qs, 0x00AB},   {u"raquo"_qs, 0x00BB},
        {u"lsquo"_qs, 0x2018},   {u"rsquo"_qs, 0x2019},   {u"sbquo"_qs, 0x201A},   {u"ldquo"_qs, 0x201C},
        {u"rdquo"_qs, 0x201D},   {u"bdquo"_qs, 0x201E},   {u"middot"_qs, 0x00B7},  {u"bull"_qs, 0x2022},
        {u"copy"_qs, 0x00A9},    {u"reg"_qs, 0x00AE},     {u"trade"_qs, 0x2122},   {u"deg"_qs, 0x00B0},
        {u"plusmn"_qs, 0x00B1},  {u"times"_qs, 0x00D7},   {u"divide"_qs, 0x00F7},  {u"sect"_qs, 0x00A7},
        {u"para"_qs, 0x00B6},    {u"euro"_qs, 0x20AC},    {u"larr"_qs, 0x2190},    {u"rarr"_qs, 0x2192},
        {u"harr"_qs, 0x2194},    {u"asymp"_qs, 0x2248},   {u"ne"_qs, 0x2260},      {u"le"_qs, 0x2264},
        {u"ge"_qs, 0x2265},      {u"frac12"_qs, 0x00BD},  {u"frac14"_qs, 0x00BC},  {u"frac34"_qs, 0x00BE}};
    const qsizetype semi = s.indexOf(u';', i);
    if (semi < 0 || semi - i > 10 || semi == i)
        return 0;
    const QStringView ref = s.sliced(i, semi - i);
    if (ref.front() == u'#') {
        bool ok = false;
        const bool hex = ref.size() > 1 && (ref[1] == u'x' || ref[1] == u'X');
        const uint code = ref.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return 0;
        *out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
        return semi - i + 1;
    }
    const auto it = names.constFind(ref.toString());
    if (it == names.cend())
        return 0;
    *out += QChar(*it);
    return semi - i + 1;
}

} // namespace

// --- GzStream ----------------------------------------------------------

bool GzStream::open(const QString &path, bool gzip, QString *error)
{
    close();
    m_path = path;
    m_position = 0;
    if (!gzip) {
        m_plain.setFileName(path);
        if (m_plain.open(QIODevice::ReadOnly))
            return true;
        *error = QStringLiteral("Soubor „%1“ nelze otevřít: %2").arg(path, m_plain.errorString());
        return false;
    }
    m_gz = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!m_gz) {
        *error = QStringLiteral("Soubor „%1“ nelze otevřít.").arg(path);
        return false;
    }
    gzbuffer(m_gz, 1 << 16);
    // zlib would pass anything else through as it is.
    if (gzdirect(m_gz)) {
        close();
        *error = QStringLiteral("Soubor „%1“ není ve formátu gzip.").arg(path);
        return false;
    }
    return true;
}

void GzStream::close()
{
    if (m_gz)
        gzclose(m_gz);
    m_gz = nullptr;
    m_plain.close();
}

int GzStream::getByte()
{
    int c = -1;
    if (m_gz) {
        c = gzgetc(m_gz);
    } else {
        char byte;
        if (m_plain.getChar(&byte))
            c = uchar(byte);
    }
    if (c >= 0)
        ++m_position;
    return c;
}

bool GzStream::read(char *to, int n)
{
    const qint64 got = m_gz ? gzread(m_gz, to, unsigned(n)) : m_plain.read(to, n);
    if (got > 0)
        m_position += got;
    return got == n;
}

QString GzStream::broken() const
{
    if (!m_gz) {
        if (m_plain.error() == QFileDevice::NoError)
            return QString();
        return QStringLiteral("Soubor „%1“ nelze číst (u bajtu %2): %3").arg(m_path).arg(m_position).arg(m_plain.errorString());
    }
    int code = Z_OK;
    const char *message = gzerror(m_gz, &code);
    if (code == Z_OK)
        return QString();
    return QStringLiteral("Soubor „%1“ je poškozený (u bajtu %2 rozbaleného textu): %3")
        .arg(m_path)
        .arg(m_position)
        .arg(QString::fromLocal8Bit(message));
}

// --- StarDictSource ----------------------------------------------------

bool StarDictSource::readIfo()
{
    QFile f(m_ifoPath);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Soubor „%1“ nelze otevřít: %2").arg(m_ifoPath, f.errorString()));
    if (f.size() > kMaxIfoBytes)
        return fail(QStringLiteral("%1: soubor je na popis slovníku příliš velký.").arg(m_ifoPath));
    QByteArray all = f.readAll();
    if (all.startsWith("\xEF\xBB\xBF"))
        all.remove(0, 3);
    const QList<QByteArray> lines = all.split('\n');
    auto text = [](QByteArray line) {
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    };
    if (text(lines.front()) != "StarDict's dict ifo file")
        return fail(QStringLiteral("%1:1: první řádek není „StarDict's dict ifo file“.").arg(m_ifoPath));
    QString version;
    m_wordCount = m_synCount = m_idxFileSize = -1;
    m_offsetBits = 32;
    m_sameTypes.clear();
    m_title.clear();
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray line = text(lines[n]);
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.first(eq).trimmed();
        const auto value = strictUtf8(QByteArrayView(line).sliced(eq + 1));
        if (!value)
            return fail(QStringLiteral("%1:%2: text není platné UTF-8.").arg(m_ifoPath).arg(n + 1));
        auto number = [&](qint64 *to) {
            bool ok = false;
            *to = value->trimmed().toLongLong(&ok);
            if (ok && *to >= 0)
                return true;
            return fail(QStringLiteral("%1:%2: %3 musí být nezáporné celé číslo, ne „%4“.")
                            .arg(m_ifoPath)
                            .arg(n + 1)
                            .arg(QString::fromLatin1(key), *value));
        };
        if (key == "version") {
            version = value->trimmed();
            if (version != u"2.4.2" && version != u"3.0.0")
                return fail(QStringLiteral("%1:%2: verzi „%3“ číst neumím (jen 2.4.2 a 3.0.0).")
                                .arg(m_ifoPath)
                                .arg(n + 1)
                                .arg(version));
        } else if (key == "bookname") {
            m_title = value->trimmed();
        } else if (key == "wordcount") {
            if (!number(&m_wordCount))
                return false;
        } else if (key == "synwordcount") {
            if (!number(&m_synCount))
                return false;
        } else if (key == "idxfilesize") {
            if (!number(&m_idxFileSize))
                return false;
        } else if (key == "idxoffsetbits") {
            qint64 bits = 0;
            if (!number(&bits))
                return false;
            if (bits != 32 && bits != 64)
                return fail(QStringLiteral("%1:%2: idxoffsetbits smí být jen 32 nebo 64.").arg(m_ifoPath).arg(n + 1));
            m_offsetBits = int(bits);
        } else if (key == "sametypesequence") {
            m_sameTypes = line.sliced(eq + 1).trimmed();
            if (m_sameTypes.isEmpty() || !std::all_of(m_sameTypes.cbegin(), m_sameTypes.cend(), isLetter))
                return fail(QStringLiteral("%1:%2: sametypesequence smí obsahovat jen písmena typů.")
                                .arg(m_ifoPath)
                                .arg(n + 1));
        }
    }
    if (version.isEmpty())
        return fail(QStringLiteral("%1: chybí řádek „version=“.").arg(m_ifoPath));
    if (m_wordCount < 0)
        return fail(QStringLiteral("%1: chybí řádek „wordcount=“.").arg(m_ifoPath));
    return true;
}

bool StarDictSource::start()
{
    m_line = 0;
    m_names = QStringList{QStringLiteral("headword"), QStringLiteral("definition")};
    m_inSyn = false;
    m_synRead = 0;
    m_entries.clear();
    m_rowCut = false;
    if (!readIfo())
        return false;
    QString base = m_ifoPath;
    if (base.endsWith(u".ifo", Qt::CaseInsensitive))
        base.chop(4);
    auto beside = [&](const char *ending, QString *path) {
        for (const QString &p : {base + QLatin1String(ending), base + QLatin1String(ending) + u".gz"_qs}) {
            if (QFileInfo::exists(p)) {
                *path = p;
                return true;
            }
        }
        return false;
    };
    if (!beside(".idx", &m_idxPath))
        return fail(QStringLiteral("K popisu „%1“ chybí rejstřík %2.idx ani %2.idx.gz.").arg(m_ifoPath, base));
    if (!m_idx.open(m_idxPath, m_idxPath.endsWith(u".gz"), &m_error))
        return false;
    m_syn.close();
    if (beside(".syn", &m_synPath)) {
        if (!m_syn.open(m_synPath, m_synPath.endsWith(u".gz"), &m_error))
            return false;
    } else if (m_synCount > 0) {
        return fail(QStringLiteral("Popis „%1“ uvádí synwordcount=%2, ale soubor %3.syn chybí.")
                        .arg(m_ifoPath)
                        .arg(m_synCount)
                        .arg(base));
    } else {
        m_synPath.clear();
    }
    if (m_dict.isOpen())
        return true;
    if (QFileInfo::exists(base + u".dict"_qs)) {
        m_dict.setFileName(base + u".dict"_qs);
    } else if (QFileInfo::exists(base + u".dict.dz"_qs)) {
        m_unpacked = unpackGzip(base + u".dict.dz"_qs, &m_error);
        if (!m_unpacked)
            return false;
        m_dict.setFileName(m_unpacked->fileName());
    } else {
        return fail(QStringLiteral("K popisu „%1“ chybí soubor %2.dict ani %2.dict.dz.").arg(m_ifoPath, base));
    }
    if (!m_dict.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Soubor „%1“ nelze otevřít: %2").arg(m_dict.fileName(), m_dict.errorString()));
    return true;
}

RowSource::Result StarDictSource::nextWord(GzStream &in, qint64 number, QByteArray *word, bool *ended)
{
    word->clear();
    *ended = false;
    for (;;) {
        const int c = in.getByte();
        if (c < 0) {
            const QString why = in.broken();
            if (!why.isEmpty()) {
                fail(why);
                return Error;
            }
            if (word->isEmpty()) {
                *ended = true;
                return Ok;
            }
            fail(QStringLiteral("%1: záznam č. %2 nemá ukončovací nulu, soubor končí (bajt %3).")
                     .arg(in.path())
                     .arg(number)
                     .arg(in.position()));
            return Error;
        }
        if (c == 0)
            return Ok;
        if (word->size() >= kMaxWordBytes) {
            fail(QStringLiteral("%1: záznam č. %2 nemá ani po %3 bajtech ukončovací nulu (bajt %4).")
                     .arg(in.path())
                     .arg(number)
                     .arg(kMaxWordBytes)
                     .arg(in.position()));
            return Error;
        }
        word->append(char(c));
    }
}

bool StarDictSource::definition(const Entry &e, const QString &where, std::optional<QString> *text)
{
    const quint64 size = quint64(m_dict.size());
    if (e.offset > size || e.size > size - e.offset)
        return fail(QStringLiteral("%1 ukazuje mimo soubor „%2“ (posun %3, délka %4, velikost souboru %5 B).")
                        .arg(where, QFileInfo(m_dict.fileName()).fileName())
                        .arg(e.offset)
                        .arg(e.size)
                        .arg(size));
    const qint64 want = std::min<qint64>(e.size, kMaxEntryBytes);
    if (!m_dict.seek(qint64(e.offset)))
        return fail(QStringLiteral("%1: čtení slovníku selhalo: %2").arg(where, m_dict.errorString()));
    QByteArray data = m_dict.read(want);
    if (data.size() != want)
        return fail(QStringLiteral("%1: čtení slovníku selhalo: %2").arg(where, m_dict.errorString()));
    const bool cut = want < qint64(e.size);
    if (cut) {
        trimToCharacter(&data);
        m_rowCut = true;
    }

    QStringList texts;
    bool anyText = false;
    auto take = [&](char type, QByteArrayView part) {
        if (!QByteArrayView("mtyhgx").contains(type))
            return true; // sound, pictures, and text of kinds not read
        if (part.endsWith('\0'))
            part.chop(1);
        const auto s = strictUtf8(part);
        if (!s)
            return fail(
                QStringLiteral("%1: text části typu „%2“ není platné UTF-8.").arg(where).arg(QChar(type)));
        anyText = true;
        const QString plain = QByteArrayView("hgx").contains(type) ? plainText(*s, type) : *s;
        if (!plain.isEmpty())
            texts << plain;
        return true;
    };
    const qsizetype n = data.size();
    qsizetype pos = 0;
    auto partError = [&](char type, const char *what) {
        return fail(QStringLiteral("%1: část typu „%2“ %3 (bajt %4 hesla).")
                        .arg(where)
                        .arg(QChar(type))
                        .arg(QString::fromUtf8(what))
                        .arg(pos));
    };
    // One part at 'pos'; a cut entry's last part goes as far as it was read.
    auto readPart = [&](char type, bool last, bool *done) {
        QByteArrayView part;
        if (last) {
            part = QByteArrayView(data).sliced(pos);
            pos = n;
        } else if (type >= 'a' && type <= 'z') {
            const qsizetype nul = data.indexOf('\0', pos);
            if (nul < 0 && !cut)
                return partError(type, "nemá ukončovací nulu");
            const qsizetype end = nul < 0 ? n : nul;
            part = QByteArrayView(data).sliced(pos, end - pos);
            pos = nul < 0 ? n : end + 1;
        } else {
            if (n - pos < 4 || qint64(bigEndian(data.constData() + pos, 4)) > n - pos - 4) {
                if (!cut)
                    return partError(type, "je delší než zbytek hesla");
                *done = true;
                return true;
            }
            const qsizetype len = qsizetype(bigEndian(data.constData() + pos, 4));
            part = QByteArrayView(data).sliced(pos + 4, len);
            pos += 4 + len;
        }
        return take(type, part);
    };
    bool done = false;
    if (!m_sameTypes.isEmpty()) {
        for (qsizetype k = 0; k < m_sameTypes.size() && !done; ++k) {
            if (!readPart(m_sameTypes[k], k + 1 == m_sameTypes.size(), &done))
                return false;
            if (cut && pos >= n)
                break;
        }
    } else {
        while (pos < n && !done) {
            const char type = data[pos++];
            if (!isLetter(type))
                return fail(QStringLiteral("%1: neznámý typ části (bajt 0x%2 na místě %3 hesla).")
                                .arg(where)
                                .arg(uchar(type), 2, 16, QLatin1Char('0'))
                                .arg(pos - 1));
            if (!readPart(type, false, &done))
                return false;
        }
    }
    *text = anyText ? std::optional<QString>(texts.join(u'\n')) : std::nullopt;
    return true;
}

RowSource::Result StarDictSource::next(Row *row)
{
    m_rowCut = false;
    QByteArray word;
    bool ended = false;
    if (!m_inSyn) {
        if (nextWord(m_idx, m_line + 1, &word, &ended) == Error)
            return Error;
        if (ended) {
            if (m_line != m_wordCount) {
                fail(QStringLiteral("%1: počet hesel v rejstříku (%2) nesouhlasí s wordcount=%4 v popisu „%3“.")
                         .arg(m_idxPath)
                         .arg(m_line)
                         .arg(QFileInfo(m_ifoPath).fileName())
                         .arg(m_wordCount));
                return Error;
            }
            if (m_idxFileSize >= 0 && m_idx.position() != m_idxFileSize) {
                fail(QStringLiteral("%1: velikost rejstříku (%2 B) nesouhlasí s idxfilesize=%4 v popisu „%3“.")
                         .arg(m_idxPath)
                         .arg(m_idx.position())
                         .arg(QFileInfo(m_ifoPath).fileName())
                         .arg(m_idxFileSize));
                return Error;
            }
            m_inSyn = true;
            m_line = 0;
            if (m_synPath.isEmpty())
                return End;
        } else {
            ++m_line;
            const int offsetBytes = m_offsetBits / 8;
            char numbers[12];
            const auto headword = strictUtf8(word);
            const QString shown = headword ? *headword : QString::fromUtf8(word);
            if (!m_idx.read(numbers, offsetBytes + 4)) {
                const QString why = m_idx.broken();
                fail(why.isEmpty() ? QStringLiteral("%1: rejstřík končí uprostřed hesla č. %2 „%3“ (bajt %4).")
                                         .arg(m_idxPath)
                                         .arg(m_line)
                                         .arg(shown)
                                         .arg(m_idx.position())
                                   : why);
                return Error;
            }
            const QString where = QStringLiteral("%1: heslo č. %2 „%3“").arg(m_idxPath).arg(m_line).arg(shown);
            if (!headword) {
                fail(where + QStringLiteral(" není platné UTF-8."));
                return Error;
            }
            const Entry e{bigEndian(numbers, offsetBytes), quint32(bigEndian(numbers + offsetBytes, 4))};
            if (!m_synPath.isEmpty())
                m_entries.push_back(e);
            std::optional<QString> text;
            if (!definition(e, where, &text))
                return Error;
            row->assign({*headword, text});
            return Ok;
        }
    }

    if (nextWord(m_syn, m_line + 1, &word, &ended) == Error)
        return Error;
    if (ended) {
        if (m_synCount >= 0 && m_line != m_synCount) {
            fail(QStringLiteral("%1: počet synonym (%2) nesouhlasí se synwordcount=%4 v popisu „%3“.")
                     .arg(m_synPath)
                     .arg(m_line)
                     .arg(QFileInfo(m_ifoPath).fileName())
                     .arg(m_synCount));
            return Error;
        }
        return End;
    }
    ++m_line;
    const auto synonym = strictUtf8(word);
    const QString where = QStringLiteral("%1: synonymum č. %2 „%3“")
                              .arg(m_synPath)
                              .arg(m_line)
                              .arg(synonym ? *synonym : QString::fromUtf8(word));
    char number[4];
    if (!m_syn.read(number, 4)) {
        const QString why = m_syn.broken();
        fail(why.isEmpty() ? where + QStringLiteral(": soubor končí uprostřed záznamu (bajt %1).").arg(m_syn.position())
                           : why);
        return Error;
    }
    if (!synonym) {
        fail(where + QStringLiteral(" není platné UTF-8."));
        return Error;
    }
    const quint64 index = bigEndian(number, 4);
    if (index >= m_entries.size()) {
        fail(where
             + QStringLiteral(" odkazuje na heslo č. %1, rejstřík jich má %2.").arg(index + 1).arg(m_entries.size()));
        return Error;
    }
    std::optional<QString> text;
    if (!definition(m_entries[size_t(index)], where, &text))
        return Error;
    row->assign({*synonym, text});
    return Ok;
}

QString StarDictSource::plainText(QStringView s, char type)
{
    const TagSet &tags = tagsOf(type);
    QString out;
    out.reserve(s.size());
    auto lineBreak = [&] {
        if (!out.isEmpty() && !out.endsWith(u'\n'))
            out += u'\n';
    };
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (c == u'&') {
            const qsizetype used = entity(s, i + 1, &out);
            if (used == 0)
                out += c;
            i += 1 + used;
            continue;
        }
        if (c != u'<') {
            out += c;
            ++i;
            continue;
        }
        if (s.sliced(i).startsWith(u"<!--")) {
            const qsizetype end = s.indexOf(u"-->", i + 4);
            i = end < 0 ? n : end + 3;
            continue;
        }
        // A tag: its name, then attributes (quoted values may hold '>').
        qsizetype j = i + 1;
        const bool closing = j < n && s[j] == u'/';
        if (closing)
            ++j;
        const qsizetype nameStart = j;
        while (j < n && s[j].unicode() < 0x80
               && (s[j].isLetterOrNumber() || s[j] == u'_' || s[j] == u'-' || s[j] == u':'))
            ++j;
        const QString name = s.sliced(nameStart, j - nameStart).toString().toLower();
        bool tag = !name.isEmpty() && name.front().isLetter() && tags.known.contains(name)
                   && j < n && (s[j] == u'>' || s[j] == u'/' || s[j].isSpace());
        QChar quote;
        while (tag && j < n && (s[j] != u'>' || !quote.isNull())) {
            if (quote.isNull() && (s[j] == u'"' || s[j] == u'\''))
                quote = s[j];
            else if (s[j] == quote)
                quote = QChar();
            ++j;
        }
        if (!tag || j >= n) {
            out += c;
            ++i;
            continue;
        }
        i = j + 1;
        if (name == u"br") {
            out += u'\n';
        } else if (tags.blocks.contains(name)) {
            lineBreak();
        } else if (!closing && tags.hidden.contains(name)) {
            const qsizetype end = s.indexOf(QString(u"</"_qs + name), i, Qt::CaseInsensitive);
            const qsizetype close = end < 0 ? -1 : s.indexOf(u'>', end);
            i = close < 0 ? n : close + 1;
        }
    }
    while (!out.isEmpty() && out.back().isSpace())
        out.chop(1);
    return out;
}

} // namespace tarnvik::mkdb
