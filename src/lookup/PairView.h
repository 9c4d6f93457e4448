// The whole of one pair, for an entry longer than its one-line cell: read
// only, selectable and copyable, closed by Escape.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace tarnvik {

class PairView : public QDialog
{
    Q_OBJECT
public:
    PairView(const QString &input, const QString &output, const QString &face, QWidget *parent);
    QString text() const;

private:
    QPlainTextEdit *m_text;
};

} // namespace tarnvik
