#include "window/window_icon.h"

#include <QPixmap>

namespace quenby {

namespace {

// Compiled in from examples/site/quenby.png.
constexpr const char* IconResource = ":/quenby/quenby.png";
constexpr int IconSizes[] = {32, 48, 64, 128, 256};

}  // namespace

QIcon QuenbyIcon() {
  const QPixmap drawing(QString::fromUtf8(IconResource));
  QIcon icon(drawing);
  if (drawing.isNull()) {
    return icon;
  }
  for (const int size : IconSizes) {
    icon.addPixmap(drawing.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation));
  }
  return icon;
}

}  // namespace quenby
