// The windows' designed colours, kept as the 0x00BBGGRR values they are
// designed with (widgets/Paint.h turns them into colours).
#pragma once

namespace tarnvik {

// The light yellow of the text box, Combo1, the first match and the list.
constexpr unsigned kYellow = 0xC0FFFF;
// Light blue: found, but only with case and diacritics ignored.
constexpr unsigned kLightBlue = 0xFFE0B0;
// Combo1 with no match; the lamp while a look-up runs, and when it is done.
constexpr unsigned kLightRed = 0x8080FF, kRed = 0x0000FF, kGreen = 0x00FF00;

} // namespace tarnvik
