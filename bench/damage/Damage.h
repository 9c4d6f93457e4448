// tarnvik-damage: damages copies of Access files in many ways and drives each
// copy through the look-up's data control and the editor's verification, as
// the window's process would, classifying every outcome against the answer
// the undamaged file gives. See bench/damage.sh.
#pragma once

#include "JetLayout.h"

#include "db/read/MdbFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <set>

namespace tarnvik::damage {

// What one operation gave: an answer (one digest per statement for a
// look-up, one for the others) or a message.
struct Outcome
{
    bool ok = false;
    QStringList answers;
    QString message;
    qint64 ms = 0;
    qint64 rows = -1;
};

struct Binding
{
    QString table, in, out;
    QStringList prefixes;
    // The page walk agrees with the reader on this table: damage outside its
    // pages can be told apart from damage inside.
    bool mapped = false;
    Outcome fields, lookup;
};

struct Original
{
    QString name, path;
    bool own = false;
    QString alternate; // same tables and size, other letters; replaces it while it is read
    Outcome tables, open;
    QList<Binding> bindings;
    JetLayout layout; // not stored: walked again on loading
};

struct Pool
{
    QList<Original> originals;
    bool save(const QString &file, QString *error) const;
    bool load(const QString &file, QString *error);
    QList<int> own() const;
    QList<int> real() const;
};

struct Settings
{
    QString bin;        // the build's bin folder
    QString work;       // a temporary folder for the campaign's files
    QString corpus;     // real files, or empty
    uint64_t seed = 1;
    qint64 count = 1000;
    int jobs = 1;
    int readTimeoutMs = 20000;
    qint64 memoryBytes = qint64(2) << 30;
    int hangMs = 120000;
    bool check = false;
    bool selftest = false;
    bool wrap = true; // run the helper through tarnvik-damage-wrap to learn how it ended
};

// The reader's limits for a campaign read, through the wrapper that notes how
// each helper run ended.
ReadLimits campaignLimits(const Settings &s, int timeoutMs);
// Sets what the wrapper needs; 'fate' is the file it appends to.
void useWrapper(const Settings &s, const QString &fate);

// Makes the own databases and the pool with every original's undamaged answers.
bool setUp(const Settings &s, Pool *pool, QString *error);

// Runs one look-up group the way the window does (background preparation,
// refresh until ready, then both statements for each prefix).
class LookupRunner
{
public:
    LookupRunner();
    ~LookupRunner();
    Outcome run(const QString &path, const Binding &b, const ReadLimits &limits, QStringList *inputs = nullptr);

private:
    struct Impl;
    Impl *d;
};
Outcome verifyTables(const QString &path, const ReadLimits &limits);
Outcome verifyFields(const QString &path, const QString &table, const ReadLimits &limits);
Outcome verifyOpen(const QString &path, const ReadLimits &limits);

enum class Kind { Flip1, FlipFew, FlipRun, Truncate, ZeroPage, CopyPage, Append, LiveGrow, LiveReplace, LiveRewrite };
const char *kindName(Kind k);
inline bool isLive(Kind k) { return k == Kind::LiveGrow || k == Kind::LiveReplace || k == Kind::LiveRewrite; }

struct Case
{
    qint64 index = 0;
    int original = 0;
    Kind kind = Kind::Flip1;
    QString region; // the kind of page hit, or how the file was cut or changed
    QString what;   // where exactly, for the record
    QByteArray bytes; // the file as the reader first finds it
    std::set<uint32_t> pages; // pages the damage touched (for a cut: every page from it on)
    QList<int> bindings;
    // While it is read:
    int replacement = -1;
    int delayMs = 0, stepMs = 0, steps = 1;
    QByteArray grow; // appended in 'steps' pieces (LiveGrow)
};

Case makeCase(const Pool &pool, uint64_t seed, qint64 index);

// With --selftest the driver plants one fault of each sort at these cases,
// and the campaign passes only if each is booked to its case.
constexpr qint64 kPlantedCrash = 3, kPlantedWrong = 5, kPlantedUnnamed = 6, kPlantedHang = 8;

// Drives cases first, first+step, ... up to last, printing one line per case.
int drive(const Settings &s, const Pool &pool, qint64 first, qint64 step, qint64 last);

// Runs the whole campaign under a supervisor that restarts a driver after a
// crash or hang and books it to the case it was on; prints the figures.
int campaign(const Settings &s);
int report(const QString &work, bool check);

} // namespace tarnvik::damage
