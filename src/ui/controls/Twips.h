#pragma once
#include <QRect>

namespace vireo {

// Window geometry is designed in twips: 15 twips are one pixel at 96 DPI.
constexpr int kTwipsPerPixel = 15;

// Twips to the nearest pixel.
constexpr int px(int twips)
{
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

constexpr QRect twipRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace vireo
