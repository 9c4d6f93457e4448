#include "SourceMenu.h"

namespace tarnvik {

namespace {
const QString kNoSources = QStringLiteral("Chyba při načítání dat");
}

SourceMenu::SourceMenu(const QString &title, QWidget *parent) : QMenu(title, parent)
{
    setSources({}, -1);
}

QAction *SourceMenu::entry(int index)
{
    if (index == m_entries.size()) {
        m_entries.push_back(addAction(QString()));
        m_entries[index]->setCheckable(true);
        connect(m_entries[index], &QAction::triggered, this, [this, index] { emit chosen(index); });
    }
    return m_entries[index];
}

void SourceMenu::setSources(const QVector<VisibleSource> &sources, int active)
{
    while (m_entries.size() > 1)
        delete m_entries.takeLast();
    if (sources.isEmpty()) {
        QAction *none = entry(0);
        none->setSeparator(false);
        none->setText(kNoSources);
        none->setChecked(false);
        none->setEnabled(false);
        return;
    }
    for (int j = 0; j < sources.size(); ++j) {
        QAction *e = entry(j);
        e->setChecked(j == active);
        e->setSeparator(sources[j].Title == u"-");
        e->setText(sources[j].Title);
        e->setEnabled(true);
        e->setVisible(true);
    }
}

void SourceMenu::moveCheck(int from, int to)
{
    m_entries[from]->setChecked(false);
    m_entries[to]->setChecked(true);
}

} // namespace tarnvik
