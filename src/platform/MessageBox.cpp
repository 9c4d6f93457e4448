#include "MessageBox.h"

#include <QApplication>

namespace tarnvik {

namespace {
QString &face()
{
    static QString f;
    return f;
}
BoxAnswer &answerer()
{
    static BoxAnswer a;
    return a;
}
} // namespace

bool showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    const QString caption = title.isEmpty() ? QStringLiteral("Tarnvik") : title;
    if (answerer())
        return answerer()(icon, caption, text);
    const bool question = icon == QMessageBox::Question;
    QMessageBox box(icon, caption, text, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    if (question)
        box.setDefaultButton(QMessageBox::No);
    if (!face().isEmpty()) {
        // The box keeps its own size, so the window never mixes two typefaces.
        QFont f = box.font();
        f.setFamily(face());
        box.setFont(f);
    }
    const int pressed = box.exec();
    return pressed == QMessageBox::Yes || pressed == QMessageBox::Ok;
}

void setBoxFace(const QString &family)
{
    face() = family;
}

void answerBoxesForTests(BoxAnswer answer)
{
    answerer() = std::move(answer);
}

} // namespace tarnvik
