#include "StripActivation.h"

#include "MatchBox.h"
#include "dropdown/frmCombo.h"
#include "frmDict.h"
#include "platform/Desktop.h"
#include "platform/Dict.h"
#include "platform/X11Startup.h"
#include "platform/Text.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace tarnvik {

StripActivation::StripActivation(frmDict &strip) : QObject(&strip), m_strip(strip) {}

QWidget *StripActivation::front() const
{
    QWidget *modal = QApplication::activeModalWidget();
    return modal ? modal : &m_strip;
}

void StripActivation::grabShortcut(const QString &keys)
{
    // The shortcut from anywhere, once per run, and the program goes on
    // without it where it cannot be had. One another program holds (often a
    // second copy, on another settings file) is told on standard error only:
    // a box at each start of that copy would be a nuisance.
    if (!keys.trimmed().isEmpty()) {
        QString error;
        bool held = false;
        if (!m_shortcut.grab(QKeySequence(keys, QKeySequence::PortableText), &error, &held)
            && !error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            if (!held)
                QTimer::singleShot(0, &m_strip, [this, error] { m_strip.message(QMessageBox::Information, error); });
        }
    }
    connect(&m_shortcut, &GlobalShortcut::activated, this, [this](quint32 time) {
        ActivationHint hint;
        hint.lookUp = ActivationHint::LookUp::Selection;
        askForFocus(front()->windowHandle(), time);
        bringToFront(hint);
    });
}

void StripActivation::bringToFront(const ActivationHint &hint)
{
    // Where the compositor asks for proof that the user wants the window,
    // the launcher's token gives it; Qt uses it on the next activation.
    if (!hint.activationToken.isEmpty() && onWayland())
        qputenv("XDG_ACTIVATION_TOKEN", hint.activationToken);
    if (m_strip.isMinimized() || !m_strip.isVisible())
        m_strip.showNormal();
    if (frmCombo *list = m_strip.m_box->loaded())
        list->hide();
    QWidget *modal = QApplication::activeModalWidget();
    QWindow *forward = front()->windowHandle();
    takeOverStartup(forward, hint.startupId);
    // Without a launcher's time, the user's latest action is the start just
    // made: later than any event this program saw, and than the work in the
    // window the user started it from, which a guarded focus would favour.
    if (startupTime(hint.startupId) == 0)
        askForFocus(forward, x11ServerTime());
    lookUpFromOutside(hint);
    if (modal) {
        if (modal->isMinimized())
            modal->showNormal();
        modal->raise();
        modal->activateWindow();
        return;
    }
    m_strip.raise();
    m_strip.backToText();
}

void StripActivation::lookUpFromOutside(const ActivationHint &hint)
{
    using LookUp = ActivationHint::LookUp;
    QString text;
    if (hint.lookUp == LookUp::Text)
        text = hint.text;
    else if (hint.lookUp != LookUp::Nothing)
        text = QGuiApplication::clipboard()->text(hint.lookUp == LookUp::Selection ? QClipboard::Selection
                                                                                    : QClipboard::Clipboard);
    // An empty selection leaves the text as it was.
    text = sentText(text);
    if (!text.isEmpty() || hint.lookUp == LookUp::Text)
        m_strip.Text1->setText(text);
    // Typing replaces what was looked up last.
    m_strip.Text1->selectAll();
}

} // namespace tarnvik
