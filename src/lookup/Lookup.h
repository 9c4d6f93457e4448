// The look-up behind the lookup window, without the window: the count and
// the select through the data control, the check of the typed pattern, and
// when a source's problem is told to the user. The window only paints what
// a run returns.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/DataControl.h"

#include <QString>
#include <functional>
#include <optional>

namespace tarnvik {

struct LookupResult
{
    enum Kind {
        NoText,     // nothing typed
        NoSource,   // no source to look in
        BadPattern, // the typed text is no pattern
        Failed,     // the source lacks a part, or cannot be read
        Waiting,    // the source is still being read; run again when it is ready
        NoMatch,
        Found,
    };
    Kind kind = NoText;
    QString firstIn, firstOut; // Found: the first row's pair (Null reads as empty)
    Matches matches;           // Found: every match, in order
    bool diacriticsIgnored = false; // Found: the first match was found only with diacritics ignored
    QString problem;           // why nothing is shown; empty when nothing is wrong
};

// The matches as typed, headed by every entry that is the typed text itself
// once case and diacritics are ignored, where none is the text itself in any
// letter case (a plain "αλογο" shows "άλογο" first): the word a user types
// without its accents is the word meant, though longer words begin with it.
Matches wholeWordFirst(const QString &text, const Matches &asTyped);

class Lookup
{
public:
    // Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;
    explicit Lookup(DataControl &data, Clock clock = {});

    // The source looked up in from now on (none for an empty catalogue): the
    // data control is bound to its file (by the exact text of its name) and
    // starts preparing it, and its problem is due to be told (problemToTell).
    void setSource(std::optional<VisibleSource> source);
    LookupResult run(const QString &text);

    // A key went into the text box: a problem is not told into typing.
    void keyTyped();
    // The source's problem, to tell in a box now: once per cause, and never
    // within 2 s of a key (typing shows it in the colours and tool tips only).
    // Empty when there is nothing to tell now, or while the source is read.
    QString problemToTell();
    // A problem is still to be looked at once the source is read.
    bool tellPending() const { return m_tellPending; }
    // The last run waits for the source to be read.
    bool waits() const { return m_waits; }

private:
    // Whether the source cannot be used, and why; false while it is read.
    bool sourceProblem(QString *why);
    // How many rows of the source begin with the text; none when that failed.
    std::optional<qint64> count(const QString &text);

    DataControl &m_data;
    Clock m_clock;
    std::optional<VisibleSource> m_source;
    std::optional<qint64> m_lastKey;
    QString m_told;
    bool m_tellPending = false;
    bool m_waits = false;
};

} // namespace tarnvik
