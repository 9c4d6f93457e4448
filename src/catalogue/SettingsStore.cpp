#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvik {

namespace {

QString osError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Writes beside the target, syncs, then renames over it: the old file stays
// whole until the new one is complete.
bool writeFileAtomically(const QString &target, const QByteArray &bytes, QString *error)
{
    // A linked configuration file (dotfile managers) is replaced where it lives.
    const QFileInfo info(target);
    const QString path = info.isSymLink() ? info.canonicalFilePath() : target;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("nelze vytvořit složku „%1“").arg(folder);
        return false;
    }
    QByteArray temp = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        *error = osError(errno);
        return false;
    }
    struct stat old {};
    const mode_t mode = ::stat(QFile::encodeName(path).constData(), &old) == 0
                            ? (old.st_mode & 07777) : mode_t(0644);
    int err = 0;
    if (::fchmod(fd, mode) != 0)
        err = errno;
    for (qsizetype done = 0; !err && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno != EINTR)
                err = errno;
        } else {
            done += n;
        }
    }
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        *error = osError(err);
        return false;
    }
    return true;
}

// Keys and section names as QSettings escapes them.
QByteArray escapedKey(const QString &key)
{
    QByteArray out;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '_' || u == '-' || u == '.' || u == '/')
            out += char(u);
        else
            out += "%U" + QByteArray::number(u, 16).rightJustified(4, '0').toUpper();
    }
    return out;
}

// Always quoted, so commas, semicolons, '=' and blanks at either end are text.
// A numeric escape runs on over every digit after it, so the quoted string is
// closed and reopened behind it (the reader joins adjacent strings).
QByteArray quotedValue(const QString &value)
{
    QByteArray out = "\"";
    if (value.startsWith(u'@'))
        out += '@'; // a leading @ would otherwise mark a typed value
    for (const char ch : value.toUtf8()) {
        const auto b = static_cast<unsigned char>(ch);
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20 || b == 0x7f)
                out += "\\x" + QByteArray::number(b, 16) + "\"\"";
            else
                out += ch;
        }
    }
    return out + '"';
}

QString textOf(const QVariant &v)
{
    // An unquoted value with commas, as written by hand, reads as a list.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
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

void SettingsStore::reload()
{
    m_sections.clear();
    m_problem.clear();
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(m_path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        m_problem = info.isDir() ? QStringLiteral("je to složka") : file.errorString();
        return;
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8(bytes));
    if (bytes.contains('\0') || utf8.hasError()) {
        m_problem = QStringLiteral("obsah není text v UTF-8");
        return;
    }
    // QSettings keeps what it parsed per path and, while the file looks
    // unchanged, answers from that without reporting a format error again; a
    // private copy is parsed afresh every time, from the bytes checked above.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        m_problem = copy.errorString();
        return;
    }
    QSettings ini(copy.fileName(), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        m_problem = QStringLiteral("chybný formát souboru INI");
        return;
    }
    for (const QString &full : ini.allKeys()) {
        const qsizetype slash = full.indexOf(u'/');
        const QString section = slash < 0 ? QStringLiteral("General") : full.left(slash);
        m_sections[section][full.mid(slash + 1)] = textOf(ini.value(full));
    }
}

QString SettingsStore::getSetting(const QString &section, const QString &key,
                                  const QString &defaultValue) const
{
    const auto s = m_sections.constFind(section);
    if (s == m_sections.cend())
        return defaultValue;
    return s->value(key, defaultValue);
}

void SettingsStore::saveSetting(const QString &section, const QString &key, const QString &value)
{
    m_sections[section][key] = value;
}

QByteArray SettingsStore::serialize(const QMap<QString, QMap<QString, QString>> &sections)
{
    QByteArray out;
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        if (!out.isEmpty())
            out += '\n';
        out += '[' + escapedKey(s.key()) + "]\n";
        for (auto k = s->cbegin(); k != s->cend(); ++k)
            out += escapedKey(k.key()) + '=' + quotedValue(k.value()) + '\n';
    }
    return out;
}

bool SettingsStore::sync(QString *error)
{
    QString cause;
    if (!writeFileAtomically(m_path, serialize(m_sections), &cause)) {
        *error = QStringLiteral("Nastavení se nepodařilo uložit do souboru „%1“: %2.")
                     .arg(QDir::toNativeSeparators(m_path), cause);
        return false;
    }
    m_problem.clear(); // the damaged file, if any, has now been replaced on purpose
    return true;
}

} // namespace tarnvik
