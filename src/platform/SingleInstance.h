// One running copy per settings file. Two copies on one file would each write
// their own catalogue and window state over the other's on exit, so a later
// start hands its request to the running copy and ends.
//
// The copy that holds a lock file owns the key for its whole life and answers
// on a local socket beside it; both are named after a hash of the key in the
// user's runtime folder.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace tarnvik {

// What a later start passes on so the window manager lets the running copy
// take the focus: the launcher's startup id (X11) or activation token (Wayland).
struct ActivationHint
{
    QByteArray startupId;
    QByteArray activationToken;
    // What the strip is to look up once it comes forward: nothing new, the
    // text given, or the desktop's selection or clipboard as it then is.
    enum class LookUp { Nothing, Text, Selection, Clipboard };
    LookUp lookUp = LookUp::Nothing;
    QString text; // for LookUp::Text; sent as at most kMaxText bytes of UTF-8
    static constexpr qsizetype kMaxText = 1024;

    // The hints this process was started with; read them before the display is
    // opened, which takes DESKTOP_STARTUP_ID away.
    static ActivationHint fromEnvironment();
    QByteArray toLine() const;
    // False for anything but a line toLine() makes (the newline removed).
    static bool fromLine(QByteArrayView line, ActivationHint *hint);
};

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // 'key' is what the copies must not share (the settings file's path);
    // 'folder' holds the lock and the socket.
    explicit SingleInstance(const QString &key, const QString &folder = defaultFolder(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder, or a private folder in the temp folder;
    // empty when neither can be had safely.
    static QString defaultFolder();
    // One key for every spelling of the same file, existing yet or not.
    static QString keyFor(const QString &path);

    enum class Claim {
        First,   // this process owns the key now
        Running, // another living process owns it
        Failed,  // the lock could not be made; see error()
    };
    // Takes the lock; one left by a process that died is taken over at once.
    // Needs no application object.
    Claim claim();
    bool owns() const;

    // The owner, once its event loop exists: answers later starts. False (and
    // error() set) if the socket cannot be made.
    bool listen();

    enum class Outcome {
        Answered, // the running copy took the request
        NotDone,  // it took the request but could not do all of it; error() says what
        Claimed,  // the running copy ended meanwhile: this process owns the key now
        NoAnswer, // it holds the key but did not answer in time
    };
    // A later start: hands 'hint' to the owner, retrying while it is still
    // on its way to listening. Blocks; needs no event loop.
    Outcome ask(const ActivationHint &hint, std::chrono::milliseconds patience);

    QString lockPath() const { return m_base + QLatin1String(".lock"); }
    QString socketPath() const { return m_base + QLatin1String(".socket"); }
    QString error() const { return m_error; }

    // Called by a handler of activationRequested that learns only later
    // whether it managed (the window manager answers in its own time): the
    // request is then answered by answer() with the id returned, or not at
    // all once the later start has given up.
    quint64 answerLater();
    // Empty 'problem' when all was done; else what could not be, which the
    // later start reports (one line, cut to a few hundred bytes).
    void answer(quint64 id, const QString &problem);

signals:
    // A later start asked for the window; answered once the handlers
    // returned, unless one of them called answerLater().
    void activationRequested(const tarnvik::ActivationHint &hint);

private:
    enum class Try { Answered, NotDone, NotListening, NoAnswer };
    Try askOnce(const QByteArray &line, std::chrono::steady_clock::time_point deadline);
    void accept();
    void serve(QLocalSocket *client);
    void drop(QLocalSocket *client);
    void reply(QLocalSocket *client, const QString &problem);

    QString m_base;
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    QSet<QLocalSocket *> m_clients;
    bool m_serving = false;
    quint64 m_later = 0, m_lastId = 0;
    QHash<quint64, QLocalSocket *> m_waiting;
};

} // namespace tarnvik
