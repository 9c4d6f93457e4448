// The windows' designed colours, kept as the 0x00BBGGRR values they are
// designed with (widgets/Paint.h turns them into colours).
#pragma once

namespace tarnvik {

// The light yellow of the text box, Combo1, the first match and the list.
constexpr unsigned kYellow = 0xC0FFFF;
// Light blue: found, but only with case and diacritics ignored.
constexpr unsigned kLightBlue = 0xFFE0B0;

} // namespace tarnvik
