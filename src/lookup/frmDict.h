// The lookup window: a caption-less strip with the text box, the box whose
// face shows the first match, the status lamp, and the pop-up menus.
#pragma once

#include "catalogue/Catalogue.h"
#include "editor/EditorMemory.h"
#include "lookup/SourceMenu.h"
#include "platform/SingleInstance.h"

#include <QMessageBox>
#include <QWidget>
#include <memory>

class QLabel;
class QLineEdit;
class QMenu;
class QAction;

namespace tarnvik {

class CellGrid;
class DataControl;
class DropButtonBox;
class Lamp;
class frmCombo;
class setData;
class MatchBox;
class StripActivation;
class StripSession;
class SurfaceDrag;

class frmDict : public QWidget
{
    Q_OBJECT
    // The box paints the look-up and opens the strip's menus from its list;
    // a request from outside brings the strip forward with the keys.
    friend class MatchBox;
    friend class StripActivation;
public:
    explicit frmDict(SettingsStore &store, QWidget *parent = nullptr);
    ~frmDict() override;

    // The settings read anew (the session's), shown in the menus and the
    // window's band; the saver writes what changed (false when that could
    // not be written).
    void getAllMySettings();
    bool saveAllMySettings();
    void setGrid();
    void Text1_Change();
    void mnuTopMost_Click();
    // The settings command: the catalogue editor, then the catalogue read anew.
    void mnuData_Click() { openEditor({}); }
    // The empty strip's hint: the editor, adding a first dictionary.
    void addFirstDictionary();
    // Makes visible source 'index' the active one and looks the text up there.
    void mnuLang_Click(int index);
    void mnuCopy_Click(int index);
    void checkStatus();
    void expandCombo();
    // Places the list at Combo1 for the rows it holds.
    void placeDropDown();
    // Saves the settings, unloads the drop-down and ends the program, with
    // status 1 when a changed setting could not be saved (told in a box and
    // on standard error).
    void Form_Unload();
    // The same when the session ends (a signal): told on standard error only.
    void endSession();
    // What the program ends with: 1 after an unsaved change, else 0.
    int exitStatus() const;
    // A later start asked for the program: the window comes forward with the
    // keys in the text box, or an open modal window does with its own.
    void bringToFront(const ActivationHint &hint = {});
    // The shown pair whole, in a window of its own (Ctrl+Enter, a double
    // click on the pair).
    void showWholePair();
    QLabel *hint() const { return m_hint; }
    // What a start from outside asked to look up, put into the text box and
    // selected (the text as it was, where nothing was given).
    void lookUpFromOutside(const ActivationHint &hint);

    QString fontName() const { return m_fontName; }
    StripSession &session() const { return *m_session; }
    const QVector<VisibleSource> &sources() const;
    int activePosition() const;
    const DataControl &data1() const;
    QMenu *windowMenu() const { return mnuX; }
    QMenu *copyMenu() const { return mnuY; }
    // Why the last look-up failed; empty when it did not.
    QString lookupProblem() const;
    QMenu *sourceMenu() const { return mnuActLang; }
    // The drop-down, loaded on first use and kept until the program ends.
    frmCombo *dropDown();

protected:
    void paintEvent(QPaintEvent *) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;
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
    // The window's band and the mark of "Vždy navrchu", as the session has it.
    void applyTopMost();
    // The window active and the keys in the text box.
    void backToText();
    void popUp(QMenu *menu, QPoint windowPos);
    void mnuAbout_Click();
    void mnuHomePage_Click();
    // 'prepare' tells the editor what to do once it has read the catalogue.
    void openEditor(const std::function<void(setData &)> &prepare);
    void message(QMessageBox::Icon icon, const QString &text);

    std::unique_ptr<StripSession> m_session;
    QLineEdit *Text1;
    DropButtonBox *Combo1;
    Lamp *Shape1;
    CellGrid *gridd[2];
    QLabel *m_hint; // over Combo1 while the catalogue is empty
    QMenu *mnuX, *mnuY;
    SourceMenu *mnuActLang;
    QAction *mnuData, *mnuTopMost, *mnuMinimize, *mnuHomePage, *mnuAbout, *mnuEnd;
    MatchBox *m_box;
    StripActivation *m_activation;

    QString m_fontName;
    EditorMemory m_editorMemory; // the editor's memory for the run
    bool m_shownOnce = false;
    bool m_editorOpen = false;
    SurfaceDrag *m_drag;
    QPixmap m_background;
};

} // namespace tarnvik
