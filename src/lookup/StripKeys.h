// What a key typed in the strip's text box does besides typing.
#pragma once

#include <Qt>

namespace tarnvik {

enum class StripKey {
    Own,           // the text box's
    OpenList,      // Down, Alt+Down and F4, as in any combo box
    WholePair,     // Ctrl+Enter: the shown pair whole
    AddDictionary, // Enter while the strip says how to add one
    WindowMenu,    // the menu key or Shift+F10
    PairMenu,      // the same with Ctrl: the shown pair's copy menu
};

StripKey stripKey(int key, Qt::KeyboardModifiers modifiers, bool addHintShown);

} // namespace tarnvik
