#pragma once
// Pictures the program draws itself: the speed-button glyphs and the about box
// logo, painted at the layout's scale so they stay sharp on any screen.

#include <QIcon>
#include <QPixmap>

namespace Glyphs {

QIcon OpenFolder();
QIcon Floppy();
QIcon NewPage();
// The program logo, size design pixels square.
QPixmap Logo(int size);

}  // namespace Glyphs
