// Readers of the word lists tarnvik-mkdb turns into tables: UTF-8 TSV, CSV
// (RFC 4180), dictd and StarDict dictionaries. Each reads one row at a time, so input of
// any size is read in bounded memory, and can start over for a second pass.
#pragma once

#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QTemporaryFile>
#include <memory>
#include <optional>
#include <vector>

namespace tarnvik::mkdb {

using Row = std::vector<std::optional<QString>>;

class RowSource
{
public:
    virtual ~RowSource() = default;
    // Opens (or reopens) the input and reads the field names.
    virtual bool start() = 0;
    enum Result { Ok, End, Error };
    virtual Result next(Row *row) = 0;
    const QStringList &fieldNames() const { return m_names; }
    QString errorString() const { return m_error; }
    // Line of the input the last row or error came from (1-based); a
    // dictionary's entry where it has no lines.
    qint64 line() const { return m_line; }
    // The dictionary's own name, once the rows that state it were read.
    QString title() const { return m_title; }
    // A dictionary's values are cut to fit the fields rather than refused: the
    // first field (the headword) to a Text, the others to a Memo.
    virtual bool cutsToFit() const { return false; }
    // The reader itself cut the last row short.
    bool rowCut() const { return m_rowCut; }

    // 'format' empty: by the file's ending (formatOf: .tsv/.tab/.txt, .csv,
    // .index for dictd, .ifo for StarDict).
    static std::unique_ptr<RowSource> forFile(const QString &path, const QString &format, QString *error);

protected:
    bool fail(const QString &message);
    QStringList m_names;
    QString m_error;
    QString m_title;
    qint64 m_line = 0;
    bool m_rowCut = false;
};

// A gzip (or dictzip) file unpacked into a temporary file, to be read at
// offsets; null with 'error' set when it cannot be read or is not gzip.
std::unique_ptr<QTemporaryFile> unpackGzip(const QString &path, QString *error);

// Reads lines of UTF-8 text, rejecting invalid bytes.
class LineReader
{
public:
    bool open(const QString &path, QString *error);
    // False at the end; 'bad' is set when the line was not valid UTF-8.
    bool readLine(QString *line, bool *bad);

private:
    QFile m_file;
    bool m_first = true;
};

// A text table: a header row of field names, then records of as many fields.
class DelimitedSource : public RowSource
{
public:
    explicit DelimitedSource(QString path) : m_path(std::move(path)) {}
    bool start() override;
    Result next(Row *row) override;

protected:
    virtual Result readRecord(Row *row) = 0;
    QString m_path;
    LineReader m_reader;
};

class TsvSource : public DelimitedSource
{
public:
    using DelimitedSource::DelimitedSource;

protected:
    Result readRecord(Row *row) override;

private:
    bool splitLine(const QString &line, Row *row);
};

class CsvSource : public DelimitedSource
{
public:
    using DelimitedSource::DelimitedSource;

protected:
    // One record, which may span lines inside quotes. Empty unquoted fields are Null.
    Result readRecord(Row *row) override;
};

class DictdSource : public RowSource
{
public:
    explicit DictdSource(QString indexPath) : m_indexPath(std::move(indexPath)) {}
    bool start() override;
    Result next(Row *row) override;

    static bool decodeNumber(QStringView base64, qint64 *value);

private:
    QString m_indexPath;
    LineReader m_index;
    std::unique_ptr<QTemporaryFile> m_unpacked; // the .dict.dz, decompressed
    QFile m_dict;
    QStringDecoder m_utf8{QStringDecoder::Utf8};
};

} // namespace tarnvik::mkdb
