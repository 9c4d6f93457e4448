// The lookup window: a caption-less strip with the text box, the box whose
// face shows the first match, the status lamp, and the pop-up menus.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/DataControl.h"

#include <QMessageBox>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QMenu;
class QAction;

namespace tarnvik {

class CellGrid;
class Lamp;
class frmCombo;

class frmDict : public QWidget
{
    Q_OBJECT
public:
    explicit frmDict(SettingsStore &store, QWidget *parent = nullptr);
    ~frmDict() override;

    // The lookup window's loader and saver of the settings store.
    void getAllMySettings();
    bool saveAllMySettings();
    void setGrid();
    void setCharset(uint8_t inCharset, uint8_t outCharset);
    void Text1_Change();
    void mnuTopMost_Click();

    QString fontName() const { return m_fontName; }
    const QVector<VisibleSource> &sources() const { return m_sources; }
    int activePosition() const { return m_active; }
    const DataControl &data1() const { return Data1; }
    QMenu *windowMenu() const { return mnuX; }
    QMenu *sourceMenu() const { return mnuActLang; }
    // The drop-down, loaded on first use and kept until the program ends.
    frmCombo *dropDown();

protected:
    void paintEvent(QPaintEvent *) override;

private:
    void Form_Load();
    void buildMenus();
    void noMatch();
    void clearSourceMenu();
    void message(QMessageBox::Icon icon, const QString &text);

    SettingsStore &m_store;
    QLineEdit *Text1;
    QComboBox *Combo1;
    Lamp *Shape1;
    CellGrid *gridd[2];
    DataControl Data1;
    QMenu *mnuX, *mnuActLang;
    QAction *mnuData, *mnuTopMost, *mnuMinimize, *mnuHomePage, *mnuAbout, *mnuEnd;
    QVector<QAction *> mnuLang;
    frmCombo *m_dropDown = nullptr;

    QString m_fontName;
    QVector<VisibleSource> m_sources;
    int m_active = 0;
    bool m_toldStoreProblem = false;
    QPixmap m_background;
};

} // namespace tarnvik
