// The program's icon, from the resources built into the library.
#pragma once

#include <QIcon>

namespace ferrotick::ui {

// Both sizes, 16 and 32 pixels.
QIcon AppIcon();

}  // namespace ferrotick::ui
