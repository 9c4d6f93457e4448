#include "Strip.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QtTest>

#include <QScopeGuard>

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <algorithm>

using namespace tarnvik;

namespace testutil {

void makeDatabase(const QString &path, const std::vector<Row> &rows, const QString &table)
{
    const QString tsv = QFileInfo(path).absolutePath() + u'/' + table + QStringLiteral(".tsv");
    writeTsv(tsv, {"slovo", "vyznam"}, rows);
    const Run r = runMkdb({path, tsv});
    if (r.exitCode != 0)
        qFatal("tarnvik-mkdb: %s", r.err.constData());
}

QString oneSource(const QString &file, const QString &settings)
{
    return QStringLiteral("[Settings]\n") + settings + QStringLiteral("[Tables]\ncount=1\n")
           + iniEntry(1, QStringLiteral("Slova"), file);
}

void Strip::start(const QString &catalogue, Wait wait)
{
    m_w.reset();
    if (!catalogue.isEmpty())
        writeIni(ini(), catalogue);
    m_store = std::make_unique<SettingsStore>(ini());
    m_w = std::make_unique<frmDict>(*m_store);
    if (wait == Wait::None)
        return;
    m_w->show();
    if (wait == Wait::Active)
        QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    else
        QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
}

QAction *windowCommand(const frmDict &w, const char *name)
{
    QAction *a = w.windowMenu()->findChild<QAction *>(QLatin1String(name));
    if (!a)
        qFatal("no window menu command %s", name);
    return a;
}

void Strip::type(const QString &text)
{
    text1()->setText(text);
    settle();
}

QProcessEnvironment programEnv(const QString &root, const QString &runtime)
{
    const QString run = runtime.isEmpty() ? root + QStringLiteral("/run") : runtime;
    QDir().mkpath(run);
    ::chmod(QFile::encodeName(run).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
    env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    return env;
}

bool startProgram(QProcess &program, const QProcessEnvironment &env, const QStringList &args)
{
    program.setProcessEnvironment(env);
    program.start(binPath(QStringLiteral("tarnvik")), args);
    return program.waitForStarted();
}

namespace {

// xdotool's commands that give input, and those that ask for or act on windows.
const QStringList kInputCommands = {"key", "keydown", "keyup", "type", "mousemove", "click", "mousedown", "mouseup", "sleep"};
const QStringList kWindowCommands = {"search", "windowactivate", "windowfocus", "windowminimize", "windowraise",
                                     "windowmap", "windowunmap", "windowmove", "windowsize", "windowclose",
                                     "windowkill", "getactivewindow", "getwindowfocus", "getwindowname",
                                     "getwindowgeometry", "getmouselocation", "version"};

Run xdotoolOn(const QString &display, const QStringList &args)
{
    if (display.isEmpty())
        return run(QStringLiteral("xdotool"), args, 60000);
    return run(QStringLiteral("env"), QStringList{QStringLiteral("DISPLAY=") + display, QStringLiteral("xdotool")} + args,
               60000);
}

// The window's top left corner on the test's own display (xdotool's own
// answer counts a reparented window's place in its frame twice).
std::optional<QPoint> windowPlace(const QString &window)
{
    const Run r = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    QPoint at(-1, -1);
    for (const QByteArray &line : r.out.split('\n')) {
        const QByteArray value = line.mid(line.lastIndexOf(':') + 1).trimmed();
        if (line.contains("Absolute upper-left X:"))
            at.setX(value.toInt());
        else if (line.contains("Absolute upper-left Y:"))
            at.setY(value.toInt());
    }
    if (r.exitCode != 0 || at.x() < 0 || at.y() < 0)
        return std::nullopt;
    return at;
}

// A mousemove command (its place last) with its place moved by 'origin' and
// by its --window's place; false if that window has none.
bool moveToOuter(QStringList &move, QPoint origin)
{
    if (const qsizetype w = move.indexOf(QStringLiteral("--window")); w > 0) {
        const std::optional<QPoint> at = windowPlace(move.value(w + 1));
        if (!at)
            return false;
        origin += *at;
        move.remove(w, 2);
    }
    if (move.size() < 3)
        return false;
    const QPoint to = QPoint(move[move.size() - 2].toInt(), move.last().toInt()) + origin;
    move.last() = QString::number(to.y());
    move[move.size() - 2] = QString::number(to.x());
    return true;
}

} // namespace

int lightRedPixels(WId w)
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(w).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 230 && c.red() - c.green() > 40 && qAbs(c.green() - c.blue()) < 16;
        }
    return n;
}

// Under Xwayland the test talks X to Xwayland, but input given to Xwayland
// would pass the compositor by: the wrapper names the X server the compositor
// is shown on (TARNVIK_INPUT_DISPLAY) and where the desktop's 0,0 lies there
// (TARNVIK_INPUT_ORIGIN). Input commands go there, the rest stay here.
Run xdotool(const QStringList &args)
{
    const QString outer = qEnvironmentVariable("TARNVIK_INPUT_DISPLAY");
    if (outer.isEmpty())
        return xdotoolOn({}, args);
    const QStringList o = qEnvironmentVariable("TARNVIK_INPUT_ORIGIN").split(u' ', Qt::SkipEmptyParts);
    const QPoint origin(o.value(0).toInt(), o.value(1).toInt());
    QList<QStringList> commands;
    for (const QString &a : args) {
        if (commands.isEmpty() || kInputCommands.contains(a) || kWindowCommands.contains(a))
            commands.append(QStringList());
        commands.last() << a;
    }
    // Each run of input commands, and of the others, in one go, in order.
    Run all;
    all.exitCode = 0;
    for (qsizetype i = 0; i < commands.size() && all.exitCode == 0;) {
        const bool input = kInputCommands.contains(commands[i][0]);
        QStringList part;
        for (; i < commands.size() && kInputCommands.contains(commands[i][0]) == input; ++i) {
            QStringList command = commands[i];
            if (command[0] == QLatin1String("mousemove") && !moveToOuter(command, origin)) {
                all.exitCode = 1;
                all.err += "no place for " + command.join(u' ').toUtf8();
                return all;
            }
            part += command;
        }
        const Run r = xdotoolOn(input ? outer : QString(), part);
        all.exitCode = r.exitCode;
        all.out += r.out;
        all.err += r.err;
    }
    return all;
}

void xdo(const QStringList &args, int settleMs)
{
    const Run r = xdotool(args);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QTest::qWait(settleMs);
}

bool keysFor(const QString &text)
{
    const QByteArray outer = qgetenv("TARNVIK_INPUT_DISPLAY");
    xcb_connection_t *c = xcb_connect(outer.isEmpty() ? nullptr : outer.constData(), nullptr);
    const auto done = qScopeGuard([c] { xcb_disconnect(c); });
    if (xcb_connection_has_error(c))
        return false;
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int low = setup->min_keycode, count = setup->max_keycode - low + 1;
    const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, xcb_keycode_t(low), uint8_t(count)), nullptr),
        &std::free);
    if (!map)
        return false;
    const int per = map->keysyms_per_keycode;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map.get());
    QSet<xcb_keysym_t> have;
    QList<int> unused;
    for (int k = 0; k < count; ++k) {
        const xcb_keysym_t *row = syms + k * per;
        if (std::all_of(row, row + per, [](xcb_keysym_t s) { return s == 0; }))
            unused.append(low + k);
        have.unite(QSet<xcb_keysym_t>(row, row + per));
    }
    for (const char32_t ch : text.toUcs4()) {
        const xcb_keysym_t sym = ch < 0x100 ? ch : 0x1000000 + ch;
        if (have.contains(sym))
            continue;
        if (unused.isEmpty())
            return false;
        std::vector<xcb_keysym_t> row(per, 0);
        row[0] = row[std::min(1, per - 1)] = sym;
        xcb_change_keyboard_mapping(c, 1, xcb_keycode_t(unused.takeLast()), uint8_t(per), row.data());
        have.insert(sym);
    }
    const std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
        xcb_request_check(c, xcb_no_operation_checked(c)), &std::free);
    return !error;
}

QStringList findWindows(const QStringList &what)
{
    const Run r = xdotool(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + what);
    return QString::fromLatin1(r.out).split(u'\n', Qt::SkipEmptyParts);
}

QString otherProgramsWindow(QProcess &other, const QStringList &args)
{
    other.start(QStringLiteral("xmessage"), args + QStringList{QStringLiteral("jiné okno")});
    QString window;
    for (int i = 0; i < 200 && (window = findWindows({QStringLiteral("--class"), QStringLiteral("Xmessage")}).value(0)).isEmpty(); ++i)
        QTest::qWait(100);
    if (!window.isEmpty()) {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        QTest::qWait(300);
    }
    return window;
}

} // namespace testutil
