#pragma once
#include "WindowJobs.h"
#include <QTest>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStringEncoder>
#include <QTimer>
#include <functional>
#include <ostream>
#include <vector>

// Readable Qt strings in test failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace vireo::test {

// Until no job is queued or running on the account connection and no question is open (at most 30 s).
inline void waitIdle()
{
    ASSERT_TRUE(QTest::qWaitFor(windowsIdle, 30000)) << "the windows did not become idle";
    QCoreApplication::processEvents();
}


// Answers the modal boxes the code under test opens: records each message box and presses its
// first button; hands any other modal dialog to onDialog (or rejects it).
class ModalWatcher : public QObject {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    std::vector<Box> boxes;
    std::function<void(QWidget *)> onDialog;
    // When set, answers each message box (after it is recorded) in place of the first button.
    std::function<void(QMessageBox *)> onBox;

    ModalWatcher()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || m_busy)
            return;
        m_busy = true;
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            boxes.push_back({box->icon(), box->windowTitle(), box->text()});
            const auto buttons = box->buttons();
            if (onBox)
                onBox(box);
            else if (!buttons.isEmpty())
                buttons.first()->click();
            else
                box->reject();
        } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
            if (onDialog)
                onDialog(dialog);
            else
                dialog->reject();
        }
        m_busy = false;
    }
    QTimer m_timer;
    bool m_busy = false;
};

// Writes a text file as the tool's item files are kept: code page 936, CR LF line ends.
inline void writeGbFile(const QString &path, const QStringList &lines)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringEncoder gb("GB18030");
    QByteArray bytes = gb.encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

} // namespace vireo::test
