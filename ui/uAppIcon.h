// The program's icon, drawn in code so that every size is crisp (the window, the installed
// PNGs and the scale-2 screens all use this one drawing).
#pragma once

#include <QIcon>
#include <QImage>

// The icon drawn into a square image of `size` pixels.
QImage DrawAppIcon(int size);
// The icon for the window, drawn at each size when that size is first shown.
QIcon AppIcon();
