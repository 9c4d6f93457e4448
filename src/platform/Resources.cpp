#include "Resources.h"

#include <QtGlobal>

// The macro cannot be used inside a namespace.
static void initTarnvikResources()
{
    Q_INIT_RESOURCE(tarnvik);
}

namespace tarnvik {

void loadResources()
{
    initTarnvikResources();
}

} // namespace tarnvik
