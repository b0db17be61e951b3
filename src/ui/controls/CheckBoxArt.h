#pragma once

#include <QPixmap>

namespace vireo::CheckBoxArt {

constexpr int LookCount = 14;
constexpr int CellSize = 13;
constexpr int CellCount = 12;

// The strip of one look: 12 cells of 13 x 13 pixels in one row; the cell for
// value v (0 unchecked, 1 checked, 2 mixed) and state s (0 normal, 1 hot,
// 2 pressed, 3 disabled) is 4 * v + s. Drawn on first use and cached.
// Throws std::out_of_range for a look outside 0..13.
QPixmap strip(int look);

QString lookName(int look);

} // namespace vireo::CheckBoxArt
