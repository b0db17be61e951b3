#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QFrame;
class QPlainTextEdit;

namespace vireo {

// The About window: product title and version, a fixed notice, closed by a
// click on the close image `picExit` (or Escape). Created on each show.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    static constexpr int WidthPx = 420;  // 6300 twips
    static constexpr int HeightPx = 300; // 4500 twips

    explicit frmAbout(QWidget *parent = nullptr);

    // Shows a fresh About window modally and returns when it has closed.
    static int showModal(QWidget *parent);

    static QString noticeText();

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;

private:
    QPixmap m_background;
    QLabel *labHint = nullptr;
    QLabel *picExit = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label5 = nullptr;
    QFrame *Line1 = nullptr;
    QFrame *Line2 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    QPlainTextEdit *txtMessge = nullptr;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace vireo
