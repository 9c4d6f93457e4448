#include "RowSource.h"

#include "db/write/Formats.h"
#include "db/write/StarDictSource.h"

#include <QFileInfo>
#include <zlib.h>

namespace tarnvik::mkdb {

bool RowSource::fail(const QString &message)
{
    m_error = message;
    return false;
}

std::unique_ptr<RowSource> RowSource::forFile(const QString &path, const QString &format, QString *error)
{
    const QString kind = format.isEmpty() ? formatOf(path) : format;
    if (kind == u"tsv")
        return std::make_unique<TsvSource>(path);
    if (kind == u"csv")
        return std::make_unique<CsvSource>(path);
    if (kind == u"dictd")
        return std::make_unique<DictdSource>(path);
    if (kind == u"stardict")
        return std::make_unique<StarDictSource>(path);
    *error = kind.isEmpty() ? QStringLiteral("Formát souboru „%1“ nelze určit z přípony; použijte --format tsv|csv|dictd|stardict.").arg(path)
                            : QStringLiteral("Neznámý formát „%1“.").arg(kind);
    return nullptr;
}

bool LineReader::open(const QString &path, QString *error)
{
    m_file.close();
    m_file.setFileName(path);
    m_first = true;
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Soubor „%1“ nelze otevřít: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

bool LineReader::readLine(QString *line, bool *bad)
{
    QByteArray bytes = m_file.readLine();
    if (bytes.isEmpty())
        return false;
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    if (m_first && bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    m_first = false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *line = utf8.decode(bytes);
    *bad = utf8.hasError();
    return true;
}

std::unique_ptr<QTemporaryFile> unpackGzip(const QString &path, QString *error)
{
    // dictzip is gzip with extra fields: unpack once, then read at offsets.
    gzFile gz = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!gz) {
        *error = QStringLiteral("Soubor „%1“ nelze otevřít.").arg(path);
        return nullptr;
    }
    // zlib would pass anything else through as it is.
    if (gzdirect(gz)) {
        gzclose(gz);
        *error = QStringLiteral("Soubor „%1“ není ve formátu gzip.").arg(path);
        return nullptr;
    }
    auto out = std::make_unique<QTemporaryFile>();
    if (!out->open()) {
        gzclose(gz);
        *error = QStringLiteral("Dočasný soubor nelze vytvořit: %1").arg(out->errorString());
        return nullptr;
    }
    char buffer[1 << 16];
    int n;
    while ((n = gzread(gz, buffer, sizeof buffer)) > 0) {
        if (out->write(buffer, n) != n) {
            gzclose(gz);
            *error = QStringLiteral("Zápis do dočasného souboru selhal: %1").arg(out->errorString());
            return nullptr;
        }
    }
    // A stream cut short reads as an end, and only the close tells.
    const qint64 unpacked = out->size();
    const bool broken = gzclose(gz) != Z_OK || n < 0;
    if (broken) {
        *error = QStringLiteral("Soubor „%1“ je poškozený (po %2 bajtech rozbaleného textu).").arg(path).arg(unpacked);
        return nullptr;
    }
    if (!out->flush()) {
        *error = QStringLiteral("Zápis do dočasného souboru selhal: %1").arg(out->errorString());
        return nullptr;
    }
    return out;
}

// --- TSV ---------------------------------------------------------------

bool DelimitedSource::start()
{
    m_line = 0;
    m_names.clear();
    if (!m_reader.open(m_path, &m_error))
        return false;
    Row header;
    const Result r = readRecord(&header);
    if (r == End)
        return fail(QStringLiteral("%1: chybí řádek s názvy polí.").arg(m_path));
    if (r == Error)
        return false;
    for (const auto &v : header)
        m_names << v.value_or(QString());
    return true;
}

RowSource::Result DelimitedSource::next(Row *row)
{
    const Result r = readRecord(row);
    if (r == Ok && row->size() != size_t(m_names.size())) {
        fail(QStringLiteral("%1:%2: záznam má %3 polí, záhlaví %4.").arg(m_path).arg(m_line).arg(row->size()).arg(m_names.size()));
        return Error;
    }
    return r;
}

bool TsvSource::splitLine(const QString &line, Row *row)
{
    row->clear();
    QString field;
    bool fieldIsNull = false;
    const auto finish = [&] {
        row->push_back(fieldIsNull ? std::nullopt : std::optional<QString>(field));
        field.clear();
        fieldIsNull = false;
    };
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'\t') {
            finish();
            continue;
        }
        if (fieldIsNull)
            return fail(QStringLiteral("%1:%2: za \\N nesmí v poli nic následovat.").arg(m_path).arg(m_line));
        if (c != u'\\') {
            field += c;
            continue;
        }
        if (++i >= line.size())
            return fail(QStringLiteral("%1:%2: zpětné lomítko na konci řádku.").arg(m_path).arg(m_line));
        switch (line[i].unicode()) {
        case 't': field += u'\t'; break;
        case 'n': field += u'\n'; break;
        case 'r': field += u'\r'; break;
        case '\\': field += u'\\'; break;
        case 'N':
            if (!field.isEmpty())
                return fail(QStringLiteral("%1:%2: \\N musí stát v poli samo.").arg(m_path).arg(m_line));
            fieldIsNull = true;
            break;
        default:
            return fail(QStringLiteral("%1:%2: neznámá sekvence „\\%3“.").arg(m_path).arg(m_line).arg(line[i]));
        }
    }
    finish();
    return true;
}

RowSource::Result TsvSource::readRecord(Row *row)
{
    QString line;
    bool bad = false;
    if (!m_reader.readLine(&line, &bad))
        return End;
    ++m_line;
    if (bad) {
        fail(QStringLiteral("%1:%2: text není platné UTF-8.").arg(m_path).arg(m_line));
        return Error;
    }
    return splitLine(line, row) ? Ok : Error;
}

// --- CSV ---------------------------------------------------------------

RowSource::Result CsvSource::readRecord(Row *row)
{
    row->clear();
    QString line;
    bool bad = false;
    if (!m_reader.readLine(&line, &bad))
        return End;
    ++m_line;
    const qint64 firstLine = m_line;
    QString field;
    bool quoted = false, inQuotes = false, afterQuote = false;
    qsizetype i = 0;
    for (;;) {
        if (bad) {
            fail(QStringLiteral("%1:%2: text není platné UTF-8.").arg(m_path).arg(m_line));
            return Error;
        }
        if (i >= line.size()) {
            if (inQuotes) {
                // A quoted field goes on past the end of the line.
                if (!m_reader.readLine(&line, &bad)) {
                    fail(QStringLiteral("%1:%2: neuzavřené uvozovky.").arg(m_path).arg(firstLine));
                    return Error;
                }
                ++m_line;
                field += u'\n';
                i = 0;
                continue;
            }
            row->push_back(quoted || !field.isEmpty() ? std::optional<QString>(field) : std::nullopt);
            break;
        }
        const QChar c = line[i++];
        if (inQuotes) {
            if (c != u'"') {
                field += c;
            } else if (i < line.size() && line[i] == u'"') {
                field += u'"';
                ++i;
            } else {
                inQuotes = false;
                afterQuote = true;
            }
        } else if (c == u',') {
            row->push_back(quoted || !field.isEmpty() ? std::optional<QString>(field) : std::nullopt);
            field.clear();
            quoted = afterQuote = false;
        } else if (afterQuote) {
            fail(QStringLiteral("%1:%2: po uzavírací uvozovce musí následovat čárka.").arg(m_path).arg(m_line));
            return Error;
        } else if (c == u'"' && field.isEmpty() && !quoted) {
            quoted = inQuotes = true;
        } else if (c == u'"') {
            fail(QStringLiteral("%1:%2: uvozovka uprostřed pole bez uvozovek.").arg(m_path).arg(m_line));
            return Error;
        } else {
            field += c;
        }
    }
    m_line = firstLine;
    return Ok;
}

// --- dictd -------------------------------------------------------------

bool DictdSource::decodeNumber(QStringView s, qint64 *value)
{
    static const QLatin1StringView digits("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    qint64 v = 0;
    if (s.isEmpty() || s.size() > 10)
        return false;
    for (QChar c : s) {
        const qsizetype d = digits.indexOf(c);
        if (d < 0)
            return false;
        v = v * 64 + d;
    }
    *value = v;
    return true;
}

bool DictdSource::start()
{
    m_line = 0;
    m_names = QStringList{QStringLiteral("headword"), QStringLiteral("definition")};
    if (!m_index.open(m_indexPath, &m_error))
        return false;
    if (m_dict.isOpen()) {
        m_dict.seek(0);
        return true;
    }
    QString base = m_indexPath;
    base.chop(QStringLiteral(".index").size());
    if (QFileInfo::exists(base + QStringLiteral(".dict"))) {
        m_dict.setFileName(base + QStringLiteral(".dict"));
    } else if (QFileInfo::exists(base + QStringLiteral(".dict.dz"))) {
        m_unpacked = unpackGzip(base + QStringLiteral(".dict.dz"), &m_error);
        if (!m_unpacked)
            return false;
        m_dict.setFileName(m_unpacked->fileName());
    } else {
        return fail(QStringLiteral("K rejstříku „%1“ chybí soubor .dict ani .dict.dz.").arg(m_indexPath));
    }
    if (!m_dict.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Soubor „%1“ nelze otevřít: %2").arg(m_dict.fileName(), m_dict.errorString()));
    return true;
}

RowSource::Result DictdSource::next(Row *row)
{
    QString line;
    bool bad = false;
    for (;;) {
        if (!m_index.readLine(&line, &bad))
            return End;
        ++m_line;
        if (bad) {
            fail(QStringLiteral("%1:%2: text není platné UTF-8.").arg(m_indexPath).arg(m_line));
            return Error;
        }
        const QStringList parts = line.split(u'\t');
        qint64 offset = 0, length = 0;
        if (parts.size() < 3 || !decodeNumber(parts[1], &offset) || !decodeNumber(parts[2], &length)) {
            fail(QStringLiteral("%1:%2: řádek rejstříku nemá tvar „heslo<TAB>posun<TAB>délka“.").arg(m_indexPath).arg(m_line));
            return Error;
        }
        const QString &headword = parts[0];
        if (offset + length > m_dict.size() || !m_dict.seek(offset)) {
            fail(QStringLiteral("%1:%2: heslo „%3“ ukazuje mimo soubor slovníku.").arg(m_indexPath).arg(m_line).arg(headword));
            return Error;
        }
        const QByteArray bytes = m_dict.read(length);
        m_utf8.resetState();
        QString entry = m_utf8.decode(bytes);
        if (m_utf8.hasError()) {
            fail(QStringLiteral("%1:%2: text hesla „%3“ není platné UTF-8.").arg(m_indexPath).arg(m_line).arg(headword));
            return Error;
        }
        // The entry repeats the headword (with grammar notes) on its first line.
        const qsizetype nl = entry.indexOf(u'\n');
        if (nl >= 0 && (entry.startsWith(headword, Qt::CaseInsensitive) || entry.startsWith(u"00-database")))
            entry.remove(0, nl + 1);
        while (!entry.isEmpty() && entry.back().isSpace())
            entry.chop(1);
        // The dictionary's own description entries, not words; the short one is its name.
        if (headword.isEmpty() || headword.startsWith(u"00-database") || headword.startsWith(u"00database")) {
            if (headword == u"00-database-short" || headword == u"00databaseshort")
                m_title = entry.section(u'\n', 0, 0).trimmed();
            continue;
        }
        row->assign({headword, entry});
        return Ok;
    }
}

} // namespace tarnvik::mkdb
