#include "IndexBuild.h"

#include "db/jet/Charset.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <algorithm>
#include <chrono>
#include <thread>

namespace tarnvik {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("IndexBuild", s); }

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// File times come from a clock that moves in ticks (a few ms; whole seconds
// on some file systems, two on FAT), so a change later in the tick the stamp
// shows leaves the stamp as it was. A read that begins after that tick sees
// every change its stamp cannot tell apart. False when the tick has not ended
// within one tick's wait (a file clock ahead of ours) or on cancel.
bool waitTillSettled(const FileStamp &file, const std::atomic<bool> *cancel)
{
    const qint64 second = 1000000000;
    // A whole-second modification time alone is common (unpacked archives);
    // FAT's change time, where it has one, counts in hundredths.
    const bool coarse = file.changedNs % second == 0
        || (file.modifiedNs % second == 0 && file.changedNs % (second / 100) == 0);
    const qint64 tick = coarse ? 2 * second : second / 50;
    const qint64 start = nowNs();
    // A modification time set into the future says nothing of the clock.
    const qint64 changed = std::max(file.changedNs, file.modifiedNs <= start ? file.modifiedNs : 0);
    const qint64 settled = changed + tick, giveUp = start + tick;
    for (qint64 now = start; now < settled; now = nowNs()) {
        if (now >= giveUp || (cancel && cancel->load()))
            return false;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min({settled - now, giveUp - now, second / 100})));
    }
    return true;
}

} // namespace

QString loadFailure(const QString &databaseName, const std::exception &e)
{
    return tr("Soubor „%1“ nelze načíst: %2").arg(databaseName, QString::fromLocal8Bit(e.what()));
}

BuiltIndex buildIndex(const QString &databaseName, const IndexSource &want, const ReadLimits &limits,
                      const QString &cacheFolder, const std::atomic<bool> *cancel)
try {
    BuiltIndex b;
    MdbFile file(databaseName, limits);
    const auto format = file.probe(&b.error);
    if (!format) {
        b.quick = true;
        return b;
    }
    auto cancelled = [&] {
        if (!cancel || !cancel->load())
            return false;
        b.error = MdbFile::cancelledMessage(databaseName);
        b.quick = true;
        return true;
    };
    if (cancelled())
        return b;
    if ((b.index = IndexCache(cacheFolder).load(want)))
        return b;

    QStringList fields = {want.in};
    if (!want.out.isEmpty() && want.out.compare(want.in, Qt::CaseInsensitive) != 0)
        fields << want.out;
    LookupIndex::Builder builder(caseRuleFor(want.charsetIn));
    builder.reserveFor(uint64_t(want.file.size));
    const bool jet3 = format->jet3();
    const int csIn = want.charsetIn, csOut = want.charsetOut;
    // Each value is decoded into a buffer kept from row to row: a million rows
    // then cost no allocations here.
    // A leading U+FEFF is part of the value, not a byte order mark.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    auto text = [&](const StoredValue &v, int charset, QString &buffer) {
        if (jet3) {
            buffer = displayTextJet3(v.bytes, charset);
            return;
        }
        buffer.resize(utf8.requiredSpace(v.bytes.size()));
        buffer.truncate(utf8.appendToBuffer(buffer.data(), v.bytes) - buffer.constData());
        buffer = displayTextJet4(buffer, charset);
    };
    // Jet 4 values come from the reader as UTF-8. Where that is the text
    // shown too (see displayTextJet4), it is kept as it came: the round
    // through UTF-16 and back was much of the read's time. Its text goes to
    // 'text' where wanted, decoded as it is checked.
    auto shownAsStored = [&](std::string_view bytes, int charset, QString *text) {
        if (jet3)
            return false;
        if (codePageForCharset(charset) != kSystemCodePage
            && !std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
            return false;
        if (!text)
            return isValidUtf8(bytes);
        bool valid = true;
        fromUtf8(bytes, *text, &valid);
        return valid;
    };
    std::vector<char> inBytes, outBytes;
    // The value's UTF-8; its text in 'buffer' where 'wanted'.
    auto keptUtf8 = [&](const StoredValue &v, int charset, QString &buffer, std::vector<char> &scratch, bool wanted) {
        const std::string_view bytes(v.bytes.data(), size_t(v.bytes.size()));
        if (shownAsStored(bytes, charset, wanted ? &buffer : nullptr))
            return bytes;
        text(v, charset, buffer);
        scratch.clear();
        appendUtf8(scratch, buffer);
        return std::string_view(scratch.data(), scratch.size());
    };
    const bool twoFields = fields.size() == 2;
    QString inText, outText;
    auto sink = [&](const StoredValue *values) {
        const StoredValue &vin = values[0];
        const StoredValue &vout = twoFields ? values[1] : values[0];
        std::optional<std::string_view> in, out;
        if (!vin.null)
            in = keptUtf8(vin, csIn, inText, inBytes, true);
        if (!vout.null && !want.out.isEmpty())
            out = twoFields || csIn != csOut ? keptUtf8(vout, csOut, outText, outBytes, false) : in;
        builder.addUtf8(in, inText, out);
    };
    const bool settled = waitTillSettled(want.file, cancel);
    if (cancelled())
        return b;
    if (!file.readRows(want.table, fields, sink, &b.error, cancel)) {
        b.quick = cancel && cancel->load(); // a cancelled read says nothing about the file
        return b;
    }
    if (cancelled())
        return b;
    b.index = builder.build();
    // A file changed during the read has a newer stamp by then: the next
    // look-up reads it again, and the stamp kept here never comes back.
    b.cacheable = settled;
    return b;
} catch (const std::exception &e) {
    // Too big a table or too little memory must not take the program down.
    BuiltIndex b;
    b.error = loadFailure(databaseName, e);
    return b;
}

} // namespace tarnvik
