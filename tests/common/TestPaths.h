#pragma once
#include <QString>

namespace vireo::test {
inline QString dataDir() { return QStringLiteral(VIREO_TEST_DATA); }
inline QString sourceDir() { return QStringLiteral(VIREO_SOURCE_DIR); }
inline QString binDir() { return QStringLiteral(VIREO_BIN_DIR); }
} // namespace vireo::test
