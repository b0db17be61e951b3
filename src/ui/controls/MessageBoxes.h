#pragma once
#include <QMessageBox>

namespace vireo {

// Shows a message box window-modal and returns at once: the caller's event loop goes on (a job's
// result that arrives meanwhile is handled as usual) and the box deletes itself when closed. Connect
// to its finished() or buttonClicked() to act on the answer.
QMessageBox *showMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                            QMessageBox::StandardButtons buttons = QMessageBox::Ok);

} // namespace vireo
