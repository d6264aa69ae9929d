#include "ui/app_icon.h"

// A static library's resources are only linked in when something refers to
// them; this does, and it has to sit outside any namespace.
static void InitFerrotickResources() { Q_INIT_RESOURCE(ferrotick); }

namespace ferrotick::ui {

QIcon AppIcon() {
  InitFerrotickResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/ferrotick/ferrotick-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/ferrotick/ferrotick-32.png"), QSize(32, 32));
  return icon;
}

}  // namespace ferrotick::ui
