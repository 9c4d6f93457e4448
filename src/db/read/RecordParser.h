// The client's side of the helper's record stream (ReadProtocol.h): splits
// the bytes into records as they arrive, in whatever pieces the pipe gives.
// Nothing is allocated for a length before its bytes are there.
#pragma once

#include "db/read/MdbFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <functional>
#include <vector>

namespace tarnvik {

class RecordParser
{
public:
    explicit RecordParser(int fieldsPerRow) : m_fields(fieldsPerRow) {}

    using RecordFn = std::function<bool(char tag, QByteArrayView payload)>;
    // One value per field; valid only during the call.
    using RowFn = std::function<bool(const StoredValue *values)>;

    // False when the stream is malformed or a callback said stop.
    bool feed(QByteArrayView chunk, const RecordFn &onRecord, const RowFn &onRow);

    // The stream so far is a whole one: it ended with its Done record, which
    // counted the rows that came before it, and nothing followed.
    bool complete() const { return m_done && !m_malformed && m_pos == m_buf.size(); }
    bool isMalformed() const { return m_malformed; }
    quint64 rows() const { return m_rows; }

private:
    bool malformed()
    {
        m_malformed = true;
        return false;
    }

    const int m_fields;
    QByteArray m_buf;
    qsizetype m_pos = 0;
    quint64 m_rows = 0;
    bool m_magicSeen = false, m_done = false, m_malformed = false;
    std::vector<StoredValue> m_values;
};

} // namespace tarnvik
