// The menu of the sources the strip shows, the active one checked.
#pragma once

#include "catalogue/Catalogue.h"

#include <QMenu>
#include <QVector>

namespace tarnvik {

class SourceMenu : public QMenu
{
    Q_OBJECT
public:
    SourceMenu(const QString &title, QWidget *parent);
    // An entry a source; one titled "-" a separator. With none, one entry,
    // disabled, says there is nothing to choose.
    void setSources(const QVector<VisibleSource> &sources, int active);
    void moveCheck(int from, int to);

signals:
    void chosen(int index);

private:
    QAction *entry(int index);
    QVector<QAction *> m_entries;
};

} // namespace tarnvik
