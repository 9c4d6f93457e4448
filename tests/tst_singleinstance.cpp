// One running copy per settings file, without a window: a later start on the
// same file reaches the first (another file runs beside it: tst_singlestart),
// what a crashed run left is taken over at once, and no client can stop the
// owner from answering.
#include "platform/SingleInstance.h"
#include "platform/X11Startup.h"
#include "util/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <future>

#include <csignal>
#include <unistd.h>

// Hints are written with the fields they need; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace tarnvik;
using namespace std::chrono_literals;
using Outcome = SingleInstance::Outcome;
using Claim = SingleInstance::Claim;

namespace {

// Run as a child: owns 'key' in 'folder', answers, and says so on stdout.
int holdKey(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SingleInstance owner(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (owner.claim() != Claim::First || !owner.listen())
        return 2;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

// Asks from another thread while this one serves: the ask blocks.
std::future<Outcome> askAsync(SingleInstance &asker, const ActivationHint &hint, std::chrono::milliseconds patience)
{
    return std::async(std::launch::async, [&asker, hint, patience] { return asker.ask(hint, patience); });
}

Outcome awaited(std::future<Outcome> f)
{
    // Events run meanwhile, so an owner in this thread answers.
    // Every ask here has a patience well below the wait, so get() never hangs.
    if (!QTest::qWaitFor([&] { return f.wait_for(0s) == std::future_status::ready; }, 20000))
        qWarning("the ask outlived its patience");
    return f.get();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path(); }

private slots:
    // The launcher's id: its click time, and the message that ends its
    // feedback, cut into the protocol's zero-padded 20-byte pieces.
    void startupIds_data()
    {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<quint32>("time");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("launcher's") << QByteArray("xfce4-panel-12-host_TIME4012345") << 4012345u
                                    << QByteArray("remove: ID=xfce4-panel-12-host_TIME4012345");
        QTest::newRow("no time") << QByteArray("abc") << 0u << QByteArray("remove: ID=abc");
        QTest::newRow("time not a number") << QByteArray("a_TIMEx") << 0u << QByteArray("remove: ID=a_TIMEx");
        QTest::newRow("quoted") << QByteArray("a \\b\"c") << 0u << QByteArray("remove: ID=\"a \\\\b\\\"c\"");
        QTest::newRow("twenty bytes of text: its zero in a piece of its own") << QByteArray("123456789") << 0u << QByteArray("remove: ID=123456789");
    }
    void startupIds()
    {
        QFETCH(QByteArray, id);
        QFETCH(quint32, time);
        QFETCH(QByteArray, text);
        QCOMPARE(tarnvik::startupTime(id), time);
        const QList<QByteArray> pieces = tarnvik::startupRemoveMessage(id);
        for (const QByteArray &p : pieces)
            QCOMPARE(p.size(), 20);
        // Whole pieces, the text and its zero, then zeros only.
        QCOMPARE(pieces.join(), text.leftJustified((text.size() / 20 + 1) * 20, '\0'));
    }

    // What a later start asks to look up travels as it was given: any text
    // (cut where a character begins when it is too long), or where to take it.
    void lookUpRequests()
    {
        using LookUp = ActivationHint::LookUp;
        // What came back, as "kind:text".
        auto form = [](LookUp where, const QString &text) { return QString::number(int(where)) + u':' + text; };
        auto roundTrip = [&](const ActivationHint &h) {
            ActivationHint back; // the line read without its newline
            return ActivationHint::fromLine(h.toLine().chopped(1), &back) ? form(back.lookUp, back.text)
                                                                          : u"refused"_qs;
        };
        for (const QString &text : {u"dům"_qs, u"a b  c"_qs, u"\U0001F600 σπίτι"_qs, u"'\"*?"_qs})
            QCOMPARE(roundTrip({.lookUp = LookUp::Text, .text = text}), form(LookUp::Text, text));
        QCOMPARE(roundTrip({.lookUp = LookUp::Text, .text = QString(700, QChar(u'ž'))}), // 1,400 bytes
                 form(LookUp::Text, QString(ActivationHint::kMaxText / 2, QChar(u'ž'))));
        for (LookUp where : {LookUp::Selection, LookUp::Clipboard, LookUp::Nothing})
            QCOMPARE(roundTrip({.lookUp = where}), form(where, {}));
        // Nothing to look up travels as an earlier version's line, which a
        // running copy of that version takes; such a line asks for nothing.
        QCOMPARE(ActivationHint().toLine(), QByteArray("activate - -\n"));
        ActivationHint h;
        QVERIFY(ActivationHint::fromLine("activate - -", &h) && h.lookUp == LookUp::Nothing);
        const QByteArray bad[] = {"activate - - what", "activate - - text:!!", "activate - - - -",
                                  "activate - - text:" + QByteArray(2000, 'A')};
        for (const QByteArray &line : bad)
            QVERIFY2(!ActivationHint::fromLine(line, &h), line.left(40).constData());
    }

    void keys()
    {
        const QString base = m_dir.filePath(QStringLiteral("keys"));
        QVERIFY(QDir().mkpath(base + QStringLiteral("/real/sub")));
        QVERIFY(QFile::link(base + QStringLiteral("/real"), base + QStringLiteral("/link")));
        const QString ini = base + QStringLiteral("/real/TVK.ini");
        const QString key = SingleInstance::keyFor(ini);
        // Before the file exists and after, by any spelling.
        for (int made = 0; made < 2; ++made) {
            for (const char *spelling : {"/real/TVK.ini", "/real/sub/../TVK.ini", "/link/TVK.ini", "/link/./TVK.ini"})
                QCOMPARE(SingleInstance::keyFor(base + QLatin1String(spelling)), key);
            testutil::writeBytes(ini, {});
        }
        // A folder not made yet under a link.
        QCOMPARE(SingleInstance::keyFor(base + QStringLiteral("/link/new/TVK.ini")),
                 SingleInstance::keyFor(base + QStringLiteral("/real/new/TVK.ini")));
        QVERIFY(SingleInstance::keyFor(base + QStringLiteral("/real/sub/TVK.ini")) != key);
        // A relative path is taken from the working folder.
        QVERIFY(QFileInfo(SingleInstance::keyFor(QStringLiteral("TVK.ini"))).isAbsolute());
    }

    void secondStartReachesTheFirst()
    {
        SingleInstance first(QStringLiteral("/home/a/.config/TVK/TVK.ini"), folder());
        QCOMPARE(first.claim(), Claim::First);
        QVERIFY2(first.listen(), qPrintable(first.error()));
        QList<ActivationHint> got;
        connect(&first, &SingleInstance::activationRequested, this,
                [&](const ActivationHint &hint) { got << hint; });

        SingleInstance second(QStringLiteral("/home/a/.config/TVK/TVK.ini"), folder());
        QCOMPARE(second.claim(), Claim::Running);
        QVERIFY(!second.owns());
        auto ask = [&](const ActivationHint &hint) { return awaited(askAsync(second, hint, 5s)); };
        QCOMPARE(ask({.startupId = "launcher-42_TIME1234", .activationToken = "tok.en-1"}), Outcome::Answered);
        // Hints that cannot travel are left out; the request still counts.
        QCOMPARE(ask({.startupId = "with space", .activationToken = QByteArray(300, 'x')}), Outcome::Answered);
        // The longest text there may be, through the socket.
        const QString longest(ActivationHint::kMaxText / 2, QChar(u'ž'));
        QCOMPARE(ask({.lookUp = ActivationHint::LookUp::Text, .text = longest}), Outcome::Answered);
        QCOMPARE(got.size(), 3);
        QCOMPARE(QByteArrayList({got[0].startupId, got[0].activationToken, got[1].startupId, got[1].activationToken}),
                 QByteArrayList({"launcher-42_TIME1234", "tok.en-1", {}, {}}));
        QCOMPARE(got[2].text, longest);

        // An owner that learns only later whether it managed answers then;
        // what it could not do reaches the later start.
        QString problem;
        connect(&first, &SingleInstance::activationRequested, this, [&] {
            const quint64 id = first.answerLater();
            QTimer::singleShot(300, &first, [&first, id, problem] { first.answer(id, problem); });
        });
        for (const QString &told : {u"Okno nelze přenést do popředí."_qs, QString()}) {
            problem = told;
            QCOMPARE(ask({}), told.isEmpty() ? Outcome::Answered : Outcome::NotDone);
            if (!told.isEmpty())
                QCOMPARE(second.error(), told);
        }

        // No client can stop it answering.
        auto connected = [&] {
            auto *s = new QLocalSocket(this);
            s->connectToServer(first.socketPath());
            return s;
        };
        QLocalSocket *silent = connected(), *hangsUp = connected(), *badLine = connected(), *binary = connected(),
                     *endless = connected(), *twoRequests = connected();
        QTRY_VERIFY(endless->state() == QLocalSocket::ConnectedState);
        hangsUp->abort();
        badLine->write("hello\n");
        binary->write(QByteArray("activate \0\x01 -\n", 15));
        twoRequests->write("activate - - extra\nactivate - -\n");
        // More than a line, never a newline.
        for (int i = 0; i < 64 && endless->state() == QLocalSocket::ConnectedState; ++i) {
            endless->write(QByteArray(4096, 'a'));
            QTest::qWait(5);
        }
        for (QLocalSocket *s : {badLine, binary, endless, twoRequests})
            QTRY_COMPARE(s->state(), QLocalSocket::UnconnectedState);
        QCOMPARE(got.size(), 5);

        // A real request is answered meanwhile, and more after it.
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(ask({}), Outcome::Answered);
            QCOMPARE(got.size(), 5 + i);
        }
        // The silent one is let go in the end.
        QTRY_COMPARE_WITH_TIMEOUT(silent->state(), QLocalSocket::UnconnectedState, 10000);

        // A crowd of silent ones only delays a request.
        QList<QLocalSocket *> crowd;
        for (int i = 0; i < 30; ++i)
            crowd << connected();
        QTest::qWait(100);
        QCOMPARE(awaited(askAsync(second, {}, 10s)), Outcome::Answered);
        QCOMPARE(got.size(), 9);
        qDeleteAll(crowd);

        // Listening, but its event loop does not run: the connection is taken
        // by the system and nobody answers. (An owner that never listens: the
        // real program's box in tst_singlestart.)
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(second.ask({}, 400ms), Outcome::NoAnswer);
        QVERIFY2(clock.elapsed() >= 400 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!second.owns());
    }

    // An owner that ends hands over; a dead one is taken over at once.
    void handOver()
    {
        QString key = QStringLiteral("/ends/TVK.ini");
        auto heir = std::make_unique<SingleInstance>(key, folder());
        std::future<Outcome> asked;
        {
            // Between its lock and its socket, then gone.
            SingleInstance first(key, folder());
            QCOMPARE(first.claim(), Claim::First);
            asked = askAsync(*heir, {}, 10s);
            QTest::qWait(300);
            QVERIFY(asked.wait_for(0s) != std::future_status::ready);
        }
        QCOMPARE(awaited(std::move(asked)), Outcome::Claimed);
        QVERIFY(heir->owns() && heir->listen());
        // Nothing is left behind by an owner that ends.
        const QString socket = heir->socketPath(), lock = heir->lockPath();
        QVERIFY(QFileInfo::exists(socket));
        heir.reset();
        QCOMPARE(std::pair(QFileInfo::exists(socket), QFileInfo::exists(lock)), std::pair(false, false));

        key = QStringLiteral("/crashed/TVK.ini");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), key, folder()});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readAllStandardOutput(), QByteArray("ready\n"));

        SingleInstance later(key, folder());
        QCOMPARE(later.claim(), Claim::Running);
        QCOMPARE(later.ask({}, 5s), Outcome::Answered);
        // Held for long: its age never makes it stale while its owner lives.
        testutil::setModified(later.lockPath(), QDateTime::currentDateTime().addSecs(-3600));
        QCOMPARE(later.claim(), Claim::Running);

        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(std::pair(QFileInfo::exists(later.lockPath()), QFileInfo::exists(later.socketPath())), std::pair(true, true));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(later.claim(), Claim::First);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY2(later.listen(), qPrintable(later.error()));
        int got = 0;
        connect(&later, &SingleInstance::activationRequested, this, [&] { ++got; });
        SingleInstance next(key, folder());
        QCOMPARE(awaited(askAsync(next, {}, 5s)), Outcome::Answered);
        QCOMPARE(got, 1);
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0)
        return holdKey(argc, argv);
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
