#include "SingleInstance.h"
#include "UniqueFd.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <thread>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnvik {

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype kMaxToken = 256;
// Two tokens, the text in base64 and the words around them.
constexpr qsizetype kMaxLine = 2 * kMaxToken + (ActivationHint::kMaxText + 2) / 3 * 4 + 48;
// Requests come one per start; more at once than this are not a user.
constexpr qsizetype kMaxClients = 8;
constexpr int kClientMs = 3000;
const QByteArray kVerb = QByteArrayLiteral("activate");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// Followed by what could not be done, in base64.
const QByteArray kNotDone = QByteArrayLiteral("not-done ");
constexpr qsizetype kMaxProblem = 512;

bool isToken(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > kMaxToken)
        return false;
    for (char c : text)
        if (c < 0x21 || c > 0x7e)
            return false;
    return true;
}

QByteArray field(const QByteArray &value)
{
    return isToken(value) && value != "-" ? value : QByteArrayLiteral("-");
}

// Text as it travels: UTF-8 cut to 'max' bytes where a character begins,
// so that what arrives is text, then base64.
QByteArray encodedText(const QString &text, qsizetype max)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > max) {
        qsizetype end = max;
        while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        utf8.truncate(end);
    }
    return utf8.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Whether 'fd' became ready for 'events' before 'deadline'.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(left.count()));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

ActivationHint ActivationHint::fromEnvironment()
{
    ActivationHint h;
    h.startupId = qgetenv("DESKTOP_STARTUP_ID");
    h.activationToken = qgetenv("XDG_ACTIVATION_TOKEN");
    return h;
}

QByteArray ActivationHint::toLine() const
{
    // A hint that cannot travel is left out: the request matters more.
    QByteArray what = QByteArrayLiteral("-");
    switch (lookUp) {
    case LookUp::Nothing:
        break;
    case LookUp::Text:
        what = "text:" + encodedText(text, kMaxText);
        break;
    case LookUp::Selection:
        what = QByteArrayLiteral("selection");
        break;
    case LookUp::Clipboard:
        what = QByteArrayLiteral("clipboard");
        break;
    }
    // Nothing to look up goes as an earlier version's three words, which a
    // running copy of that version still takes.
    const QByteArray line = kVerb + ' ' + field(startupId) + ' ' + field(activationToken);
    return (lookUp == LookUp::Nothing ? line : line + ' ' + what) + '\n';
}

bool ActivationHint::fromLine(QByteArrayView line, ActivationHint *hint)
{
    // A start of an earlier version sends no fourth word.
    const QList<QByteArray> fields = line.toByteArray().split(' ');
    if (fields.size() < 3 || fields.size() > 4 || fields[0] != kVerb || !isToken(fields[1]) || !isToken(fields[2]))
        return false;
    ActivationHint h;
    h.startupId = fields[1] == "-" ? QByteArray() : fields[1];
    h.activationToken = fields[2] == "-" ? QByteArray() : fields[2];
    const QByteArray what = fields.value(3, QByteArrayLiteral("-"));
    if (what == "selection") {
        h.lookUp = LookUp::Selection;
    } else if (what == "clipboard") {
        h.lookUp = LookUp::Clipboard;
    } else if (what.startsWith("text:")) {
        const auto decoded = QByteArray::fromBase64Encoding(
            what.mid(5), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() > kMaxText)
            return false;
        h.lookUp = LookUp::Text;
        h.text = QString::fromUtf8(*decoded);
    } else if (what != "-") {
        return false;
    }
    *hint = h;
    return true;
}

SingleInstance::SingleInstance(const QString &key, const QString &folder, QObject *parent)
    : QObject(parent)
{
    if (!folder.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256);
        m_base = folder + QLatin1String("/tarnvik-") + QString::fromLatin1(hash.toHex().left(16));
    }
}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock: once the lock is free a new owner may
    // make its own socket under the same name, which ours must not remove.
    for (QLocalSocket *client : std::as_const(m_clients))
        client->disconnect(this);
    delete m_server;
    m_server = nullptr;
    m_lock.reset();
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    // Not the temp folder itself: anyone may make or hold names there.
    const QString own = QDir::tempPath() + QStringLiteral("/tarnvik-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(own);
    ::mkdir(native.constData(), 0700);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
        || (st.st_mode & 077) != 0)
        return QString();
    return own;
}

QString SingleInstance::keyFor(const QString &path)
{
    // What exists of the path is resolved (links, "..", other spellings);
    // what is not made yet stays as written. A linked file counts as its
    // target, which is what the settings store writes.
    QString at = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList rest;
    while (!QFileInfo::exists(at)) {
        const QFileInfo info(at);
        const QString up = info.absolutePath();
        if (up == at)
            break;
        rest.prepend(info.fileName());
        at = up;
    }
    const QString resolved = QFileInfo(at).canonicalFilePath();
    if (resolved.isEmpty())
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return rest.isEmpty() ? resolved : QDir::cleanPath(resolved + u'/' + rest.join(u'/'));
}

bool SingleInstance::owns() const
{
    return m_lock && m_lock->isLocked();
}

SingleInstance::Claim SingleInstance::claim()
{
    if (owns())
        return Claim::First;
    if (m_base.isEmpty()) {
        m_error = QStringLiteral("Není složka pro zámek (XDG_RUNTIME_DIR ani dočasná složka nejsou použitelné).");
        return Claim::Failed;
    }
    if (!m_lock) {
        m_lock = std::make_unique<QLockFile>(lockPath());
        // Held for the program's whole life: only a holder that is gone makes
        // it stale, never its age.
        m_lock->setStaleLockTime(0);
    }
    if (m_lock->tryLock(0))
        return Claim::First;
    if (m_lock->error() == QLockFile::LockFailedError)
        return Claim::Running;
    m_error = QStringLiteral("Zámek „%1“ nelze vytvořit%2.")
                  .arg(QDir::toNativeSeparators(lockPath()),
                       m_lock->error() == QLockFile::PermissionError ? QStringLiteral(" (chybí oprávnění)")
                                                                     : QString());
    return Claim::Failed;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    if (!owns()) {
        m_error = QStringLiteral("Soket bez zámku nelze otevřít.");
        return false;
    }
    m_server = new QLocalServer(this);
    // A socket left by a copy that died; the lock makes the name ours now.
    QLocalServer::removeServer(socketPath());
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    if (m_server->listen(socketPath()))
        return true;
    m_error = QStringLiteral("Soket „%1“ nelze otevřít: %2")
                  .arg(QDir::toNativeSeparators(socketPath()), m_server->errorString());
    return false;
}

void SingleInstance::accept()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        if (m_clients.size() >= kMaxClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
        m_clients.insert(client);
        // More than a line is never read, and a client that says nothing is
        // not waited for.
        client->setReadBufferSize(kMaxLine + 1);
        QTimer::singleShot(kClientMs, client, [this, client] { drop(client); });
        connect(client, &QLocalSocket::readyRead, this, [this, client] { serve(client); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] { drop(client); });
        serve(client);
    }
}

void SingleInstance::serve(QLocalSocket *client)
{
    if (!m_clients.contains(client))
        return;
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxLine)
            drop(client);
        return;
    }
    QByteArray line = client->readLine(kMaxLine + 1);
    ActivationHint hint;
    if (!line.endsWith('\n') || !ActivationHint::fromLine(line.chopped(1), &hint)) {
        drop(client);
        return;
    }
    // One request per connection; the client's own end closes it.
    client->disconnect(this);
    m_serving = true;
    m_later = 0;
    emit activationRequested(hint);
    m_serving = false;
    if (!m_clients.contains(client))
        return;
    connect(client, &QLocalSocket::disconnected, this, [this, client] { drop(client); });
    if (m_later)
        m_waiting.insert(m_later, client);
    else
        reply(client, QString());
}

quint64 SingleInstance::answerLater()
{
    if (!m_serving)
        return 0;
    if (!m_later)
        m_later = ++m_lastId;
    return m_later;
}

void SingleInstance::answer(quint64 id, const QString &problem)
{
    QLocalSocket *client = m_waiting.take(id);
    if (client && m_clients.contains(client))
        reply(client, problem);
}

void SingleInstance::reply(QLocalSocket *client, const QString &problem)
{
    if (problem.isEmpty()) {
        client->write(kAnswer);
    } else {
        client->write(kNotDone + encodedText(problem, kMaxProblem) + '\n');
    }
    client->disconnectFromServer();
}

void SingleInstance::drop(QLocalSocket *client)
{
    if (!m_clients.remove(client))
        return;
    m_waiting.removeIf([client](const auto &waiting) { return waiting.value() == client; });
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

SingleInstance::Try SingleInstance::askOnce(const QByteArray &line, Clock::time_point deadline)
{
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return Try::NoAnswer;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return Try::NoAnswer;
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EAGAIN && errno != EINPROGRESS && errno != EINTR)
            return Try::NotListening; // no socket yet, or one left by a copy that died
        if (!waitFor(fd.get(), POLLOUT, deadline))
            return Try::NoAnswer;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return Try::NotListening;
    }
    for (qsizetype sent = 0; sent < line.size();) {
        // Not SIGPIPE, which would end this process, if the owner hangs up.
        const ssize_t n = ::send(fd.get(), line.constData() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (errno == EAGAIN) {
            if (!waitFor(fd.get(), POLLOUT, deadline))
                return Try::NoAnswer;
        } else if (errno != EINTR)
            return Try::NotListening;
    }
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!waitFor(fd.get(), POLLIN, deadline))
            return Try::NoAnswer;
        char buffer[16];
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0)
            answer.append(buffer, n);
        else if (n == 0)
            return Try::NotListening; // hung up: ending, or too busy
        else if (errno != EAGAIN && errno != EINTR)
            return Try::NotListening;
        if (answer.size() > kMaxLine)
            return Try::NoAnswer;
    }
    if (answer == kAnswer)
        return Try::Answered;
    if (answer.startsWith(kNotDone) && answer.endsWith('\n')) {
        const auto decoded = QByteArray::fromBase64Encoding(answer.sliced(kNotDone.size()).chopped(1),
                                                            QByteArray::Base64UrlEncoding
                                                                | QByteArray::OmitTrailingEquals
                                                                | QByteArray::AbortOnBase64DecodingErrors);
        if (decoded) {
            m_error = QString::fromUtf8(*decoded);
            return Try::NotDone;
        }
    }
    return Try::NoAnswer;
}

SingleInstance::Outcome SingleInstance::ask(const ActivationHint &hint, std::chrono::milliseconds patience)
{
    const auto deadline = Clock::now() + patience;
    const QByteArray line = hint.toLine();
    for (;;) {
        // The owner may be ending: then this start becomes the one.
        if (claim() == Claim::First)
            return Outcome::Claimed;
        switch (askOnce(line, deadline)) {
        case Try::Answered:
            return Outcome::Answered;
        case Try::NotDone:
            return Outcome::NotDone;
        case Try::NotListening:
        case Try::NoAnswer:
            break;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return Outcome::NoAnswer;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

} // namespace tarnvik
