#include "LockWaitPrompt.h"
#include <QProgressDialog>
#include <QWidget>

namespace vireo {

LockWaitPrompt::LockWaitPrompt(QWidget *parent, const QString &text) : m_parent(parent), m_text(text) {}

LockWaitPrompt::~LockWaitPrompt()
{
    delete m_dialog.data();
}

bool LockWaitPrompt::operator()()
{
    if (!m_dialog && !m_gaveUp) {
        m_dialog = new QProgressDialog(m_text, QStringLiteral("放弃等待"), 0, 0, m_parent);
        m_dialog->setObjectName(QStringLiteral("lockWait"));
        m_dialog->setWindowTitle(QStringLiteral("Vireo数据体检工具"));
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->show();
    }
    // The window's own event loop runs the dialog between the worker's questions.
    // 放弃等待, Esc and the close box all cancel; a dialog closed any other way gives up too.
    if (m_dialog && (m_dialog->wasCanceled() || !m_dialog->isVisible()))
        m_gaveUp = true;
    return !m_gaveUp;
}

std::function<bool()> LockWaitPrompt::fromWorker(std::function<void()> beforeAsking)
{
    const QPointer<QWidget> window(m_parent);
    return [this, window, beforeAsking = std::move(beforeAsking)] {
        bool goOn = false;
        QMetaObject::invokeMethod(window, [&] {
            if (!window)
                return;
            if (beforeAsking)
                beforeAsking();
            goOn = (*this)();
        }, Qt::BlockingQueuedConnection);
        return goOn;
    };
}

} // namespace vireo
