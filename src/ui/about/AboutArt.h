#pragma once

#include <QPixmap>

// Artwork of the About window, drawn at start-up.
namespace vireo::AboutArt {

constexpr int HeaderHeight = 30;

QPixmap background(int width, int height);
QPixmap closeImage(bool hot); // 17 x 18
QPixmap emblem(int size);     // the product mark: a check inside a leaf
QPixmap seal(int size);       // a round "checked" seal

} // namespace vireo::AboutArt
