// Every match of the last look-up as a two-column model, input and output,
// read from the index on demand: nothing is copied per row, so a prefix with
// a million matches lists as fast as one with three.
#pragma once

#include "db/index/LookupIndex.h"

#include <QAbstractTableModel>

namespace tarnvik {

class ResultModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setMatches(const Matches &matches);
    void clear() { setMatches(Matches()); }
    // While no list shows them, views are given no rows: at each reset their
    // headers take time in proportion to the rows (most of a keystroke at
    // 100,000). What the functions below read stays the matches.
    void setShown(bool shown);
    int matchCount() const; // as many rows as a view takes at most
    // Counts the calls of setMatches.
    quint64 version() const { return m_version; }
    // Column 0 the input value, 1 the output value; Null reads as empty text.
    QString text(int row, int column, qsizetype units = -1) const; // units: see LookupIndex::input
    // The row was found only with case and diacritics ignored (drawn light blue).
    bool diacriticsIgnored(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    Matches m_matches;
    bool m_shown = true;
    quint64 m_version = 0;
};

} // namespace tarnvik
