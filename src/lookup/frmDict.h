// The lookup window: a caption-less strip with the text box, the box whose
// face shows the first match, the status lamp, and the pop-up menus.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/DataControl.h"
#include "editor/EditorMemory.h"
#include "lookup/Lookup.h"
#include "platform/GlobalShortcut.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

class QLineEdit;
class QMenu;
class QAction;

namespace tarnvik {

class CellGrid;
class DropButtonBox;
class Lamp;
class frmCombo;
class setData;

class frmDict : public QWidget
{
    Q_OBJECT
public:
    explicit frmDict(SettingsStore &store, QWidget *parent = nullptr);
    ~frmDict() override;

    // The lookup window's loader and saver of the settings store. The saver
    // writes only what the window changed since it loaded; false when that
    // could not be written.
    void getAllMySettings();
    bool saveAllMySettings();
    void setGrid();
    void setCharset(uint8_t inCharset, uint8_t outCharset);
    void Text1_Change();
    void mnuTopMost_Click();
    // The settings command: the catalogue editor, then the catalogue read anew.
    void mnuData_Click();
    // Makes visible source 'index' the active one and looks the text up there.
    void mnuLang_Click(int index);
    void mnuCopy_Click(int index);
    void checkStatus();
    void expandCombo();
    // The first match, or the one chosen from the list, over Combo1 in the
    // colour of the try that found it.
    void showPair(const QString &in, const QString &out, bool diacriticsIgnored);
    // Places the list at Combo1 for the rows it holds.
    void placeDropDown();
    // Saves the settings, unloads the drop-down and ends the program, with
    // status 1 when a changed setting could not be saved (told in a box and
    // on standard error).
    void Form_Unload();
    // The same when the session ends (a signal): told on standard error only.
    void endSession();
    // What the program ends with: 1 after an unsaved change, else 0.
    int exitStatus() const { return m_exitStatus; }
    // A later start asked for the program: the window comes forward with the
    // keys in the text box, or an open modal window does with its own.
    void bringToFront(const ActivationHint &hint = {});
    // The shown pair whole, in a window of its own (Ctrl+Enter, a double
    // click on the pair).
    void showWholePair();
    // What a start from outside asked to look up, put into the text box and
    // selected (the text as it was, where nothing was given).
    void lookUpFromOutside(const ActivationHint &hint);

    QString fontName() const { return m_fontName; }
    const QVector<VisibleSource> &sources() const { return m_sources; }
    int activePosition() const { return m_active; }
    const DataControl &data1() const { return Data1; }
    // How databases are read (time, memory, which helper program).
    void setReadLimits(const ReadLimits &limits) { Data1.setReadLimits(limits); }
    QMenu *windowMenu() const { return mnuX; }
    QMenu *copyMenu() const { return mnuY; }
    // Why the last look-up failed; empty when it did not.
    QString lookupProblem() const { return m_problem; }
    QMenu *sourceMenu() const { return mnuActLang; }
    // The drop-down, loaded on first use and kept until the program ends.
    frmCombo *dropDown();

protected:
    void paintEvent(QPaintEvent *) override;
    void showEvent(QShowEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void moveEvent(QMoveEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void buildMenus();
    void noMatch();
    // The source is still being read: the look-up waits for it.
    void refreshFailed(const QString &why);
    // A background preparation of the active source ended.
    void sourcePrepared();
    // A box for the active source's problem, when one is due.
    void tellSourceProblem();
    // Why the window shows no match, in the tool tips; empty clears it.
    void showProblem(const QString &why);
    void choose(int row);
    // Hides the list; with 'typeOn' typing goes on in the text box.
    void closeList(bool typeOn);
    // The window active and the keys in the text box.
    void backToText();
    void setReopenGuard();
    // Applies the active source's character sets and starts reading it in
    // the background.
    void prepareActive();
    void popUp(QMenu *menu, QPoint windowPos);
    // After a drag: the text box and the shown pair back on the screen.
    void bringBack();
    void mnuAbout_Click();
    void mnuHomePage_Click();
    void clearSourceMenu();
    void message(QMessageBox::Icon icon, const QString &text);

    SettingsStore &m_store;
    QLineEdit *Text1;
    DropButtonBox *Combo1;
    Lamp *Shape1;
    CellGrid *gridd[2];
    DataControl Data1;
    Lookup m_lookup;
    GlobalShortcut m_shortcut;
    QMenu *mnuX, *mnuActLang, *mnuY;
    QAction *mnuData, *mnuTopMost, *mnuMinimize, *mnuHomePage, *mnuAbout, *mnuEnd;
    QVector<QAction *> mnuLang;
    frmCombo *m_dropDown = nullptr;

    QString m_fontName;
    QVector<VisibleSource> m_sources;
    LookupSettings m_read; // as loaded or last saved
    int m_active = 0;
    bool m_toldStoreProblem = false;
    QString m_problem;
    bool m_reopenGuard = false;
    bool m_retryQueued = false; // a look-up that waits for its source is tried again soon
    bool m_unloaded = false;
    setData *m_editor = nullptr; // while the editor is open
    EditorMemory m_editorMemory;
    bool m_sessionEnding = false;
    int m_exitStatus = 0;
    bool m_shownOnce = false;
    std::optional<QPoint> m_takenAt; // where the window was when last taken by its surface
    bool m_moved = false;            // the user has dragged the window
    QElapsedTimer m_pairClicked;     // the last click on the shown pair
    QPointF m_anchor;       // twips, where the left button went down
    bool m_dragging = false; // the left button went down on the surface itself
    // Whether the window manager moves the window in this drag.
    enum class SystemMove { NotYet, Started, Refused } m_systemMove = SystemMove::NotYet;
    QPoint m_pressedAt;      // screen pixels, where the left button went down
    QTimer *m_moveEnd;       // looks for the end of the window manager's move
    QElapsedTimer m_movedBack; // since that end, while it is brought back
    QPixmap m_background;
};

} // namespace tarnvik
