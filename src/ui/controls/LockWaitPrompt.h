#pragma once
#include <QPointer>
#include <QString>
#include <functional>

class QProgressDialog;
class QWidget;

namespace vireo {

// While another session holds the server's check lock: a dialog (objectName "lockWait") with the
// waiting text and a 放弃等待 button. Called before each further wait; false once the user gave up.
class LockWaitPrompt {
public:
    LockWaitPrompt(QWidget *parent, const QString &text);
    ~LockWaitPrompt();
    LockWaitPrompt(const LockWaitPrompt &) = delete;
    LockWaitPrompt &operator=(const LockWaitPrompt &) = delete;

    bool operator()();

    // The same question for a worker thread: asked in the window's thread (beforeAsking first),
    // false once the window is gone or the user gave up.
    std::function<bool()> fromWorker(std::function<void()> beforeAsking = {});

private:
    QWidget *m_parent;
    QString m_text;
    QPointer<QProgressDialog> m_dialog;
    bool m_gaveUp = false;
};

} // namespace vireo
