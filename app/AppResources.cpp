#include "app/AppResources.h"

#include <QtGlobal>

// Outside any namespace, as the resource macro requires. Nothing else would pull the compiled
// resources out of the static library.
static int RegisterAppResources() {
    Q_INIT_RESOURCE(app);
    return 0;
}

namespace kve17 {

void LoadAppResources() {
    static const int once = RegisterAppResources();
    (void)once;
}

} // namespace kve17
