// What the desktop gives the program beyond its windows: Qt's own Czech
// texts and the home page.
#pragma once

#include <QString>
#include <QUrl>

class QCoreApplication;

namespace tarnvik {

// Loads Qt's Czech translations (standard buttons, file dialog, context
// menus) into the application; the interface is Czech whatever the user's
// locale. False when they are not installed: Qt's English texts then remain.
bool installCzechQtTexts(QCoreApplication *app);

// The windows are laid out for Tahoma and Arial. Fontconfig already maps
// Arial to a metric-compatible face; Tahoma's counterpart (Debian's
// fonts-wine) lies outside its folders, so it is added to the application
// when the system has no Tahoma of its own. True when Tahoma is then there.
bool addTahoma(const QString &wineFonts = QStringLiteral("/usr/share/wine/fonts"));

// The address the home-page command opens: the configured web address, else
// the source tree's README for a program run from its build folder, else the
// README installed with the program (found from the program's own folder
// first, so a relocated install works).
QUrl homePage(const QString &configured, const QString &programDir);

} // namespace tarnvik
