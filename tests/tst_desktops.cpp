// The strip on a real desktop, driven by real input (xdotool): run under
// openbox, GNOME's window manager, weston (Wayland) and GNOME's compositor in
// Wayland mode (as its client and through Xwayland), one wrapper each.
#include "dropdown/frmCombo.h"
#include "editor/setData.h"
#include "lookup/frmDict.h"
#include "lookup/PairView.h"
#include "platform/Dict.h"
#include "platform/GlobalShortcut.h"
#include "widgets/CellGrid.h"
#include "util/TestUtil.h"
#include "platform/LeakCheck.h"
#include "platform/X11.h"
#include "util/Strip.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstring>

using namespace tarnvik;
using testutil::otherProgramsWindow;

namespace {

// Collects the startup-notification messages sent to the root window, as a
// launcher's feedback reads them (each from its first piece on), on a
// connection of its own.
class StartupListener
{
public:
    StartupListener() : m_c(xcb_connect(nullptr, nullptr))
    {
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_c, xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root, XCB_CW_EVENT_MASK,
                                     &mask);
        for (const char *name : {"_NET_STARTUP_INFO_BEGIN", "_NET_STARTUP_INFO"}) {
            auto *r = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
            m_atoms << (r ? r->atom : xcb_atom_t(XCB_ATOM_NONE));
            free(r);
        }
    }
    ~StartupListener() { xcb_disconnect(m_c); }
    // The messages received so far, whole.
    QList<QByteArray> messages()
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_c)) {
            const auto *m = reinterpret_cast<xcb_client_message_event_t *>(e);
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m_atoms.contains(m->type)) {
                m_pieces += m->type == m_atoms[0] ? "\n" : "";
                m_pieces += QByteArray(reinterpret_cast<const char *>(m->data.data8), 20);
            }
            free(e);
        }
        QList<QByteArray> whole;
        for (const QByteArray &message : m_pieces.split('\n').mid(1))
            whole << message.left(message.indexOf('\0'));
        return whole;
    }

private:
    xcb_connection_t *m_c;
    QList<xcb_atom_t> m_atoms;
    QByteArray m_pieces; // a line break where a message begins
};

} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT
    testutil::Strip m_w;

    QLineEdit *text1() { return m_w.text1(); }
    QWidget *combo1() { return m_w.combo1(); }
    static bool wayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }
    // An X client of a Wayland compositor's Xwayland, as on a GNOME session.
    static bool xwayland() { return !wayland() && qgetenv("XDG_SESSION_TYPE") == "wayland"; }

    // Real input; the events it makes are handled once the test waits.
    static void xdotool(const QStringList &args, int settleMs = 150) { testutil::xdo(args, settleMs); }
    static void typeReally(const QString &text) { xdotool({"type", "--delay", "60", text}, 400); }
    static void keyReally(const QStringList &keys) { xdotool(QStringList{"key"} + keys, 300); }
    static QRect onScreen(QWidget *w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }
    // Whether the X server sends the keys to 'w': a window manager may say a
    // window is active a moment before it hands it the keyboard.
    static bool keysGoTo(QWidget *w)
    {
        xcb_connection_t *c = x11Connection();
        if (!c)
            return true;
        xcb_get_input_focus_reply_t *r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const bool there = r && r->focus == xcb_window_t(w->winId());
        free(r);
        return there;
    }
    // The pointer moved to 'p' (with --sync: until it is there).
    static QStringList moveTo(QPoint p, bool sync = false)
    {
        return (sync ? QStringList{"mousemove", "--sync"} : QStringList{"mousemove"}) << QString::number(p.x())
                                                                                   << QString::number(p.y());
    }

private slots:
    void cleanupTestCase()
    {
        if (wayland())
            keepLibrariesForLeakCheck();
    }

    void initTestCase()
    {
        if (QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) != 0)
            QSKIP("xdotool is not installed");
        const QString db = m_w.path(QStringLiteral("slova.mdb"));
        std::vector<testutil::Row> rows;
        for (const char *w : {"dům", "domek", "domov", "dobrý", "den", "dva", "dveře", "kůň"})
            rows.push_back({QString::fromUtf8(w), QStringLiteral("-")});
        for (int i = 0; i < 80; ++i) // more than fit under the strip
            rows.push_back({QStringLiteral("dal%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("-")});
        testutil::makeDatabase(db, rows);
        m_w.start(testutil::oneSource(db, QStringLiteral("TopMost=True\n")), testutil::Strip::Wait::Exposed);
        QTRY_VERIFY_WITH_TIMEOUT(!m_w->data1().preparing(), testutil::kReadWaitMs);
    }

    // The keys typed straight after the start reach the text box; the list
    // opens under Combo1, never over the text box, and typing goes on in it.
    void typingAndTheList()
    {
        QTRY_COMPARE(QApplication::focusWidget(), text1());
        // Through Xwayland GNOME's compositor may hand the new window the keys
        // a moment after Xwayland has told it it has them: keys typed at once
        // can be lost on a loaded machine.
        if (xwayland())
            QTest::qWait(500);
        typeReally(QStringLiteral("do"));
        QTRY_COMPARE(text1()->text(), QStringLiteral("do"));
        // Held as a hand holds it: a Wayland popup opens for the key's press,
        // which must be the last input the compositor sent.
        xdotool({"keydown", "Down"}, 300);
        xdotool({"keyup", "Down"});
        frmCombo *list = m_w->dropDown();
        QTRY_VERIFY(list->isVisible());
        QCOMPARE(QApplication::activePopupWidget(), list);
        const QRect shown = list->geometry(), box = onScreen(combo1());
        QCOMPARE(shown.topLeft(), box.bottomLeft() + QPoint(0, 1));
        QVERIFY(!shown.intersects(onScreen(text1())) && !shown.intersects(box));

        typeReally(QStringLiteral("m"));
        QTRY_COMPARE(text1()->text(), QStringLiteral("dom"));
        QVERIFY(list->isVisible());
        keyReally({"BackSpace", "BackSpace"});
        QTRY_COMPARE(text1()->text(), QStringLiteral("d"));
        QTRY_VERIFY(list->isVisible()); // many rows: they scroll
        keyReally({"End"});
        QCOMPARE(list->currentRow(), list->rowCount() - 1);
        keyReally({"Escape"});
        QTRY_VERIFY(list->isHidden());
        QTRY_COMPARE(QApplication::focusWidget(), text1());
        if (wayland())
            return; // the pointer below needs the window's place on the screen

        // The arrow opens the list and closes it again; a click on the text
        // box closes it and the keys are there.
        const QPoint arrow = combo1()->mapToGlobal(QPoint(combo1()->width() - 6, combo1()->height() / 2));
        const QPoint text = text1()->mapToGlobal(QPoint(10, text1()->height() / 2));
        // Clicked, and then the list shown or not.
        auto click = [list](QPoint at, bool shown) {
            // No --sync: a move to where the pointer already is never ends.
            xdotool(moveTo(at) << "sleep" << "0.1" << "click" << "1", 400);
            QTRY_COMPARE(list->isVisible(), shown);
        };
        click(arrow, true);
        click(arrow, false);
        QTest::qWait(300);
        QVERIFY(list->isHidden());
        click(arrow, true);
        click(text, false);
        QTRY_COMPARE(QApplication::focusWidget(), text1());

        // Opened by the arrow, closed by a letter that matches nothing: the
        // keys after it still go to the text box.
        click(arrow, true);
        const QString before = text1()->text();
        typeReally(QStringLiteral("x"));
        QTRY_VERIFY(list->isHidden());
        typeReally(QStringLiteral("y"));
        QTRY_COMPARE(text1()->text(), before + QStringLiteral("xy"));
        keyReally({"BackSpace", "BackSpace"});

        // A double click on the shown pair: the pair whole, in a window of its
        // own; Escape closes it and the keys are back in the text box.
        const QPoint pair = m_w.gridd(1)->mapToGlobal(QPoint(10, 8));
        xdotool(moveTo(pair) << "sleep" << "0.1" << "click" << "--repeat" << "2" << "--delay" << "80" << "1", 400);
        QTRY_VERIFY(m_w->findChild<PairView *>());
        QVERIFY(list->isHidden());
        QVERIFY(m_w->findChild<PairView *>()->text().startsWith(QStringLiteral("d")));
        keyReally({"Escape"});
        QTRY_VERIFY(!m_w->findChild<PairView *>());
        QTRY_COMPARE(QApplication::focusWidget(), text1());
    }

    // Twice "Vždy navrchu": the same native window, and the keys stay.
    void alwaysOnTopKeepsTheKeys()
    {
        if (!platformKeepsOnTop()) {
            QVERIFY(!m_w.topMostAction()->isEnabled() && !m_w.topMostAction()->toolTip().isEmpty());
            return;
        }
        const auto before = std::pair(m_w->winId(), m_w->frameGeometry());
        for (int i = 0; i < 2; ++i) {
            m_w.topMostAction()->trigger();
            QTest::qWait(300);
            QCOMPARE(std::pair(m_w->winId(), m_w->frameGeometry()), before);
        }
        text1()->clear();
        typeReally(QStringLiteral("dv"));
        QTRY_COMPARE(text1()->text(), QStringLiteral("dv"));
    }

    // A drag on the surface moves the window by the pointer's way (a press
    // that is no drag moves nothing: tst_window).
    void dragByTheSurface()
    {
        if (wayland())
            QSKIP("a Wayland client is not told where its window is");
        // Pressed at 'from' on the picture and moved by 'by' in ten steps;
        // the hand moves on a little after the release. (Through Xwayland the
        // X server hears the button go up after the compositor's move only
        // with the pointer's next move.)
        auto drag = [](QPoint from, QPoint by) {
            xdotool(moveTo(from, true) << "sleep" << "0.2" << "mousedown" << "1", 300);
            for (int step = 1; step <= 10; ++step)
                xdotool(moveTo(from + by * step / 10, true), 30);
            xdotool({"mouseup", "1"}, 300);
            xdotool(moveTo(from + by + QPoint(-3, 2), true), 300);
        };
        const QPoint was = m_w->pos();
        drag(m_w->mapToGlobal(QPoint(20, 20)), QPoint(50, 40));
        QTRY_COMPARE(m_w->pos(), was + QPoint(50, 40));
        // Dropped with 20 px left at the right edge, or above the top: the
        // strip comes back, flush with that edge.
        const QRect screen = m_w->screen()->availableGeometry();
        auto shown = [&] { return screen.contains(QRect(m_w->mapToGlobal(QPoint(0, 0)), m_w->size())); };
        // Not where the pointer is: a synchronous move there never ends.
        QPoint from = m_w->mapToGlobal(QPoint(10, 20));
        drag(from, QPoint(screen.right() - from.x(), 0));
        QTRY_VERIFY(shown());
        QCOMPARE(m_w->mapToGlobal(QPoint(m_w->width(), 0)).x(), screen.right() + 1);
        from = m_w->mapToGlobal(QPoint(20, 35));
        drag(from, QPoint(0, screen.top() + 10 - from.y()));
        QTRY_VERIFY(shown());
        QVERIFY(m_w->pos().y() >= screen.top() - 6);
        // The place is kept for the next start.
        QVERIFY(m_w->saveAllMySettings());
        QCOMPARE(SettingsStore(m_w.ini()).getSetting(u"Settings"_qs, u"Left"_qs, {}), QString::number(m_w->pos().x()));
    }

    // Weston leaves the title bar to Qt, which cuts a long caption off where
    // its buttons begin: the editor's shows whole. Seen on the X server that
    // shows weston's desktop.
    void editorCaptionWhole()
    {
        const QString weston = qEnvironmentVariable("TARNVIK_WESTON_XWINDOW");
        if (!wayland() || weston.isEmpty())
            QSKIP("the title bar is the desktop's own");
        const QString shotFile = m_w.path(QStringLiteral("editor.png"));
        QString caption;
        QElapsedTimer shown;
        testutil::polling([&] { m_w.settingsAction()->trigger(); },
                          [&] {
                              auto *editor = QApplication::activeModalWidget();
                              if (!editor || !caption.isEmpty())
                                  return;
                              if (!shown.isValid())
                                  shown.start();
                              if (shown.elapsed() < 1500) // shown and painted, title bar too
                                  return;
                              caption = editor->windowTitle();
                              QProcess::execute(QStringLiteral("import"), {"-window", weston, shotFile});
                              editor->close();
                          }, 3000);
        QVERIFY(!caption.isEmpty());
        const QImage shot(shotFile);
        QVERIFY(!shot.isNull());
        // The editor's title bar: the topmost long run in the bar's colour.
        const QRgb face = QPalette().color(QPalette::Active, QPalette::Window).rgb();
        QRect window;
        for (int y = 0; y < shot.height() && window.isNull(); ++y)
            for (int x = 0, run = 0; x < shot.width(); ++x) {
                run = shot.pixel(x, y) == face ? run + 1 : 0;
                if (run >= 150 && (x + 1 == shot.width() || shot.pixel(x + 1, y) != face)) {
                    window = QRect(QPoint(x - run - 1, y), QPoint(x + 2, y + 30));
                    break;
                }
            }
        QVERIFY(!window.isNull());
        // The caption's ink in the bar, between the icon and the buttons.
        int first = -1, last = -1;
        for (int x = window.left() + 35; x < window.right() - 72; ++x)
            for (int y = window.top(); y < window.top() + 30; ++y)
                if (qGray(shot.pixel(x, y)) < 200) {
                    if (first < 0)
                        first = x;
                    last = x;
                    break;
                }
        QFont title = QGuiApplication::font();
        title.setPixelSize(14);
        const int whole = QFontMetrics(title).tightBoundingRect(caption).width();
        QVERIFY2(first >= 0 && last - first + 1 >= whole - 2,
                 qPrintable(QStringLiteral("%1 of %2 pixels of the caption in %3").arg(last - first + 1).arg(whole).arg(
                     QDebug::toString(window))));
    }

    // A choice's list closed by Escape leaves the keys in its box and the
    // editor open (weston hands that Escape to the box as well).
    void choiceListClosedByEscape()
    {
        QString box, after; // where the keys were, by name
        bool started = false, listed = false, open = false;
        auto focus = [] {
            const QWidget *w = QApplication::focusWidget();
            return w ? w->objectName() + u'/' + QLatin1String(w->metaObject()->className()) : QString();
        };
        testutil::polling([&] { m_w.settingsAction()->trigger(); }, [&] {
            auto *editor = qobject_cast<setData *>(QApplication::activeModalWidget());
            if (!editor || editor->busy() || std::exchange(started, true))
                return;
            QTest::qWait(500); // shown and given the keys
            // The pointer away, in weston by way of a point outside its window.
            const QStringList outside = qEnvironmentVariable("TARNVIK_WESTON_OUTSIDE").split(u' ', Qt::SkipEmptyParts);
            xdotool(outside.size() == 2 ? QStringList{"mousemove", outside[0], outside[1], "mousemove", "15", "15"}
                                        : QStringList{"mousemove", "0", "0"});
            keyReally({"Escape", "Down", "Down", "Down", "Down", "Return"}); // a choice's row, its box
            box = focus();
            keyReally({"space"});
            listed = QApplication::activePopupWidget();
            keyReally({"Escape"});
            after = focus();
            open = QApplication::activeModalWidget() == editor;
            editor->close();
        }, 6000);
        QVERIFY(box.endsWith(u"/QComboBox"));
        if (!listed) // weston, driven by xdotool, may close the list at once
            QSKIP("the list did not stay open");
        QVERIFY(open);
        QCOMPARE(after, box);
    }

    // A later start, or the shortcut from anywhere, brings the strip forward
    // over another program's window the user was working in, with the keys
    // in the text box: a later start's text selected, the shortcut's
    // selection looked up (or the strip's own text selected where there is none).
    void broughtForward()
    {
        if (wayland())
            QSKIP("a Wayland client comes forward only with a launcher's token from the compositor, and grabs no keys");
        // The keys left elsewhere in the window (nothing typed: the list stays shut).
        text1()->clear();
        m_w.combo1()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), combo1());
        QProcess other;
        const QString window = otherProgramsWindow(other);
        QVERIFY(!window.isEmpty());
        // A click there: the user's latest action is in the other program.
        xdotool({"mousemove", "--window", window, "5", "5", "click", "1"}, 300);
        QTRY_VERIFY(QApplication::activeWindow() != &m_w.window());
        // Asked with the launcher's id: its feedback ends, the strip comes
        // forward with the last text selected, and typing replaces it.
        // GNOME's compositor, through Xwayland, counts every click as the
        // user's latest action: an id without a time is asked at the present.
        StartupListener launcher;
        ActivationHint hint;
        hint.startupId = "tarnvik-zkouska-1_TIME0";
        text1()->setText(QStringLiteral("dva"));
        m_w->bringToFront(hint);
        QTRY_COMPARE(launcher.messages(), QList<QByteArray>{"remove: ID=tarnvik-zkouska-1_TIME0"});
        QTRY_COMPARE(QApplication::activeWindow(), &m_w.window());
        QTRY_COMPARE(QApplication::focusWidget(), text1());
        QCOMPARE(text1()->selectedText(), QStringLiteral("dva"));
        QTRY_VERIFY(keysGoTo(&m_w.window()));
        if (xwayland())
            QTest::qWait(500); // the keys reach it a moment later there (typingAndTheList)
        typeReally(QStringLiteral("ku"));
        QTRY_COMPARE(text1()->text(), QStringLiteral("ku"));

        xdotool({"windowactivate", "--sync", window}, 300);
        QTRY_VERIFY(QApplication::activeWindow() != &m_w.window());
        QGuiApplication::clipboard()->setText(QStringLiteral("dveře\nza nimi"), QClipboard::Selection);
        keyReally({"ctrl+alt+shift+l"});
        QTRY_COMPARE(QApplication::activeWindow(), &m_w.window());
        QCOMPARE(text1()->text(), QStringLiteral("dveře"));
        QCOMPARE(text1()->selectedText(), QStringLiteral("dveře"));
        QTRY_COMPARE(m_w.gridd(0)->cellText(), QStringLiteral("dveře"));

        xdotool({"windowactivate", "--sync", window}, 300);
        QGuiApplication::clipboard()->clear(QClipboard::Selection);
        keyReally({"ctrl+alt+shift+l"});
        QTRY_COMPARE(QApplication::activeWindow(), &m_w.window());
        QCOMPARE(text1()->selectedText(), QStringLiteral("dveře"));
        other.kill();
        other.waitForFinished();

        // A combination no key makes, or of keys that cannot be grabbed, is said.
        GlobalShortcut shortcut;
        QString error;
        bool held = true;
        QVERIFY(!shortcut.grab(QKeySequence(QStringLiteral("Ctrl+Left")), &error, &held));
        QVERIFY(!held && error.contains(QStringLiteral("Ctrl+Left")));
    }
};

QTEST_MAIN(TestDesktops)
#include "tst_desktops.moc"
