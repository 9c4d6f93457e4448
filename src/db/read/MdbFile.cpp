#include "MdbFile.h"

#include "db/jet/Charset.h"
#include "db/jet/JetHeader.h"
#include "db/read/HelperProcess.h"
#include "db/read/ReadProtocol.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <unistd.h>

namespace tarnvik {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("MdbFile", s); }

uint32_t get32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

QString hexName(const QString &name, const FileFormat &format)
{
    QByteArray bytes = name.toUtf8();
    if (format.jet3()) {
        if (const CodePage *cp = CodePage::get(format.codePage))
            cp->encode(name, &bytes);
        else
            bytes = name.toLatin1();
    }
    return QString::fromLatin1(bytes.toHex());
}

struct Stamp
{
    qint64 size;
    QDateTime modified;
    bool operator==(const Stamp &) const = default;
};

Stamp stampOf(const QString &path)
{
    const QFileInfo fi(path);
    return {fi.size(), fi.lastModified()};
}

} // namespace

MdbFile::MdbFile(QString path, ReadLimits limits)
    : m_path(std::move(path))
    , m_limits(limits)
{
}

QString MdbFile::helperPath()
{
    // The installed tree is looked at relative to the program before the
    // prefix it was built for: a package may put it under another prefix,
    // or it may be unpacked anywhere.
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &dir : {appDir, appDir + QStringLiteral("/" TARNVIK_LIBEXEC_FROM_BIN)}) {
        const QString candidate = QDir::cleanPath(dir + QStringLiteral("/tarnvik-mdbread"));
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QStringLiteral(TARNVIK_LIBEXEC_DIR "/tarnvik-mdbread");
}

QString MdbFile::missingMessage(const QString &path)
{
    return tr("Soubor „%1“ neexistuje.").arg(path);
}

QString MdbFile::notAFileMessage(const QString &path, bool folder)
{
    return folder ? tr("„%1“ je složka, ne soubor databáze.").arg(path)
                  : tr("„%1“ není soubor databáze, ale roura, zařízení nebo soket.").arg(path);
}

QString MdbFile::cancelledMessage(const QString &path)
{
    return tr("Čtení souboru „%1“ bylo zrušeno.").arg(path);
}

QString MdbFile::storedText(QByteArrayView bytes, const FileFormat &format)
{
    if (!format.jet3()) {
        // A leading U+FEFF is part of the value, not a byte order mark.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return utf8(bytes);
    }
    if (const CodePage *cp = CodePage::get(format.codePage))
        return cp->decode(bytes);
    return QString::fromLatin1(bytes);
}

std::optional<FileFormat> MdbFile::probe(QString *error) const
{
    const RegularFile file = openRegularFile(m_path);
    switch (file.problem) {
    case RegularFile::Missing:
        *error = missingMessage(m_path);
        return std::nullopt;
    case RegularFile::Failed:
        *error = tr("Soubor „%1“ nelze číst: %2").arg(m_path, systemMessage(file.error));
        return std::nullopt;
    case RegularFile::Folder:
    case RegularFile::NotRegular:
        *error = notAFileMessage(m_path, file.problem == RegularFile::Folder);
        return std::nullopt;
    case RegularFile::None:
        break;
    }
    const int fd = file.fd.get();
    const qint64 size = file.size;
    if (size == 0) {
        *error = tr("Soubor „%1“ je prázdný.").arg(m_path);
        return std::nullopt;
    }
    QByteArray page(4096, Qt::Uninitialized);
    ssize_t got;
    do
        got = ::pread(fd, page.data(), size_t(page.size()), 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        *error = tr("Soubor „%1“ nelze číst: %2").arg(m_path, systemMessage(errno));
        return std::nullopt;
    }
    page.truncate(got);
    const bool jetMagic = page.size() >= 0x20 && page.at(0) == 0
        && (page.mid(4, 15) == "Standard Jet DB" || page.mid(4, 15) == "Standard ACE DB");
    if (!jetMagic) {
        *error = tr("Soubor „%1“ není databáze Access.").arg(m_path);
        return std::nullopt;
    }
    FileFormat format;
    format.jetVersion = uint8_t(page.at(jetheader::kVersionAt));
    if (format.jetVersion > 6) {
        *error = tr("Soubor „%1“ je databáze Access nepodporované verze (%2).").arg(m_path).arg(format.jetVersion);
        return std::nullopt;
    }
    const int pageSize = format.jet3() ? 2048 : 4096;
    if (page.size() < pageSize || size < 3 * pageSize) {
        *error = tr("Soubor „%1“ je zkrácený: databáze musí mít aspoň tři stránky.").arg(m_path);
        return std::nullopt;
    }
    // libmdb reads a page cut short as rows of Nulls, and the read looks whole.
    if (size % pageSize != 0) {
        *error = tr("Soubor „%1“ je poškozený nebo zkrácený: jeho délka (%2 bajtů) není celý počet stránek po %3 "
                    "bajtech.")
                     .arg(m_path)
                     .arg(size)
                     .arg(pageSize);
        return std::nullopt;
    }
    jetheader::rc4(reinterpret_cast<uint8_t *>(page.data() + jetheader::kScrambledAt),
                   jetheader::scrambledLength(format.jet3()));
    format.codePage = uint8_t(page.at(jetheader::kCodePageAt)) | uint8_t(page.at(jetheader::kCodePageAt + 1)) << 8;
    if (get32(page.constData() + jetheader::kDatabaseKeyAt) != 0) {
        *error = tr("Soubor „%1“ je zašifrovaný; Tarnvik šifrované databáze neumí číst.").arg(m_path);
        return std::nullopt;
    }
    return format;
}

bool MdbFile::run(const QStringList &args, int fieldsPerRow, const std::function<bool(char, QByteArrayView)> &onRecord,
                  const std::function<bool(const StoredValue *)> &onRow, QString *error,
                  const std::atomic<bool> *cancel) const
{
    const Stamp before = stampOf(m_path);
    const QString program = m_limits.helper.isEmpty() ? helperPath() : m_limits.helper;
    const HelperRun run = runHelper(program, args, m_limits, fieldsPerRow, onRecord, onRow, cancel);
    switch (run.end) {
    case HelperRun::NoPipe:
        *error = tr("Pomocný program pro čtení databází nelze spustit: %1").arg(run.detail);
        return false;
    case HelperRun::NotStarted:
        *error = tr("Pomocný program pro čtení databází (%1) nelze spustit: %2").arg(program, run.detail);
        return false;
    case HelperRun::Cancelled:
        *error = cancelledMessage(m_path);
        return false;
    case HelperRun::TimedOut:
        *error = tr("Čtení souboru „%1“ trvalo déle než %2 s; soubor je nejspíš poškozený.")
                     .arg(m_path)
                     .arg(m_limits.timeoutMs / 1000.0);
        return false;
    case HelperRun::Stalled:
        *error = tr("Čtení souboru „%1“ se zastavilo: %2 s nepřišel žádný řádek; soubor je nejspíš poškozený.")
                     .arg(m_path)
                     .arg(m_limits.stallMs / 1000.0);
        return false;
    case HelperRun::Stopped:
        return false; // a record carried the error, or the caller said stop
    case HelperRun::Failed:
        *error = tr("Soubor „%1“ je poškozený nebo v nepodporovaném formátu: jeho čtení selhalo.").arg(m_path);
        return false;
    case HelperRun::Read:
        break;
    }
    if (!(stampOf(m_path) == before)) {
        *error = tr("Soubor „%1“ se během čtení změnil; zkuste to znovu.").arg(m_path);
        return false;
    }
    return true;
}

// Turns the helper's error record into a message naming the file and the cause.
QString MdbFile::errorMessage(QByteArrayView payload, const QString &table, const QStringList &fields) const
{
    const auto kind = readproto::ErrorKind(uint8_t(payload.at(0)));
    const QString detail = QString::fromUtf8(payload.sliced(5));
    const int k = detail.toInt();
    const QString field = (k >= 0 && k < fields.size()) ? fields[k] : detail;
    switch (kind) {
    case readproto::NoSuchTable:
        return tr("V souboru „%1“ není tabulka „%2“.").arg(m_path, table);
    case readproto::NoSuchField:
        return tr("Tabulka „%2“ v souboru „%1“ nemá pole „%3“.").arg(m_path, table, field);
    case readproto::Unsupported:
        return tr("Pole „%3“ tabulky „%2“ v souboru „%1“ nelze číst jako text.").arg(m_path, table, field);
    case readproto::TooLong:
        return tr("Hodnota pole „%3“ tabulky „%2“ v souboru „%1“ je delší, než lze přečíst.")
            .arg(m_path, table, field);
    case readproto::OpenFailed:
        return tr("Soubor „%1“ nelze otevřít jako databázi Access.").arg(m_path);
    case readproto::Damaged:
        break;
    }
    if (detail == u"pages")
        return tr("Soubor „%1“ je poškozený nebo zkrácený: jeho délka není celý počet stránek.").arg(m_path);
    const QString what = detail == u"catalogue" ? tr("seznam tabulek")
        : detail == u"rows"                     ? tr("část řádků tabulky „%1“").arg(table)
                                                : tr("definici tabulky „%1“").arg(table);
    return tr("Soubor „%1“ je poškozený: %2 nelze přečíst.").arg(m_path, what);
}

std::optional<QList<TableInfo>> MdbFile::tables(QString *error) const
{
    const auto format = probe(error);
    if (!format)
        return std::nullopt;
    QList<TableInfo> out;
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag == readproto::Table)
            out.append({storedText(payload.sliced(5), *format), payload.at(0) != 0});
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, QString(), {});
        return false;
    };
    if (!run({QStringLiteral("tables"), m_path}, 0, onRecord, [](const StoredValue *) { return true; }, error, nullptr)) {
        if (!failure.isEmpty())
            *error = failure;
        return std::nullopt;
    }
    return out;
}

std::optional<QList<FieldInfo>> MdbFile::fields(const QString &table, QString *error) const
{
    const auto format = probe(error);
    if (!format)
        return std::nullopt;
    QList<FieldInfo> out;
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag == readproto::Field)
            out.append({storedText(payload.sliced(5), *format), uint8_t(payload.at(0))});
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, table, {});
        return false;
    };
    if (!run({QStringLiteral("fields"), m_path, hexName(table, *format)}, 0, onRecord,
             [](const StoredValue *) { return true; }, error, nullptr)) {
        if (!failure.isEmpty())
            *error = failure;
        return std::nullopt;
    }
    return out;
}

bool MdbFile::readRows(const QString &table, const QStringList &fields, const RowSink &sink, QString *error,
                       const std::atomic<bool> *cancel) const
{
    const auto format = probe(error);
    if (!format)
        return false;
    QStringList args = {QStringLiteral("rows"), m_path, hexName(table, *format)};
    for (const QString &f : fields)
        args << hexName(f, *format);
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, table, fields);
        return false;
    };
    auto onRow = [&](const StoredValue *values) {
        sink(values);
        return true;
    };
    if (!run(args, int(fields.size()), onRecord, onRow, error, cancel)) {
        if (!failure.isEmpty())
            *error = failure;
        return false;
    }
    return true;
}

} // namespace tarnvik
