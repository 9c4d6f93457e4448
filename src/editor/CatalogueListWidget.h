// The catalogue list on screen: it shows CatalogueList's lines, boxes and
// selection, and turns the user's clicks, keys and drags into its calls.
// Every way the highlight moves (keys, type-ahead, a drag) is the list's to
// judge: it may refuse the move, and the highlight comes back.
#pragma once

#include <QListWidget>

namespace tarnvik {

class CatalogueList;

class CatalogueListWidget : public QListWidget
{
    Q_OBJECT
public:
    CatalogueListWidget(CatalogueList &list, QWidget *parent);
    // Shows the list's state; rebuilds the lines when the list has.
    void showLines();

signals:
    // The user acted on the list: the window shows the editor's state again.
    void acted();
    // Dictionary files dropped on the list, to be added.
    void dictionariesDropped(const QStringList &files);

protected:
    bool viewportEvent(QEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void toggle(int line);

    CatalogueList &m_list;
    int m_shownGeneration = -1;
};

} // namespace tarnvik
