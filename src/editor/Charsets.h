// The character sets the editor offers by name in its two encoding rows, and
// the translation between a name's position in that list and the font
// character-set number the catalogue stores. No widgets: the list is handed
// out as text, and load_charset fills any box that takes addItems.
#pragma once

#include <QStringList>
#include <cstdint>

namespace tarnvik {

// The eight names in list order; item k of a filled box is position k.
QStringList charsetNames();

// Appends the eight names to a drop-down list (a QComboBox).
template <typename Box>
void load_charset(Box *box)
{
    box->addItems(charsetNames());
}

// direction 1: 'value' is a stored number and the result its list position
// (0, "arabské", for a number no name stores). Any other direction: 'value'
// is a list position and the result the number to store; a position outside
// the list (a box without a selection) stores 0, as "západní" does.
uint8_t charset_map(int value, int direction = 0);

} // namespace tarnvik
