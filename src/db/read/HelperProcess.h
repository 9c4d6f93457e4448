// One run of the reader helper (tarnvik-mdbread) in a process of its own,
// under ReadLimits: its records are handed on as they come, what libmdb
// prints is only logged, and a run that hangs, stalls or overruns is stopped.
// Tells how the run ended; MdbFile says what that means to the user.
#pragma once

#include "db/read/MdbFile.h"
#include "db/read/RecordParser.h"

#include <QString>
#include <QStringList>
#include <atomic>

namespace tarnvik {

struct HelperRun
{
    enum End {
        Read,       // a whole record stream, and the helper ended well
        NoPipe,     // detail: the system's words
        NotStarted, // detail: why
        Cancelled,
        TimedOut,
        Stalled,
        Stopped, // a callback said stop
        Failed,  // a crash, a bad exit or a broken stream
    };
    End end = Read;
    QString detail;
};

HelperRun runHelper(const QString &program, const QStringList &args, const ReadLimits &limits, int fieldsPerRow,
                    const RecordParser::RecordFn &onRecord, const RecordParser::RowFn &onRow,
                    const std::atomic<bool> *cancel);

} // namespace tarnvik
