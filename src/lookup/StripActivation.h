// The strip asked for from outside, by a later start or by the shortcut from
// anywhere: it comes forward (or its open modal window does) with the keys,
// and with what was asked looked up.
#pragma once

#include "platform/GlobalShortcut.h"
#include "platform/SingleInstance.h"

#include <QObject>

class QWidget;

namespace tarnvik {

class frmDict;

class StripActivation : public QObject
{
public:
    explicit StripActivation(frmDict &strip);

    // The shortcut from anywhere, once per run, for the stored keys (none
    // for an empty text).
    void grabShortcut(const QString &keys);
    void bringToFront(const ActivationHint &hint);
    void lookUpFromOutside(const ActivationHint &hint);

private:
    // What comes forward: an open modal window, else the strip.
    QWidget *front() const;

    frmDict &m_strip;
    GlobalShortcut m_shortcut;
};

} // namespace tarnvik
