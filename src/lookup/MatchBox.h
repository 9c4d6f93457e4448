// Combo1 as the combo box it stands for: its face shows the first match (or
// the one chosen) in the colour of the try that found it, the lamp and the
// tool tips what the look-up met, and its list every match. The list is
// loaded on first use and kept, opened on request but not again by the focus
// coming back, and a press on the strip while it is open does what it does
// there.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QKeyEvent;
class QWidget;

namespace tarnvik {

class frmCombo;
class frmDict;
struct LookupResult;

// A control's face in a colour written 0x00BBGGRR.
void setBackColor(QWidget *w, unsigned bgr);

class MatchBox : public QObject
{
public:
    explicit MatchBox(frmDict &strip);

    // What a look-up found, or why it found nothing.
    void show(const LookupResult &r);
    // Why the last look-up failed; empty when it did not.
    QString problem() const { return m_problem; }

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
    // A key on the shown pair (reached by Tab) opens the list; one that
    // types goes on into the text, as in the open list.
    void keyOnPair(QKeyEvent *e);

private:
    void showPair(const QString &in, const QString &out, bool diacriticsIgnored);
    void noMatch();
    // The source is still being read: the look-up waits for it.
    void waiting(const QString &why);
    // Why the strip shows no match, in the tool tips; empty clears it.
    void showProblem(const QString &why);
    void choose(int row);
    // Hides the list; with 'typeOn' typing goes on in the text box.
    void close(bool typeOn);
    void setReopenGuard();

    frmDict &m_strip;
    frmCombo *m_list = nullptr;
    QString m_problem;
    bool m_reopenGuard = false;
    QElapsedTimer m_pairClicked; // the last click on the shown pair
};

} // namespace tarnvik
