// The reader helper's record stream as the window process takes it in. Any
// bytes, in any pieces: no crash, no allocation ahead of the bytes, the same
// records however the pipe cut them, and a stream that is whole was not whole
// when cut anywhere before its end. A stream made from chosen rows gives back
// exactly those rows.
#include "FuzzUtil.h"
#include "db/read/MdbFile.h"
#include "db/read/ReadProtocol.h"
#include "db/read/RecordParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <vector>

using namespace tarnvik;

namespace {

struct Value
{
    bool null = true;
    QByteArray bytes;
    bool operator==(const Value &) const = default;
};

struct Decoded
{
    QList<QByteArray> records; // tag, then payload
    QList<QList<Value>> rows;
    bool ok = true, complete = false, malformed = false;
    bool operator==(const Decoded &) const = default;
};

// What MdbFile's callbacks take for granted of a record.
void checkRecord(char tag, QByteArrayView payload, FileFormat *format)
{
    switch (tag) {
    case readproto::Version:
        FUZZ_ASSERT(payload.size() == 4);
        format->jetVersion = uint8_t(payload[0]);
        format->codePage = uint8_t(payload[2]) | uint8_t(payload[3]) << 8;
        break;
    case readproto::Done:
        FUZZ_ASSERT(payload.size() == 8);
        break;
    case readproto::Progress:
        FUZZ_ASSERT(payload.isEmpty());
        break;
    case readproto::Table:
    case readproto::Field:
    case readproto::Error: {
        FUZZ_ASSERT(payload.size() >= 5);
        const auto *u = reinterpret_cast<const uint8_t *>(payload.data());
        const qsizetype n = qsizetype(u[1] | u[2] << 8 | u[3] << 16 | uint32_t(u[4]) << 24);
        FUZZ_ASSERT(payload.size() == 5 + n);
        MdbFile::storedText(payload.sliced(5), *format);
        break;
    }
    default:
        FUZZ_ASSERT(!"a record of an unknown tag was passed on");
    }
}

// Feeds 'stream' in pieces of the given sizes (cycled; 0 for all at once).
Decoded decode(QByteArrayView stream, int fields, const std::vector<size_t> &pieces, bool checkCuts)
{
    Decoded d;
    FileFormat format;
    RecordParser parser(fields);
    auto onRecord = [&](char tag, QByteArrayView payload) {
        checkRecord(tag, payload, &format);
        d.records.append(char(tag) + payload.toByteArray());
        return true;
    };
    auto onRow = [&](const StoredValue *values) {
        QList<Value> row;
        for (int k = 0; k < fields; ++k) {
            FUZZ_ASSERT(values[k].null ? values[k].bytes.isEmpty() : true);
            row.append({values[k].null, values[k].bytes.toByteArray()});
            if (!values[k].null)
                MdbFile::storedText(values[k].bytes, format);
        }
        d.rows.append(row);
        return true;
    };
    qsizetype at = 0;
    bool wholeBefore = false;
    for (size_t i = 0; at < stream.size(); ++i) {
        const size_t piece = pieces.empty() || pieces[i % pieces.size()] == 0 ? size_t(stream.size())
                                                                               : pieces[i % pieces.size()];
        const qsizetype n = std::min(qsizetype(piece), stream.size() - at);
        d.ok = parser.feed(stream.sliced(at, n), onRecord, onRow);
        at += n;
        if (checkCuts && at < stream.size() && parser.complete())
            wholeBefore = true;
        if (!d.ok)
            break;
    }
    d.complete = parser.complete();
    d.malformed = parser.isMalformed();
    FUZZ_ASSERT(!(d.complete && d.malformed));
    // A whole stream was not whole when cut anywhere before its end.
    FUZZ_ASSERT(!(d.complete && wholeBefore));
    if (d.complete) {
        FUZZ_ASSERT(at == stream.size());
        FUZZ_ASSERT(!d.records.isEmpty() && d.records.last().front() == readproto::Done);
        FUZZ_ASSERT(parser.rows() == quint64(d.rows.size()));
    }
    return d;
}

void put32(QByteArray &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char(v >> (8 * i)));
}

void putString(QByteArray &b, const QByteArray &s)
{
    put32(b, uint32_t(s.size()));
    b.append(s);
}

// A stream as the helper writes one, of rows and records the input chooses.
void roundTrip(FuzzedDataProvider &in)
{
    const int fields = in.ConsumeIntegralInRange(0, 5);
    QByteArray stream(readproto::kMagic);
    QList<QList<Value>> rows;
    QList<QByteArray> records;
    stream.append(readproto::Version);
    const QByteArray version = QByteArray::fromStdString(in.ConsumeBytesAsString(4)).leftJustified(4, '\0');
    stream.append(version);
    records.append(QByteArray(1, readproto::Version) + version);
    while (in.remaining_bytes() > 0 && rows.size() < 200) {
        const int kind = in.ConsumeIntegralInRange(0, 7);
        if (kind == 0) {
            stream.append(readproto::Progress);
            records.append(QByteArray(1, readproto::Progress));
            continue;
        }
        if (kind == 1) {
            const char tag = in.ConsumeBool() ? readproto::Table : readproto::Field;
            QByteArray payload(1, char(in.ConsumeIntegral<uint8_t>()));
            putString(payload, QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
            stream.append(tag + payload);
            records.append(tag + payload);
            continue;
        }
        QList<Value> row;
        stream.append(readproto::Row);
        for (int k = 0; k < fields; ++k) {
            Value v;
            v.null = in.ConsumeIntegralInRange(0, 3) == 0;
            if (v.null) {
                put32(stream, readproto::kNull);
            } else {
                v.bytes = QByteArray::fromStdString(in.ConsumeRandomLengthString(100));
                putString(stream, v.bytes);
            }
            row.append(v);
        }
        rows.append(row);
    }
    QByteArray done;
    const quint64 count = quint64(rows.size());
    put32(done, uint32_t(count));
    put32(done, uint32_t(count >> 32));
    stream.append(QByteArray(1, readproto::Done) + done);
    records.append(QByteArray(1, readproto::Done) + done);

    // In one piece and a byte at a time: the same rows and records, whole only at the end.
    for (const std::vector<size_t> &pieces : {std::vector<size_t>{}, std::vector<size_t>{1}, std::vector<size_t>{7, 1, 300}}) {
        const Decoded d = decode(stream, fields, pieces, true);
        FUZZ_ASSERT(d.ok && d.complete && !d.malformed);
        FUZZ_ASSERT(d.rows == rows);
        FUZZ_ASSERT(d.records == records);
    }
    // A count that is not the rows sent is no whole stream.
    QByteArray wrong = stream;
    wrong[wrong.size() - 8] = char(wrong[wrong.size() - 8] ^ 1);
    FUZZ_ASSERT(!decode(wrong, fields, {}, true).complete);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // Any bytes: the first says how many fields a row has and how the pipe
    // cuts the rest; the same records whichever way.
    const int fields = data[0] % 6;
    const std::vector<size_t> pieces = {size_t(data[1] % 16) + 1, size_t(data[1] >> 4) + 1};
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + 2, qsizetype(size) - 2);
    const Decoded whole = decode(stream, fields, {}, false);
    const Decoded cut = decode(stream, fields, pieces, true);
    FUZZ_ASSERT(whole == cut);

    FuzzedDataProvider in(data, size);
    roundTrip(in);
    return 0;
}
