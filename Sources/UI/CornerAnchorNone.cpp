// Built without the layer shell's Qt library: windows show where the compositor puts them.
#include "CornerAnchor.h"

namespace UI {

bool anchorToCorner(QWindow*, const QRect&) {
    return false;
}

} // namespace UI
