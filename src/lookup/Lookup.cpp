#include "Lookup.h"

#include "db/query/Like.h"
#include "db/query/Sql.h"

#include <QElapsedTimer>

namespace tarnvik {

namespace {
constexpr qint64 kTypingMs = 2000;

qint64 steadyMs()
{
    static QElapsedTimer since = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return since.elapsed();
}
} // namespace

Lookup::Lookup(DataControl &data, Clock clock) : m_data(data), m_clock(clock ? std::move(clock) : Clock(steadyMs))
{
}

void Lookup::setSource(std::optional<VisibleSource> source)
{
    m_source = std::move(source);
    m_lastKey.reset();
    m_tellPending = m_source.has_value();
    // The same name keeps what is bound: only another spelling binds anew.
    m_data.setDatabaseName(m_source ? m_source->File : QString());
    if (m_source) {
        m_data.setRequest({m_source->Name, m_source->In, m_source->Out, m_source->CharsetIn, m_source->CharsetOut});
        m_data.prepare();
    }
}

std::optional<qint64> Lookup::count(const QString &text)
{
    m_data.setRecordSource(countStatement(m_source->Name, m_source->In, text));
    if (!m_data.refresh())
        return std::nullopt;
    return m_data.recordset().field(kCountAlias).toLongLong();
}

LookupResult Lookup::run(const QString &text)
{
    m_waits = false;
    LookupResult r;
    if (text.isEmpty())
        return r;
    auto failed = [&r](LookupResult::Kind kind, const QString &why) {
        r.kind = kind;
        r.problem = why;
        return r;
    };
    if (!m_source)
        return failed(LookupResult::NoSource, QStringLiteral("Není vybrán žádný zdroj dat."));
    const VisibleSource &src = *m_source;
    if (const QString missing = missingPartOf(src); !missing.isEmpty())
        return failed(LookupResult::Failed, missing);
    QString error;
    if (!LikePattern::compile(QString(text + u'*'), &error))
        return failed(LookupResult::BadPattern, QStringLiteral("Hledaný text není platný vzor: %1").arg(error));

    auto refreshFailed = [&] {
        if (!m_data.preparing())
            return failed(LookupResult::Failed, m_data.errorString());
        m_waits = true;
        return failed(LookupResult::Waiting, m_data.errorString());
    };
    const auto found = count(text);
    if (!found)
        return refreshFailed();
    const bool none = *found <= 0;
    m_data.setRecordSource(selectStatement(src.Name, src.In, src.Out, text));
    if (none) {
        // Nothing as typed: the same again with diacritics and case ignored
        // ("dum" finds "dům"). A pattern that is none once bare (a range
        // turned round) finds nothing.
        const bool ok = m_data.refresh(LookupIndex::Bare);
        if (!ok && m_data.preparing()) // the file changed since the count
            return refreshFailed();
        if (!ok || m_data.recordset().eof()) {
            r.kind = LookupResult::NoMatch;
            return r;
        }
    } else if (!m_data.refresh()) {
        return refreshFailed();
    }
    r.matches = m_data.recordset().matches();
    if (!none)
        r.matches = wholeWordFirst(text, r.matches);
    const LookupIndex &index = *r.matches.index();
    const uint32_t first = r.matches.row(0);
    r.kind = LookupResult::Found;
    r.firstIn = index.input(first); // Null reads as empty text
    r.firstOut = index.output(first);
    r.diacriticsIgnored = r.matches.diacriticsIgnored(0);
    return r;
}

Matches wholeWordFirst(const QString &text, const Matches &asTyped)
{
    // A pattern has no "word itself" (nor has "ab*", though "ab**" is a
    // prefix pattern); and a word that is there as typed (in any letter
    // case) is the word meant.
    const LookupIndex *index = asTyped.index();
    if (!index)
        return asTyped;
    QString error;
    const QString typed = foldCase(text, index->caseRule());
    const auto pattern = LikePattern::compile(QString(text + u'*'), &error, index->caseRule());
    if (!pattern || !pattern->isPrefixPattern() || pattern->foldedPrefix() != typed
        || !index->findWhole(text).isEmpty())
        return asTyped;
    const Matches whole = index->findWhole(text, LookupIndex::Bare);
    std::vector<uint32_t> head;
    for (size_t k = 0; k < whole.size(); ++k) {
        // One already among the matches as typed keeps its place there.
        const uint32_t row = whole.row(k);
        if (!foldCase(index->input(row), index->caseRule()).startsWith(typed))
            head.push_back(row);
    }
    return Matches(std::move(head), asTyped);
}

void Lookup::keyTyped()
{
    m_lastKey = m_clock();
}

bool Lookup::sourceProblem(QString *why)
{
    // An empty prefix stands for the whole table: the cheapest question that
    // needs the file, the table and both fields.
    const VisibleSource &src = *m_source;
    *why = missingPartOf(src);
    if (!why->isEmpty())
        return true;
    if (count(QString()) || m_data.preparing())
        return false;
    *why = m_data.errorString();
    return true;
}

QString Lookup::problemToTell()
{
    if (!m_source)
        return QString();
    QString why;
    if (!sourceProblem(&why)) {
        m_tellPending = m_data.preparing();
        if (!m_tellPending)
            m_told.clear();
        return QString();
    }
    m_tellPending = false;
    // Told once per cause, and never into the middle of typing: a read that
    // fails long after the source was chosen shows in the tool tip only.
    const bool typing = m_lastKey && m_clock() - *m_lastKey < kTypingMs;
    if (why == m_told || typing)
        return QString();
    m_told = why;
    return why;
}

} // namespace tarnvik
