// Every message box of the program, built one way: the application's title
// where the caller has none, the strip's face, Yes/No questions with No first
// (each one is about dropping something). Tests answer boxes through a hook
// instead of waiting for them to show.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace tarnvik {

// Shows a modal box: an OK button, or Yes/No for a question. True for OK or Yes.
bool showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text);

// A box whose buttons are 'choices', the first one the default and the last
// one taken by Escape; the index of the one pressed.
int showChoice(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
               const QStringList &choices);

// The face every box takes, once the strip knows its own; empty keeps Qt's.
void setBoxFace(const QString &family);

// 'font', or where the marks over its capitals (Ř, Č, Š) reach higher than
// its lines are apart, onto the line above, the same size in Arial's
// stand-in or else in Qt's own face. Wine's Tahoma is one such face. For
// text in lines a face's own spacing apart: boxes, menus, the editor.
QFont wholeMarks(const QFont &font);

// For tests: boxes are answered by 'answer' (true for Yes, or a choice box's
// first button; false for its last) and never shown;
// an empty function shows them again.
using BoxAnswer = std::function<bool(QMessageBox::Icon icon, const QString &title, const QString &text)>;
void answerBoxesForTests(BoxAnswer answer);

} // namespace tarnvik
