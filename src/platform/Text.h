// What the cells and the text box make of a value: plain text, no widgets,
// so the look-up logic and the tools may use it too.
#pragma once

#include <QString>
#include <QStringView>

namespace tarnvik {

// A value on one line: line breaks become blanks.
QString oneLine(QString text);
// What a cell draws of a value: its start, more than any cell is wide, on
// one line. A value may be a memo of megabytes, and laying all of it out on
// every paint held the window for a second; copying takes the whole value.
QString shownText(QStringView text);
// The value as a tool tip, where one line may not show all of it (one longer
// than kToolTipMost cut short, marked "…"); else empty.
constexpr qsizetype kToolTipMost = 2000;
QString toolTipFor(QStringView text);

// The text up to its first line break ("\n", "\r\n", "\r", U+2028, U+2029).
QStringView firstLine(QStringView text);
// What text sent from outside (the selection, the clipboard, the command
// line) looks up: its first line with text in it, without the blanks, tabs
// and line breaks around it that a double-click or a copied cell brings along.
// Typed and pasted text keeps its blanks.
QString sentText(QStringView text);

} // namespace tarnvik
