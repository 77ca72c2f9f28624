#pragma once

#include <QPixmap>

namespace qelta {

// The maker's logo for the header of the configuration dialog: a lightning bolt in a blue
// square beside the name "QELTA" and the word "MONITOR", drawn on white at `width` x `height`
// logical pixels for a screen of the given pixel ratio.
QPixmap DrawConfigLogo(int width, int height, qreal pixel_ratio);

}  // namespace qelta
