#pragma once
// Small state images for tree nodes, drawn at run time so that no image
// files have to ship with the program. A node's state index picks its
// image; index 0 means no image.
#include <QIcon>

namespace kx::gui {

// The number of state images (indexes 1 .. StateImageCount).
constexpr int StateImageCount = 3;

// Draws the image of a state index: 1 a square (system routines), 2 a
// circle (procedures and types), 3 a diamond (class members). Other indexes
// give a null icon. Callers draw each image once and share it among their
// nodes (an icon per node would cost time and memory on large trees).
QIcon StateImage(int stateIndex);

}  // namespace kx::gui
