#include "RecordParser.h"

#include "db/read/ReadProtocol.h"

#include <cstring>

namespace tarnvik {

namespace {

uint32_t get32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

uint64_t get64(const char *p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }

} // namespace

bool RecordParser::feed(QByteArrayView chunk, const RecordFn &onRecord, const RowFn &onRow)
{
    if (m_malformed)
        return false;
    if (m_pos > (1 << 20) && m_pos * 2 > m_buf.size()) {
        m_buf.remove(0, m_pos);
        m_pos = 0;
    }
    m_buf.append(chunk);
    if (!m_magicSeen) {
        const qsizetype n = qsizetype(sizeof readproto::kMagic - 1);
        const qsizetype have = std::min(n, m_buf.size());
        if (std::memcmp(m_buf.constData(), readproto::kMagic, size_t(have)) != 0)
            return malformed();
        if (have < n)
            return true;
        m_pos = n;
        m_magicSeen = true;
    }
    for (;;) {
        const char *begin = m_buf.constData() + m_pos;
        const char *end = m_buf.constData() + m_buf.size();
        if (begin == end)
            return true;
        // The helper sends nothing after its count of the rows.
        if (m_done)
            return malformed();
        const char tag = *begin;
        const char *p = begin + 1;
        if (tag == readproto::Row) {
            m_values.clear();
            for (int k = 0; k < m_fields; ++k) {
                if (end - p < 4)
                    return true;
                const uint32_t n = get32(p);
                p += 4;
                if (n == readproto::kNull) {
                    m_values.push_back({true, {}});
                } else {
                    if (size_t(end - p) < n)
                        return true;
                    m_values.push_back({false, QByteArrayView(p, qsizetype(n))});
                    p += n;
                }
            }
            m_pos = p - m_buf.constData();
            ++m_rows;
            if (!onRow(m_values.data()))
                return false;
            continue;
        }
        qsizetype len;
        if (tag == readproto::Version || tag == readproto::Done || tag == readproto::Progress) {
            len = tag == readproto::Version ? 4 : tag == readproto::Done ? 8 : 0;
        } else if (tag == readproto::Table || tag == readproto::Field || tag == readproto::Error) {
            if (end - p < 5)
                return true;
            len = 5 + qsizetype(get32(p + 1));
        } else {
            return malformed();
        }
        if (end - p < len)
            return true;
        m_pos = (p + len) - m_buf.constData();
        if (tag == readproto::Done) {
            // A count that is not the rows received: rows went missing.
            if (get64(p) != m_rows)
                return malformed();
            m_done = true;
        }
        if (!onRecord(tag, QByteArrayView(p, len)))
            return false;
    }
}

} // namespace tarnvik
