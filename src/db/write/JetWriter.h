// Writes new Access databases: Jet 4 (Access 2000) with Unicode text, or Jet 3
// (Access 97) with text in one single-byte code page. Tables hold Text (up to
// 255 characters) and Memo fields and have no indexes. Rows stream straight to
// pages, so memory stays bounded whatever the row count; the file is written
// aside and only renamed into place by commit().
#pragma once

#include <QSaveFile>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace tarnvik {

class JetWriter
{
public:
    enum class Format { Jet4, Jet3 };
    enum class FieldType { Text, Memo };
    struct Field
    {
        QString name;
        FieldType type = FieldType::Text;
    };
    static constexpr int kMaxTextLength = 255;
    static constexpr int kMaxNameLength = 64;

    JetWriter();
    ~JetWriter(); // an uncommitted file is discarded

    // codePage: the single-byte code page of a Jet 3 file's text (1250 to 1258).
    bool open(const QString &path, Format format, int codePage = 1252);
    bool beginTable(const QString &name, const std::vector<Field> &fields);
    // One value per field; nullopt is Null.
    bool addRow(const std::vector<std::optional<QString>> &values);
    bool endTable();
    bool commit();

    QString errorString() const { return m_error; }

    // Why a table or field name cannot be used; empty when it can.
    static QString nameProblem(const QString &name);
    // A character no name may hold.
    static bool forbiddenInName(QChar c)
    {
        return c.unicode() < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']';
    }

    // Text as a Jet 4 file stores it; nullopt when no stored form reads back as it.
    static std::optional<QByteArray> jet4Text(QStringView s);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_error;
};

} // namespace tarnvik
