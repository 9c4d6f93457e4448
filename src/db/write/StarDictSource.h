// StarDict dictionaries: the .ifo names the dictionary and its layout, the
// .idx (or .idx.gz) lists headwords with their place in the .dict (or
// .dict.dz), and an optional .syn (or .syn.gz) adds other headwords for the
// same entries. Rows are (headword, definition); the definition is the
// entry's text parts joined by line breaks, markup read as plain text.
#pragma once

#include "db/write/RowSource.h"

#include <QByteArray>
#include <zlib.h>

namespace tarnvik::mkdb {

// A plain or gzip file read front to back, counting its (unpacked) bytes. A
// plain one is read as it is, even where it happens to hold gzip.
class GzStream
{
public:
    GzStream() = default;
    GzStream(const GzStream &) = delete;
    GzStream &operator=(const GzStream &) = delete;
    ~GzStream() { close(); }
    bool open(const QString &path, bool gzip, QString *error);
    void close();
    // -1 at the end or on damage (see broken()).
    int getByte();
    bool read(char *to, int n);
    // Why the last read stopped early, when the file is damaged; empty at a plain end.
    QString broken() const;
    qint64 position() const { return m_position; }
    const QString &path() const { return m_path; }

private:
    gzFile m_gz = nullptr;
    QFile m_plain;
    QString m_path;
    qint64 m_position = 0;
};

class StarDictSource : public RowSource
{
public:
    explicit StarDictSource(QString ifoPath) : m_ifoPath(std::move(ifoPath)) {}
    bool start() override;
    Result next(Row *row) override;
    bool cutsToFit() const override { return true; }

    // Types h (HTML), g (Pango) and x (XDXF) as plain text: their tags
    // dropped, <br> and block ends as line breaks, entities decoded. Angle
    // brackets that are no tag of the type stay as they are.
    static QString plainText(QStringView markup, char type);

    // An entry bigger than this is read only so far; no field could hold more.
    static constexpr qint64 kMaxEntryBytes = qint64(32) << 20;

private:
    struct Entry
    {
        quint64 offset;
        quint32 size;
    };
    bool readIfo();
    Result nextWord(GzStream &in, qint64 number, QByteArray *word, bool *ended);
    bool definition(const Entry &e, const QString &where, std::optional<QString> *text);

    QString m_ifoPath, m_idxPath, m_synPath;
    qint64 m_wordCount = -1, m_synCount = -1, m_idxFileSize = -1;
    int m_offsetBits = 32;
    QByteArray m_sameTypes;
    GzStream m_idx, m_syn;
    bool m_inSyn = false;
    qint64 m_synRead = 0;
    std::vector<Entry> m_entries; // the .idx's, for the .syn
    std::unique_ptr<QTemporaryFile> m_unpacked;
    QFile m_dict;
};

} // namespace tarnvik::mkdb
