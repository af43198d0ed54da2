// Built without the layer shell's Qt library: windows show where the compositor puts them.
#include "CornerAnchor.h"

namespace Tray {

bool anchorToCorner(QWindow*, const QRect&) {
    return false;
}

} // namespace Tray
