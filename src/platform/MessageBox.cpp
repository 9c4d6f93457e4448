#include "MessageBox.h"

#include "platform/Product.h"
#include "widgets/Paint.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHash>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cmath>

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

// Whether a line's capitals keep their marks off the line above.
bool keepsMarks(const QFont &font)
{
    const QFontMetrics fm(font);
    return -fm.tightBoundingRect(QStringLiteral("ČĎĚŇŘŠŤŮŽ")).top() <= fm.lineSpacing();
}
} // namespace

QFont wholeMarks(const QFont &font)
{
    static QHash<QString, QFont> chosen; // the windows' few fonts, on the one UI thread
    const QString key = font.key();
    if (const auto it = chosen.constFind(key); it != chosen.constEnd())
        return *it;
    QFont whole = font;
    if (!keepsMarks(font)) {
        for (const QString &face : {kStandInFace, QApplication::font().family()}) {
            QFont f = font;
            f.setFamily(face);
            if (keepsMarks(f)) {
                whole = f;
                break;
            }
        }
    }
    chosen.insert(key, whole);
    return whole;
}

namespace {

QString caption(const QString &title)
{
    return title.isEmpty() ? kAppTitle : title;
}

// The box keeps its own size, so the window never mixes two typefaces.
void applyFace(QMessageBox &box)
{
    QFont f = box.font();
    if (!face().isEmpty())
        f.setFamily(face());
    box.setFont(wholeMarks(f));
    // The text's first line starts at the label's top edge, which cuts off the
    // top row of the marks over capitals in most faces. Text that can be
    // selected is clipped to its lines whatever the label's margins; Ctrl+C
    // still copies the box's text.
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
        const qreal over = inkExtent(label->font()).above - QFontMetricsF(label->font()).ascent();
        if (over > 0) {
            label->setTextInteractionFlags(Qt::NoTextInteraction);
            label->setContentsMargins(0, int(std::ceil(over)), 0, 0);
        }
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
