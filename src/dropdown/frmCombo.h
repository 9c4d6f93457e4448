// The result drop-down: a popup of the lookup window, holding two
// single-column grids that read as one two-column list. Both are views of one
// model and share the current row and the scrolling. As a popup it is placed
// relative to its window on every platform and closes on a press elsewhere.
#pragma once

#include "ResultModel.h"
#include "dropdown/DropDownLayout.h"

#include <QWidget>

#include <functional>

class QKeyEvent;
class QTableView;

namespace tarnvik {

class frmCombo : public QWidget
{
    Q_OBJECT
public:
    // Laid out for a Combo1 of the given width in twips; 'opener' is the box
    // it drops down from, in the window it belongs to.
    frmCombo(double comboWidthTwips, QWidget *opener);

    QTableView *grid(int index) const { return m_grid[index]; }
    ResultModel &model() { return m_model; }
    int rowCount() const { return m_model.matchCount(); }
    // The model's rows reach the views only while the list shows.
    void setVisible(bool visible) override;
    // RowHeight(0) in twips, and grid(1)'s column width in twips.
    double rowHeightTwips() const;
    int grid1ColumnTwips() const { return m_columns.columnWidth[1]; }

    // What a press outside the list does: close it and go on to what lies
    // under it (Replay), close it and nothing more (Handled: the handler did
    // what the press means), or nothing (KeepOpen).
    enum class Outside { Replay, Handled, KeepOpen };
    void setOutsidePress(std::function<Outside(QPoint global, Qt::MouseButton button)> handler)
    {
        m_outside = std::move(handler);
    }

    void place(const DropDownPlacement &p);
    int currentRow() const;
    void setCurrentRow(int row);

signals:
    // Enter on the current row, or any mouse button on a row.
    void chosen(int row);
    // A grid lost the focus: closed without a choice. 'toOtherProgram' when
    // the list's window lost activation rather than the focus moving inside
    // the program.
    void focusLost(bool toOtherProgram);
    // Escape: closed without a choice.
    void dismissed();
    // Ctrl+Enter on a row: the row whole.
    void wholeRowRequested(int row);
    // The Menu key (or Shift+F10) on a row: its copy menu.
    void menuRequested(int row);
    // Closed, whatever the reason.
    void hidden();
    // A key the list does not use itself: it edits the text looked up.
    void keyForText(QEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool listKey(const QKeyEvent &key);

    std::function<Outside(QPoint, Qt::MouseButton)> m_outside;
    QTableView *m_grid[2] = {};
    ResultModel m_model;
    DropDownColumns m_columns;
    struct
    {
        quint64 version = ~quint64(0);
        int row = -1;
    } m_closedOn; // the matches and the row when the list last closed
};

} // namespace tarnvik
