// The strip's result list, as a combo box's: loaded on first use and kept,
// opened under Combo1 on request but not again by the focus coming back,
// and a press on the strip while it is open does what it does there.
#pragma once

#include <QElapsedTimer>
#include <QObject>

namespace tarnvik {

class frmCombo;
class frmDict;

class StripList : public QObject
{
public:
    explicit StripList(frmDict &strip);

    frmCombo *list();
    // Loaded already, else null.
    frmCombo *loaded() const { return m_list; }
    // Combo1's button or focus: opens a list that has rows, once per action.
    void checkStatus();
    void expand();
    // Under Combo1, for the rows it holds.
    void place();
    // The left button on the shown pair.
    void pairClicked();

private:
    void choose(int row);
    // Hides the list; with 'typeOn' typing goes on in the text box.
    void close(bool typeOn);
    void setReopenGuard();

    frmDict &m_strip;
    frmCombo *m_list = nullptr;
    bool m_reopenGuard = false;
    QElapsedTimer m_pairClicked; // the last click on the shown pair
};

} // namespace tarnvik
