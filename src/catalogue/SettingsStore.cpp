#include "SettingsStore.h"
#include "platform/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <unistd.h>

namespace tarnvik {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

QString fold(const QString &section, const QString &key)
{
    return section.toCaseFolded() + u'\n' + key.toCaseFolded();
}

// One line of the file, kept byte for byte unless a change rewrites its value.
struct Line
{
    QByteArray text;
    QByteArrayView eol;   // "\n", "\r\n", or empty on an unterminated last line
    QString section;      // folded; null before the first header and under a broken one
    QString id;           // key lines: fold(section, key)
    qsizetype valueAt = -1;
    bool header = false;

    QString value() const { return SettingsStore::decodeValue(trimmed(QByteArrayView(text).sliced(valueAt))); }
};

struct IniFile
{
    QByteArray bom;
    QList<Line> lines;

    QByteArray eol() const
    {
        for (const Line &l : lines)
            if (!l.eol.isEmpty())
                return l.eol.toByteArray();
        return "\n";
    }
};

// A settings file larger than this is no settings file: reading it would
// only exhaust memory.
constexpr qint64 kMaxFileSize = 64 << 20;

// Empty when the file does not exist (a link to nowhere included: a save
// makes the file it names).
QString readBytes(const QString &path, QByteArray *bytes)
{
    bytes->clear();
    const RegularFile file = openRegularFile(path);
    const int fd = file.fd.get();
    QString problem;
    switch (file.problem) {
    case RegularFile::Missing:
        return QString();
    case RegularFile::Failed:
        return systemMessage(file.error);
    case RegularFile::Folder:
        return QStringLiteral("je to složka");
    case RegularFile::NotRegular:
        return QStringLiteral("není to obyčejný soubor");
    case RegularFile::None:
        if (file.size > kMaxFileSize)
            return QStringLiteral("soubor je příliš velký");
        break;
    }
    for (char buffer[65536]; problem.isEmpty();) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            problem = systemMessage(errno);
        else if (n == 0)
            break;
        else if (bytes->size() + n > kMaxFileSize)
            problem = QStringLiteral("soubor je příliš velký");
        else
            bytes->append(buffer, n);
    }
    if (!problem.isEmpty())
        bytes->clear();
    return problem;
}

// A line that is not blank, a comment, a [section] or key=value is kept and
// ignored. Keys under a broken header are not read: the user meant some other
// section, just not which.
IniFile parse(const QByteArray &bytes, QString *problem)
{
    IniFile ini;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)QString(utf8(bytes));
    if (bytes.contains('\0') || utf8.hasError()) {
        *problem = QStringLiteral("obsah není text v UTF-8");
        return ini;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        ini.bom = bytes.first(3);
    ini.lines.reserve(bytes.count('\n') + 1);
    QString section;
    for (qsizetype at = ini.bom.size(); at < bytes.size();) {
        const qsizetype nl = bytes.indexOf('\n', at);
        const qsizetype end = nl < 0 ? bytes.size() : nl;
        Line l;
        l.text = bytes.sliced(at, end - at);
        if (nl >= 0)
            l.eol = "\n";
        if (nl >= 0 && l.text.endsWith('\r')) {
            l.text.chop(1);
            l.eol = "\r\n";
        }
        at = end + 1;

        const QByteArrayView t = trimmed(l.text);
        if (t.startsWith('[')) {
            const qsizetype close = t.indexOf(']');
            const QByteArrayView rest = close < 0 ? QByteArrayView() : trimmed(t.sliced(close + 1));
            const bool ok = close > 0 && (rest.isEmpty() || rest.front() == ';' || rest.front() == '#');
            section = ok ? QString::fromUtf8(trimmed(t.sliced(1, close - 1))).toCaseFolded() : QString();
            l.header = ok;
            l.section = section;
        } else if (!t.isEmpty() && t.front() != ';' && t.front() != '#' && !section.isNull()) {
            const qsizetype eq = l.text.indexOf('=');
            const QByteArrayView key = eq < 0 ? QByteArrayView() : trimmed(QByteArrayView(l.text).first(eq));
            if (!key.isEmpty()) {
                l.section = section;
                l.id = section + u'\n' + QString::fromUtf8(key).toCaseFolded();
                l.valueAt = eq + 1;
                while (l.valueAt < l.text.size() && isBlank(l.text[l.valueAt]))
                    ++l.valueAt;
            }
        }
        ini.lines.push_back(std::move(l));
    }
    return ini;
}

// By case-folded "section\nkey"; a repeated key is read from its last line.
QHash<QString, QString> valuesOf(const IniFile &ini)
{
    QHash<QString, QString> values;
    for (const Line &l : ini.lines)
        if (!l.id.isEmpty())
            values.insert(l.id, l.value());
    return values;
}

// What the reader could not tell apart from other text.
bool writableName(const QString &name, bool section)
{
    if (name.isEmpty() || name.front().isSpace() || name.back().isSpace() || name.contains(u'\n')
        || name.contains(u'\r'))
        return false;
    if (section)
        return !name.contains(u']');
    return !name.contains(u'=') && name.front() != u'[' && name.front() != u';' && name.front() != u'#';
}

} // namespace

SettingsStore::SettingsStore(const QString &path) : m_path(path)
{
    reload();
}

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/TVK/TVK.ini");
}

// QString::fromUtf8 drops a leading U+FEFF as a byte order mark; in a value it
// is a character like any other.
static QString valueText(QByteArrayView utf8)
{
    QStringDecoder decode(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decode(utf8);
}

QString SettingsStore::decodeValue(QByteArrayView text)
{
    if (!text.startsWith('"'))
        return valueText(text);
    // Quotes delimit only when they close at the very end; "a""b" is one
    // string (the earlier writer closed and reopened one behind \xHH).
    QByteArray out;
    qsizetype i = 1;
    for (;;) {
        if (i >= text.size())
            return valueText(text); // never closed: plain text
        const char c = text[i++];
        if (c == '"') {
            if (i < text.size() && text[i] == '"') {
                ++i;
                continue;
            }
            if (i < text.size())
                return valueText(text);
            break;
        }
        if (c != '\\' || i >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[i++];
        switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            char32_t code = 0;
            qsizetype digits = 0;
            for (; i < text.size() && digits < 6 && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
                const char h = text[i];
                code = code * 16 + char32_t(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
            }
            if (digits > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF))
                out += QStringView(QChar::fromUcs4(code)).toUtf8(); // QString::fromUcs4 would drop U+FEFF
            else
                out += "\\x" + text.sliced(i - digits, digits).toByteArray();
            break;
        }
        default: // not an escape: a Windows path the user quoted
            out += '\\';
            out += e;
        }
    }
    QString value = valueText(out);
    if (value.startsWith(u"@@"))
        value.remove(0, 1); // the earlier writer doubled a leading '@'
    return value;
}

QByteArray SettingsStore::encodeValue(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    const bool control = std::any_of(utf8.cbegin(), utf8.cend(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (!control && !utf8.startsWith('"') && !utf8.startsWith(' ') && !utf8.endsWith(' ')
        && !utf8.startsWith('\t') && !utf8.endsWith('\t'))
        return utf8;
    QByteArray out = "\"";
    if (utf8.startsWith('@'))
        out += '@'; // a quoted "@@" reads as "@"
    for (const char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) // "" ends the hex digits
                out += "\\x" + QByteArray::number(c, 16) + "\"\"";
            else
                out += c;
        }
    }
    return out + '"';
}

void SettingsStore::reload()
{
    m_values.clear();
    m_changes.clear();
    m_changeAt.clear();
    QByteArray bytes;
    m_problem = readBytes(m_path, &bytes);
    if (m_problem.isEmpty())
        m_values = valuesOf(parse(bytes, &m_problem));
}

QString SettingsStore::getSetting(const QString &section, const QString &key,
                                  const QString &defaultValue) const
{
    return m_values.value(fold(section, key), defaultValue);
}

void SettingsStore::saveSetting(const QString &section, const QString &key, const QString &value)
{
    const QString id = fold(section, key);
    m_values.insert(id, value);
    const auto at = m_changeAt.constFind(id);
    if (at != m_changeAt.cend()) {
        m_changes[*at].value = value;
    } else {
        m_changeAt.insert(id, m_changes.size());
        m_changes.push_back({section, key, value});
    }
}

bool SettingsStore::sync(QString *error, bool replaceUnreadable)
{
    auto fail = [&](const QString &cause) {
        *error = QStringLiteral("Nastavení se nepodařilo uložit do souboru „%1“: %2.")
                     .arg(QDir::toNativeSeparators(m_path), cause);
        return false;
    };
    for (const Change &c : std::as_const(m_changes))
        if (!writableName(c.section, true) || !writableName(c.key, false))
            return fail(QStringLiteral("neplatný název „%1/%2“").arg(c.section, c.key));

    QString target, cause;
    if (!saveTarget(m_path, &target, &cause))
        return fail(cause);
    // A sync with nothing to write only reads: it makes no folder. (A file
    // to replace unread has its folder already.)
    const QString folder = QFileInfo(target).absolutePath();
    if (!m_changes.isEmpty() && !QDir().mkpath(folder))
        return fail(QStringLiteral("nelze vytvořit složku „%1“").arg(QDir::toNativeSeparators(folder)));
    const FolderLock lock(folder);
    if (lock.held() && !m_changes.isEmpty())
        removeStaleSaveFiles(target);

    QByteArray current;
    QString problem = readBytes(target, &current);
    IniFile ini;
    if (problem.isEmpty())
        ini = parse(current, &problem);
    if (!problem.isEmpty()) {
        if (!replaceUnreadable) {
            m_problem = problem;
            return fail(QStringLiteral("soubor nelze přečíst (%1), a tak zůstal, jak je").arg(problem));
        }
        ini = {};
    }

    // Every line of a changed key is rewritten; a key the file lacks goes
    // after the last key of its section's last occurrence.
    QList<bool> found(m_changes.size());
    QHash<QString, qsizetype> sectionEnd;
    for (qsizetype i = 0; i < ini.lines.size(); ++i) {
        Line &l = ini.lines[i];
        if (l.header || !l.id.isEmpty())
            sectionEnd.insert(l.section, i);
        const auto at = l.id.isEmpty() ? m_changeAt.cend() : m_changeAt.constFind(l.id);
        if (at == m_changeAt.cend())
            continue;
        found[*at] = true;
        const QString &value = m_changes[*at].value;
        if (l.value() != value) // an equal value keeps the user's spelling
            l.text = l.text.first(l.valueAt) + encodeValue(value);
    }
    const QByteArray eol = ini.eol();
    QHash<qsizetype, QByteArray> added; // after line i
    QList<QPair<QString, QByteArray>> newSections; // spelled as first saved
    for (qsizetype n = 0; n < m_changes.size(); ++n) {
        const Change &c = m_changes[n];
        if (found[n])
            continue;
        const QByteArray line = c.key.toUtf8() + '=' + encodeValue(c.value) + eol;
        const auto end = sectionEnd.constFind(c.section.toCaseFolded());
        if (end != sectionEnd.cend()) {
            added[*end] += line;
            continue;
        }
        auto s = std::find_if(newSections.begin(), newSections.end(), [&](const auto &n) {
            return n.first.toCaseFolded() == c.section.toCaseFolded();
        });
        if (s == newSections.end())
            s = newSections.insert(newSections.end(), {c.section, '[' + c.section.toUtf8() + ']' + eol});
        s->second += line;
    }
    QByteArray bytes = ini.bom;
    for (qsizetype i = 0; i < ini.lines.size(); ++i) {
        const Line &l = ini.lines[i];
        const auto more = added.constFind(i);
        bytes += l.text;
        if (!l.eol.isEmpty() || (more == added.cend() && newSections.isEmpty()))
            bytes += l.eol;
        else // a last line that now needs an end; "\n" would join a final '\r' into "\r\n"
            bytes += l.text.endsWith('\r') ? QByteArrayView("\r\n") : QByteArrayView(eol);
        if (more != added.cend())
            bytes += *more;
    }
    for (const auto &s : std::as_const(newSections)) {
        if (bytes.size() > ini.bom.size() && !bytes.endsWith(eol + eol) && bytes != ini.bom + eol)
            bytes += eol; // a blank line between sections
        bytes += s.second;
    }

    // Unchanged bytes are not written again: the file keeps its time and
    // nothing is risked.
    if (!problem.isEmpty() || bytes != current) {
        if (!writeFileAtomically(target, bytes, &cause))
            return fail(cause);
        lock.syncFolder();
    }
    m_changes.clear();
    m_changeAt.clear();
    m_problem.clear();
    m_values = valuesOf(parse(bytes, &problem));
    return true;
}

} // namespace tarnvik
