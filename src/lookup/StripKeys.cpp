#include "StripKeys.h"

namespace tarnvik {

StripKey stripKey(int key, Qt::KeyboardModifiers modifiers, bool addHintShown)
{
    if ((key == Qt::Key_F4 && modifiers == Qt::NoModifier)
        || (key == Qt::Key_Down && (modifiers & ~(Qt::AltModifier | Qt::KeypadModifier)) == 0))
        return StripKey::OpenList;
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (enter && (modifiers & Qt::ControlModifier))
        return StripKey::WholePair;
    if (enter && addHintShown)
        return StripKey::AddDictionary;
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && (modifiers & Qt::ShiftModifier)))
        return modifiers & Qt::ControlModifier ? StripKey::PairMenu : StripKey::WindowMenu;
    return StripKey::Own;
}

} // namespace tarnvik
