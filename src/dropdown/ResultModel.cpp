#include "ResultModel.h"

#include "platform/Colours.h"
#include "platform/Text.h"
#include "widgets/Paint.h"

#include <climits>

namespace tarnvik {

void ResultModel::setMatches(const Matches &matches)
{
    ++m_version;
    if (!m_shown) {
        m_matches = matches; // the views have no rows either way
        return;
    }
    beginResetModel();
    m_matches = matches;
    endResetModel();
}

void ResultModel::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    beginResetModel();
    m_shown = shown;
    endResetModel();
}

QString ResultModel::text(int row, int column, qsizetype units) const
{
    if (row < 0 || size_t(row) >= m_matches.size() || !m_matches.index())
        return QString();
    const uint32_t r = m_matches.row(size_t(row));
    const LookupIndex &index = *m_matches.index();
    return column == 0 ? index.input(r, units) : index.output(r, units);
}

int ResultModel::matchCount() const
{
    return int(std::min<size_t>(m_matches.size(), INT_MAX));
}

int ResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_shown ? 0 : matchCount();
}

int ResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

bool ResultModel::diacriticsIgnored(int row) const
{
    return row >= 0 && size_t(row) < m_matches.size() && m_matches.diacriticsIgnored(size_t(row));
}

QVariant ResultModel::data(const QModelIndex &index, int role) const
{
    if (index.isValid() && role == Qt::BackgroundRole)
        return diacriticsIgnored(index.row()) ? QVariant(fromBgr(kLightBlue)) : QVariant();
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    // Only what is drawn is taken out of the index: a value may be megabytes.
    const QString t = text(index.row(), index.column(), kToolTipMost + 1);
    if (role == Qt::DisplayRole)
        return shownText(t);
    const QString tip = toolTipFor(t);
    return tip.isEmpty() ? QVariant() : QVariant(tip);
}

} // namespace tarnvik
