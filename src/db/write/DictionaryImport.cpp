#include "DictionaryImport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tarnvik {

namespace {

// Where an import is recorded: the file as the user chose it, made absolute.
QString recordKey(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QString::fromLatin1(QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex());
}

// What tells a changed file from the one imported.
QString stamp(const QFileInfo &info)
{
    return QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

// A name the database's table can take: the file's own where it can.
QString tableName(const QString &base)
{
    QString name = base.left(JetWriter::kMaxNameLength);
    for (QChar &c : name) {
        if (JetWriter::forbiddenInName(c))
            c = u'_';
    }
    name = name.trimmed();
    return JetWriter::nameProblem(name).isEmpty() ? name : QStringLiteral("slovnik");
}

} // namespace

DictionaryImport::DictionaryImport(QString folder) : m_folder(std::move(folder)) {}

QString DictionaryImport::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/tarnvik");
}

QString DictionaryImport::recordPath() const
{
    return m_folder + QStringLiteral("/imports.ini");
}

std::optional<DataSource> DictionaryImport::earlier(const QString &path) const
{
    if (!QFileInfo::exists(recordPath()))
        return std::nullopt;
    QSettings record(recordPath(), QSettings::IniFormat);
    record.beginGroup(recordKey(path));
    const QFileInfo source(path);
    DataSource s;
    s.File = record.value("database").toString();
    s.Name = record.value("table").toString();
    s.In = record.value("input").toString();
    s.Out = record.value("output").toString();
    s.Title = record.value("title").toString();
    if (s.File.isEmpty() || record.value("stamp").toString() != stamp(source) || !QFileInfo(s.File).isFile())
        return std::nullopt;
    return s;
}

std::optional<DataSource> DictionaryImport::run(const QString &path, const std::atomic_bool *cancel,
                                                std::function<void(qint64, qint64)> progress)
{
    m_error.clear();
    m_cancelled = false;
    if (!QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("Složku „%1“ nelze vytvořit.").arg(m_folder);
        return std::nullopt;
    }
    const QFileInfo source(path);
    const QString base = source.completeBaseName();
    QString target = m_folder + u'/' + base + QStringLiteral(".mdb");
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_folder + u'/' + QStringLiteral("%1 (%2).mdb").arg(base).arg(n);

    mkdb::MakeDatabase make;
    make.cancel = cancel;
    make.progress = std::move(progress);
    const QString table = tableName(base);
    if (!make.run(target, {{table, path, QString()}})) {
        m_cancelled = make.cancelled();
        m_error = make.errorString();
        return std::nullopt;
    }
    const mkdb::MadeTable &made = make.tables().front();
    DataSource s;
    s.File = target;
    s.Name = table;
    s.In = made.fields.front().name;
    s.Out = made.fields.size() > 1 ? made.fields[1].name : s.In;
    s.Title = made.title.isEmpty() ? base : made.title;

    QSettings record(recordPath(), QSettings::IniFormat);
    // A database of this name made before was deleted: its record is not this one's.
    for (const QString &group : record.childGroups()) {
        if (record.value(group + QStringLiteral("/database")).toString() == target)
            record.remove(group);
    }
    record.beginGroup(recordKey(path));
    record.setValue("source", source.absoluteFilePath());
    record.setValue("stamp", stamp(source));
    record.setValue("database", s.File);
    record.setValue("table", s.Name);
    record.setValue("input", s.In);
    record.setValue("output", s.Out);
    record.setValue("title", s.Title);
    return s;
}

} // namespace tarnvik
