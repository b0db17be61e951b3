#include "AboutWindow.h"

#include "AboutArt.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>

namespace vireo {

namespace {

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, bool bold,
                  const QColor &color)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setBold(bold);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->adjustSize();
    return label;
}

QFrame *makeRule(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *rule = new QFrame(parent);
    rule->setObjectName(QString::fromLatin1(name));
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(geometry);
    return rule;
}

} // namespace

QString AboutWindow::noticeText()
{
    return QStringLiteral(
        "本工具用于检查Vireo账套数据库中的常见数据问题，并可按检查项目附带的脚本进行修复。\n"
        "执行修复前请先备份账套数据库：修复脚本直接修改数据库中的数据，操作完成后无法自动撤销。\n"
        "检查结果仅供参考，请结合业务实际核对后再作处理。\n"
        "本软件受著作权法保护，未经许可，不得复制、修改或传播。");
}

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("AboutWindow"));
    setWindowTitle(QStringLiteral("提示"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(WidthPx, HeightPx);
    m_background = AboutArt::background(WidthPx, HeightPx);

    const QColor ink(0x1F, 0x2D, 0x3D);
    headerLabel = makeLabel(this, "headerLabel", QStringLiteral("关于"), true, Qt::white);
    headerLabel->move(10, (AboutArt::HeaderHeight - headerLabel->height()) / 2);

    closeImage = new QLabel(this);
    closeImage->setObjectName(QStringLiteral("closeImage"));
    closeImage->setFixedSize(17, 18);
    closeImage->setPixmap(AboutArt::closeImage(false));
    closeImage->move(WidthPx - 17 - 7, (AboutArt::HeaderHeight - 18) / 2);
    closeImage->setCursor(Qt::PointingHandCursor);
    closeImage->setToolTip(QStringLiteral("关闭"));
    closeImage->setAttribute(Qt::WA_Hover);
    closeImage->installEventFilter(this);

    emblemImage = new QLabel(this);
    emblemImage->setObjectName(QStringLiteral("emblemImage"));
    emblemImage->setPixmap(AboutArt::emblem(56));
    emblemImage->setGeometry(22, 46, 56, 56);

    copyrightLabel = makeLabel(this, "copyrightLabel", QStringLiteral("版权信息"), true, ink);
    copyrightLabel->move(96, 46);
    upperRule = makeRule(this, "upperRule", QRect(96, 70, WidthPx - 96 - 76, 2));

    productLabel = makeLabel(this, "productLabel", QStringLiteral("Vireo数据体验工具V1.0"), false, ink);
    productLabel->move(96, 80);
    lowerRule = makeRule(this, "lowerRule", QRect(22, 114, WidthPx - 44, 2));

    sealImage = new QLabel(this);
    sealImage->setObjectName(QStringLiteral("sealImage"));
    sealImage->setPixmap(AboutArt::seal(44));
    sealImage->setGeometry(WidthPx - 22 - 44, 52, 44, 44);

    noticeBox = new QPlainTextEdit(this);
    noticeBox->setObjectName(QStringLiteral("noticeBox"));
    noticeBox->setReadOnly(true);
    noticeBox->setPlainText(noticeText());
    noticeBox->setGeometry(22, 126, WidthPx - 44, HeightPx - 126 - 20);
}

int AboutWindow::showModal(QWidget *parent)
{
    AboutWindow window(parent);
    window.setWindowModality(Qt::ApplicationModal);
    return window.exec();
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == closeImage) {
        switch (e->type()) {
        case QEvent::HoverEnter:
            closeImage->setPixmap(AboutArt::closeImage(true));
            break;
        case QEvent::HoverLeave:
            closeImage->setPixmap(AboutArt::closeImage(false));
            break;
        case QEvent::MouseButtonRelease: {
            auto *me = static_cast<QMouseEvent *>(e);
            if (me->button() == Qt::LeftButton && closeImage->rect().contains(me->position().toPoint())) {
                accept();
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void AboutWindow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_background);
}

// The window has no frame: it is moved by dragging its header band.
void AboutWindow::mousePressEvent(QMouseEvent *e)
{
    m_dragging = e->button() == Qt::LeftButton && e->position().y() < AboutArt::HeaderHeight;
    m_dragOffset = e->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(e);
}

void AboutWindow::mouseMoveEvent(QMouseEvent *e)
{
    if (m_dragging && (e->buttons() & Qt::LeftButton))
        move(e->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(e);
}

} // namespace vireo
