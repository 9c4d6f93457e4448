#include "MessageBox.h"

#include <QApplication>
#include <QPushButton>

#include <algorithm>

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

QString caption(const QString &title)
{
    return title.isEmpty() ? QStringLiteral("Tarnvik") : title;
}

void applyFace(QMessageBox &box)
{
    if (!face().isEmpty()) {
        // The box keeps its own size, so the window never mixes two typefaces.
        QFont f = box.font();
        f.setFamily(face());
        box.setFont(f);
    }
}
} // namespace

bool showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    if (answerer())
        return answerer()(icon, caption(title), text);
    const bool question = icon == QMessageBox::Question;
    QMessageBox box(icon, caption(title), text, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    parent);
    if (question)
        box.setDefaultButton(QMessageBox::No);
    applyFace(box);
    const int pressed = box.exec();
    return pressed == QMessageBox::Yes || pressed == QMessageBox::Ok;
}

int showChoice(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
               const QStringList &choices)
{
    Q_ASSERT(!choices.isEmpty());
    if (answerer())
        return answerer()(icon, caption(title), text) ? 0 : int(choices.size()) - 1;
    QMessageBox box(icon, caption(title), text, QMessageBox::NoButton, parent);
    QList<QAbstractButton *> buttons;
    for (const QString &c : choices)
        buttons << box.addButton(c, QMessageBox::AcceptRole);
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box.setEscapeButton(buttons.last());
    applyFace(box);
    box.exec();
    return std::max(0, int(buttons.indexOf(box.clickedButton())));
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
