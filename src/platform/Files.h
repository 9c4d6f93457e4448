// Files the program reads in the user's place and writes for the user: opened
// without ever waiting on what is put where a file should be, replaced whole
// or not at all, and written by one copy of the program at a time.
#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>

namespace tarnvik {

// An errno value in the user's words: Czech for the common causes.
QString systemMessage(int err);

// A regular file open for reading. Opened without blocking and checked
// through the descriptor: a FIFO put in the file's place would hold the
// caller (the window, say) until something writes into it, a device might
// never end.
struct RegularFile
{
    enum Problem { None, Missing, Folder, NotRegular, Failed };

    UniqueFd fd;
    qint64 size = 0;
    Problem problem = Failed;
    int error = 0; // errno, with Failed
};
// Missing also when a folder on the way is a file.
RegularFile openRegularFile(const QString &path);

// Where a save to 'path' goes: a linked file (dotfile managers) is replaced
// where the link points, also when nothing is there yet.
bool saveTarget(const QString &path, QString *target, QString *error);

// Writes beside 'path', syncs, then renames over it: the old file stays whole
// until the new one is complete, and a failure leaves nothing behind. The new
// file keeps the old one's permissions. *error is the system's words.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error);

// A save killed outright leaves its temporary file beside 'path'; the next
// one, holding the FolderLock no other save could hold, clears it away.
void removeStaleSaveFiles(const QString &path);

// Copies of the program that save at once take turns, or one would replace
// the file with a copy read before the other's save and lose that save. The
// folder is locked: the file itself is replaced, and its lock with it.
class FolderLock
{
public:
    explicit FolderLock(const QString &folder);
    bool held() const { return m_held; }
    // Makes a rename in the folder last through a power cut.
    void syncFolder() const;

private:
    UniqueFd m_fd;
    bool m_held = false;
};

} // namespace tarnvik
