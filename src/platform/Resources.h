// The pictures live in a static library, whose resources load only on request.
#pragma once

namespace tarnvik {

// Loads them; any number of calls.
void loadResources();

} // namespace tarnvik
