// What the program calls itself and the face it is designed for, written once.
#pragma once

#include <QString>

namespace tarnvik {

// The windows' caption and the title of a message box without its own.
inline const QString kAppTitle = QStringLiteral("Tarnvik");
// The face the windows are laid out for, and the stored font's default.
inline const QString kFace = QStringLiteral("Tahoma");
// The face that stands in where that one is missing or loses the capitals' marks.
inline const QString kStandInFace = QStringLiteral("Arial");
// The desktop entry's name, which is also the theme's icon name.
inline const QString kDesktopId = QStringLiteral("cz.tarnvik.Tarnvik");

} // namespace tarnvik
