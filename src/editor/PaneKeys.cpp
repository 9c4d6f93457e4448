#include "PaneKeys.h"

namespace tarnvik {

PaneKey paneKey(PanePart part, int key, Qt::KeyboardModifiers modifiers, QStringView text)
{
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (part == PanePart::ClosedChoice && !(modifiers & Qt::AltModifier)) {
        switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return PaneKey::ToRows;
        case Qt::Key_Left:
        case Qt::Key_Right:
            return PaneKey::Nothing;
        default:
            // Typing looks the name up in the open list, where it is picked.
            if (!text.isEmpty() && text.front().isPrint() && key != Qt::Key_Space)
                return PaneKey::OpenChoice;
        }
    }
    switch (part) {
    case PanePart::Rows:
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Home || key == Qt::Key_End))
            return key == Qt::Key_Home ? PaneKey::FirstRow : PaneKey::LastRow;
        return key == Qt::Key_F2 || enter ? PaneKey::OpenEditor : PaneKey::Own;
    case PanePart::Other:
        return PaneKey::Own;
    default:
        break;
    }
    // An editor is open: Escape abandons it (a choice is taken when made).
    if (key == Qt::Key_Escape)
        return PaneKey::Abandon;
    if (part == PanePart::Title)
        return enter ? PaneKey::KeepTitle : PaneKey::Own;
    // Enter on "…" opens the dialog; Enter in a choice box, or an arrow on
    // "…", gives the keys back to the rows, so that the arrows walk the rows.
    if (part == PanePart::Browse)
        return enter ? PaneKey::Browse : key == Qt::Key_Up || key == Qt::Key_Down ? PaneKey::ToRows : PaneKey::Own;
    return enter ? PaneKey::BackToRows : PaneKey::Own; // a choice box
}

} // namespace tarnvik
