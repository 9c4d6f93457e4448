#include "PairView.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarnvik {

PairView::PairView(const QString &input, const QString &output, const QString &face, QWidget *parent)
    : QDialog(parent), m_text(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("PairView"));
    setWindowTitle(input.left(60));
    setAttribute(Qt::WA_DeleteOnClose);
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont f = m_text->font();
    if (!face.isEmpty())
        f.setFamily(face);
    m_text->setFont(f);
    m_text->setPlainText(input + QStringLiteral("\n\n") + output);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_text);
    resize(480, 320);
}

QString PairView::text() const
{
    return m_text->toPlainText();
}

} // namespace tarnvik
