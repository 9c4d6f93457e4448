// Helpers for tests that drive the real windows.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace testutil {

// Answers the message boxes that come up while 'action' runs and the events
// after it; returns their texts.
QStringList answeringBoxes(const std::function<void()> &action);

// Writes a settings file, making its folder.
void writeIni(const QString &path, const QString &text);

} // namespace testutil
