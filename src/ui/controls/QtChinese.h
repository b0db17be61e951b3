#pragma once

namespace vireo {

// Qt's own dialogs and buttons (file dialog, message boxes, date picker) in simplified Chinese:
// loads qtbase_zh_CN from Qt's translations folder and makes Chinese the default locale.
// False when the translations are not installed (the dialogs then stay in English).
bool installQtChinese();

} // namespace vireo
