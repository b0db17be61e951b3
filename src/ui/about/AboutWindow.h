#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QFrame;
class QPlainTextEdit;

namespace vireo {

// The About window: product title and version, a fixed notice, closed by a
// click on the close image `closeImage` (or Escape). Created on each show.
class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int WidthPx = 420;  // 6300 twips
    static constexpr int HeightPx = 300; // 4500 twips

    explicit AboutWindow(QWidget *parent = nullptr);

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
    QLabel *headerLabel = nullptr;
    QLabel *closeImage = nullptr;
    QLabel *copyrightLabel = nullptr;
    QLabel *productLabel = nullptr;
    QFrame *upperRule = nullptr;
    QFrame *lowerRule = nullptr;
    QLabel *emblemImage = nullptr;
    QLabel *sealImage = nullptr;
    QPlainTextEdit *noticeBox = nullptr;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace vireo
