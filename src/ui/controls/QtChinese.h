#pragma once
#include <memory>

class QApplication;

namespace vireo {

// Qt's own dialogs and buttons (file dialog, message boxes, date picker) in simplified Chinese:
// loads qtbase_zh_CN from Qt's translations folder and makes Chinese the default locale.
// False when the translations are not installed (the dialogs then stay in English).
bool installQtChinese();

// Creates the application with Qt's own texts and dates in Chinese whatever the environment says
// (LANG=C, LC_ALL=C included). The file dialog writes dates in the system locale, which Qt reads
// from the environment once: the environment says zh_CN while the application starts and is put
// back afterwards, so that programs the tool starts get the user's own.
std::unique_ptr<QApplication> createChineseApplication(int &argc, char **argv);

} // namespace vireo
