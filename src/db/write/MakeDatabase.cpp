#include "MakeDatabase.h"

#include "db/jet/Charset.h"
#include "db/write/RowSource.h"

#include <QCoreApplication>
#include <QSet>

namespace tarnvik::mkdb {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("mkdb", text);
}

// A dictionary's headword stays Text, where the look-up can order and index
// it; the rest may be Memo.
bool fitRow(const RowSource &src, Row *row, JetWriter::Format format)
{
    if (!src.cutsToFit())
        return false;
    bool cut = src.rowCut();
    for (size_t i = 0; i < row->size(); ++i) {
        if ((*row)[i])
            cut |= MakeDatabase::cutToFit(&*(*row)[i], i == 0 ? JetWriter::FieldType::Text : JetWriter::FieldType::Memo,
                                          format);
    }
    return cut;
}

} // namespace

bool MakeDatabase::cutToFit(QString *value, JetWriter::FieldType type, JetWriter::Format format)
{
    // Memo holds under 16 MB as stored: Jet 3 a byte a character, Jet 4 as jet4Text packs it.
    constexpr qsizetype kMaxMemoBytes = 0xFFFFFF;
    qsizetype keep = type == JetWriter::FieldType::Text ? JetWriter::kMaxTextLength : kMaxMemoBytes;
    if (type == JetWriter::FieldType::Memo && format == JetWriter::Format::Jet4) {
        if (value->size() * 2 + 2 <= kMaxMemoBytes)
            return false;
        const auto stored = JetWriter::jet4Text(*value);
        if (!stored || stored->size() <= kMaxMemoBytes)
            return false; // fits, or is the writer's to refuse
        // The stored size of each prefix as jet4Text makes it: packed while
        // every character can be and that is shorter, else two bytes each.
        const bool markFirst = value->front().unicode() == 0xFEFF;
        qsizetype packed = 2;
        bool narrowRun = true, compressible = true;
        keep = 0;
        for (qsizetype n = 1; n <= value->size(); ++n) {
            const char16_t u = value->at(n - 1).unicode();
            compressible = compressible && (u & 0xFF) != 0;
            const bool narrow = u < 0x100;
            packed += (narrow != narrowRun) + (narrow ? 1 : 2);
            narrowRun = narrow;
            const qsizetype size = compressible ? (markFirst ? packed : std::min(packed, 2 * n)) : 2 * n;
            if (size > kMaxMemoBytes)
                break;
            keep = n;
        }
    }
    if (value->size() <= keep)
        return false;
    if (keep > 0 && value->at(keep - 1).isHighSurrogate())
        --keep;
    value->truncate(keep);
    return true;
}

bool MakeDatabase::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool MakeDatabase::stopped()
{
    if (cancel && cancel->load(std::memory_order_relaxed))
        m_cancelled = true;
    return m_cancelled;
}

bool MakeDatabase::run(const QString &output, const std::vector<Input> &inputs)
{
    m_tables.assign(inputs.size(), {});
    m_error.clear();
    m_cancelled = false;
    const CodePage *cp = format == JetWriter::Format::Jet3 ? CodePage::get(codePage) : nullptr;
    std::vector<std::unique_ptr<RowSource>> sources;
    qint64 total = 0;
    Row row;

    // First pass: the input is well formed, names are usable, and every value fits.
    for (size_t k = 0; k < inputs.size(); ++k) {
        const Input &in = inputs[k];
        auto src = RowSource::forFile(in.path, in.format, &m_error);
        if (!src)
            return false;
        if (!src->start())
            return fail(src->errorString());
        const QStringList names = src->fieldNames();
        if (names.isEmpty())
            return fail(tr("%1: žádná pole.").arg(in.path));
        QSet<QString> folded;
        for (const QString &n : names) {
            const QString problem = JetWriter::nameProblem(n);
            if (!problem.isEmpty())
                return fail(QStringLiteral("%1:1: %2").arg(in.path, problem));
            if (folded.contains(n.toCaseFolded()))
                return fail(tr("%1:1: pole „%2“ je uvedeno dvakrát.").arg(in.path, n));
            folded.insert(n.toCaseFolded());
        }
        std::vector<qsizetype> longest(size_t(names.size()), 0);
        MadeTable &made = m_tables[k];
        for (;;) {
            const RowSource::Result r = src->next(&row);
            if (r == RowSource::End)
                break;
            if (r == RowSource::Error)
                return fail(src->errorString());
            if (stopped())
                return false;
            if ((++made.rows & 0xFFF) == 0 && progress)
                progress(0, 0);
            if (fitRow(*src, &row, format))
                ++made.cut;
            for (size_t i = 0; i < row.size(); ++i) {
                if (!row[i])
                    continue;
                longest[i] = std::max(longest[i], row[i]->size());
                if (cp && !cp->canEncode(*row[i]))
                    return fail(tr("%1:%2: hodnotu pole „%3“ nelze zapsat v kódové stránce %4.")
                                    .arg(in.path)
                                    .arg(src->line())
                                    .arg(names[qsizetype(i)])
                                    .arg(codePage));
            }
        }
        for (qsizetype i = 0; i < names.size(); ++i) {
            const bool memo = longest[size_t(i)] > JetWriter::kMaxTextLength;
            made.fields.push_back({names[i], memo ? JetWriter::FieldType::Memo : JetWriter::FieldType::Text});
        }
        made.title = src->title();
        sources.push_back(std::move(src));
    }

    JetWriter writer;
    if (!writer.open(output, format, codePage))
        return fail(writer.errorString());
    qint64 done = 0;
    for (const MadeTable &t : m_tables)
        total += t.rows;
    for (size_t k = 0; k < inputs.size(); ++k) {
        RowSource &src = *sources[k];
        const QString &path = inputs[k].path;
        if (!writer.beginTable(inputs[k].table, m_tables[k].fields))
            return fail(QStringLiteral("%1: %2").arg(path, writer.errorString()));
        if (!src.start())
            return fail(src.errorString());
        RowSource::Result r;
        while ((r = src.next(&row)) == RowSource::Ok) {
            if (stopped())
                return false;
            fitRow(src, &row, format);
            if (!writer.addRow(row))
                return fail(QStringLiteral("%1:%2: %3").arg(path).arg(src.line()).arg(writer.errorString()));
            if ((++done & 0xFFF) == 0 && progress)
                progress(done, total);
        }
        if (r == RowSource::Error)
            return fail(src.errorString());
        if (!writer.endTable())
            return fail(QStringLiteral("%1: %2").arg(path, writer.errorString()));
    }
    if (!writer.commit())
        return fail(writer.errorString());
    return true;
}

} // namespace tarnvik::mkdb
