#include "StripSession.h"

#include <QDir>

#include <cstdio>

namespace tarnvik {

StripSession::StripSession(SettingsStore &store, SearchFolders folders, QObject *parent)
    : QObject(parent), m_store(store), m_folders(std::move(folders)), m_lookup(m_data)
{
    // Reads run in the background: the strip never waits for a file.
    m_data.setWaitForReads(false);
    m_data.setPreparedHandler([this] {
        QMetaObject::invokeMethod(this, &StripSession::prepared, Qt::QueuedConnection);
    });
    // The strip waits in a corner for hours between words: what the last
    // ones touched of a cached index need not stay in its memory meanwhile.
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(std::chrono::seconds(10));
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        if (const auto index = m_data.index())
            index->releasePages();
    });
}

void StripSession::load()
{
    m_store.reload();
    if (!m_store.problem().isEmpty() && !m_toldStoreProblem) {
        m_toldStoreProblem = true;
        emit storeUnusable(QStringLiteral("Soubor nastavení „%1“ nelze použít: %2.\n\n"
                                          "Program začíná s výchozím nastavením. Soubor zůstane, jak je, "
                                          "dokud nastavení znovu neuložíte ve Správě datových zdrojů.")
                               .arg(QDir::toNativeSeparators(m_store.path()), m_store.problem()));
    }
    m_read = readLookupSettings(m_store, m_folders);
    m_topMost = m_read.topMost;
    m_sources = m_read.sources;
    m_active = m_sources.isEmpty() ? 0 : m_read.active;
    if (m_sources.isEmpty())
        m_lookup.setSource(std::nullopt);
    if (!m_upkeep && !m_data.cacheFolder().isEmpty())
        m_upkeep = std::make_unique<CacheUpkeep>(m_data.cacheFolder(), m_store.path(), m_folders);
}

bool StripSession::choose(int index)
{
    if (index < 0 || index >= m_sources.size())
        return false;
    m_active = index;
    prepareActive();
    return true;
}

void StripSession::prepareActive()
{
    if (m_sources.isEmpty())
        return;
    // The strip is up at once; the first keystroke finds the index ready or
    // on its way. A source that cannot be used is told now, while the user is
    // not typing (or once its reading has ended).
    const VisibleSource &src = m_sources[m_active];
    m_lookup.setSource(src);
    if (const QString why = m_lookup.problemToTell(); !why.isEmpty())
        emit sourceProblem(why);
}

LookupResult StripSession::lookUp(const QString &text)
{
    LookupResult r = m_lookup.run(text);
    m_quiet.start();
    // Not left to the news of the ready source alone: a look-up that is due
    // runs, whatever became of that news.
    if (r.kind == LookupResult::Waiting && !m_retryQueued) {
        m_retryQueued = true;
        QTimer::singleShot(250, this, [this] {
            m_retryQueued = false;
            if (m_lookup.waits())
                emit lookUpDue();
        });
    }
    return r;
}

void StripSession::prepared()
{
    if (m_sources.isEmpty())
        return;
    // The index may be new in the cache; and one the strip keeps using for
    // weeks must not age out under it.
    if (m_upkeep)
        m_upkeep->soon(m_data.cacheFile());
    if (m_lookup.tellPending())
        if (const QString why = m_lookup.problemToTell(); !why.isEmpty())
            emit sourceProblem(why);
    // Only a look-up that waited runs again: a pair chosen from the list
    // stays until the text changes.
    if (m_lookup.waits())
        emit lookUpDue();
}

bool StripSession::save()
{
    const int active = m_sources.isEmpty() ? -1 : m_active;
    if (!writeLookupSettings(m_store, m_read, m_topMost, active, m_place))
        return true;
    // A file that could not be read stays for the user to mend or replace
    // knowingly; only an explicit save of the catalogue overwrites it. The
    // user heard of it at the start: not saved, but no box again.
    if (!m_store.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(QStringLiteral("Nastavení okna se neuložilo: soubor „%1“ nelze použít (%2).")
                                    .arg(QDir::toNativeSeparators(m_store.path()), m_store.problem())));
        return false;
    }
    QString error;
    if (!m_store.sync(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        if (!m_sessionEnding)
            emit saveFailed(error);
        return false;
    }
    m_read.topMost = m_topMost;
    if (m_place)
        m_read.position = m_place;
    if (active >= 0)
        m_read.storedActive = active + 1;
    return true;
}

void StripSession::saveForEditor()
{
    // "TopMost" is written too, or the reload after the editor would undo a
    // change made since the start.
    if (m_store.problem().isEmpty())
        save();
}

void StripSession::saveAtEnd(Ending how)
{
    if (how == Ending::AskedToSave) {
        save();
        return;
    }
    if (how == Ending::SessionEnd)
        m_sessionEnding = true;
    if (m_ended)
        return;
    m_ended = true;
    // The strip's own copy is from before the editor, so it writes nothing
    // while the editor's catalogue is there to save.
    const bool saved = how == Ending::SessionEnd && m_editorSave ? m_editorSave() : save();
    m_exitStatus = saved ? 0 : 1;
}

} // namespace tarnvik
