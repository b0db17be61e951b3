#pragma once
#include <QString>

namespace vireo {

// True when code page 936 stores the UTF-16 code unit as a double-byte character.
bool isDoubleByte(char16_t ch);

// Width of a text in half-width character cells: double-byte characters count 2, others 1.
int DisplayWidth(const QString &text);
int DisplayWidth(const char16_t *text, qsizetype length);

} // namespace vireo
