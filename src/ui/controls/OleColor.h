#pragma once

#include <QColor>
#include <QPalette>
#include <QtGlobal>

namespace vireo {

// 32-bit colour values as the control's properties carry them: 0x00BBGGRR for
// a plain colour, 0x800000nn for system colour nn, taken from a palette.
namespace OleColor {
constexpr quint32 ButtonFace = 0x8000000F;
constexpr quint32 GrayText = 0x80000011;
constexpr quint32 ButtonText = 0x80000012;
constexpr quint32 Black = 0x00000000;

QColor toColor(quint32 value);
QColor toColor(quint32 value, const QPalette &palette);
quint32 fromColor(const QColor &color);
} // namespace OleColor

} // namespace vireo
