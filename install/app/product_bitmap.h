// The product picture at the side of every page, drawn rather than shipped.
#pragma once

#include <QPixmap>

namespace ombra::install {

QPixmap productBitmap(int width, int height);

}  // namespace ombra::install
