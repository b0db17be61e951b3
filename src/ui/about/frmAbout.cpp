#include "frmAbout.h"

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

QString frmAbout::noticeText()
{
    return QStringLiteral(
        "本工具用于检查Vireo账套数据库中的常见数据问题，并可按检查项目附带的脚本进行修复。\n"
        "执行修复前请先备份账套数据库：修复脚本直接修改数据库中的数据，操作完成后无法自动撤销。\n"
        "检查结果仅供参考，请结合业务实际核对后再作处理。\n"
        "本软件受著作权法保护，未经许可，不得复制、修改或传播。");
}

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("提示"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(WidthPx, HeightPx);
    m_background = AboutArt::background(WidthPx, HeightPx);

    const QColor ink(0x1F, 0x2D, 0x3D);
    labHint = makeLabel(this, "labHint", QStringLiteral("关于"), true, Qt::white);
    labHint->move(10, (AboutArt::HeaderHeight - labHint->height()) / 2);

    picExit = new QLabel(this);
    picExit->setObjectName(QStringLiteral("picExit"));
    picExit->setFixedSize(17, 18);
    picExit->setPixmap(AboutArt::closeImage(false));
    picExit->move(WidthPx - 17 - 7, (AboutArt::HeaderHeight - 18) / 2);
    picExit->setCursor(Qt::PointingHandCursor);
    picExit->setToolTip(QStringLiteral("关闭"));
    picExit->setAttribute(Qt::WA_Hover);
    picExit->installEventFilter(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(AboutArt::emblem(56));
    Image1->setGeometry(22, 46, 56, 56);

    Label1 = makeLabel(this, "Label1", QStringLiteral("版权信息"), true, ink);
    Label1->move(96, 46);
    Line1 = makeRule(this, "Line1", QRect(96, 70, WidthPx - 96 - 76, 2));

    Label5 = makeLabel(this, "Label5", QStringLiteral("Vireo数据体验工具V1.0"), false, ink);
    Label5->move(96, 80);
    Line2 = makeRule(this, "Line2", QRect(22, 114, WidthPx - 44, 2));

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(AboutArt::seal(44));
    Image2->setGeometry(WidthPx - 22 - 44, 52, 44, 44);

    txtMessge = new QPlainTextEdit(this);
    txtMessge->setObjectName(QStringLiteral("txtMessge"));
    txtMessge->setReadOnly(true);
    txtMessge->setPlainText(noticeText());
    txtMessge->setGeometry(22, 126, WidthPx - 44, HeightPx - 126 - 20);
}

int frmAbout::showModal(QWidget *parent)
{
    frmAbout window(parent);
    window.setWindowModality(Qt::ApplicationModal);
    return window.exec();
}

bool frmAbout::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == picExit) {
        switch (e->type()) {
        case QEvent::HoverEnter:
            picExit->setPixmap(AboutArt::closeImage(true));
            break;
        case QEvent::HoverLeave:
            picExit->setPixmap(AboutArt::closeImage(false));
            break;
        case QEvent::MouseButtonRelease: {
            auto *me = static_cast<QMouseEvent *>(e);
            if (me->button() == Qt::LeftButton && picExit->rect().contains(me->position().toPoint())) {
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

void frmAbout::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_background);
}

// The window has no frame: it is moved by dragging its header band.
void frmAbout::mousePressEvent(QMouseEvent *e)
{
    m_dragging = e->button() == Qt::LeftButton && e->position().y() < AboutArt::HeaderHeight;
    m_dragOffset = e->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(e);
}

void frmAbout::mouseMoveEvent(QMouseEvent *e)
{
    if (m_dragging && (e->buttons() & Qt::LeftButton))
        move(e->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(e);
}

} // namespace vireo
