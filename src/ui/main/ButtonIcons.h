#pragma once
#include <QIcon>

namespace vireo {

// The 16 x 16 icons of the main window's buttons, drawn here: "selectAll", "clearAll", "run", "exit".
QIcon buttonIcon(const QString &name);

} // namespace vireo
