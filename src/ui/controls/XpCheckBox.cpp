#include "XpCheckBox.h"

#include "CheckBoxArt.h"
#include "OleColor.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

#include <stdexcept>

namespace vireo {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kGlyphTwips = 195;
constexpr int kCaptionLeftTwips = 240;
constexpr const char *kDefaultCaptionRead = "CheckBox1";
constexpr const char *kDefaultCaptionWrite = "CheckBox";

int toPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

short shiftState(Qt::KeyboardModifiers mods)
{
    short s = 0;
    if (mods & Qt::ShiftModifier)
        s |= 1;
    if (mods & Qt::ControlModifier)
        s |= 2;
    if (mods & Qt::AltModifier)
        s |= 4;
    return s;
}

short buttonBits(Qt::MouseButtons buttons)
{
    short b = 0;
    if (buttons & Qt::LeftButton)
        b |= 1;
    if (buttons & Qt::RightButton)
        b |= 2;
    if (buttons & Qt::MiddleButton)
        b |= 4;
    return b;
}

// Virtual-key code of a key, as the control's key events report it.
short keyCode(const QKeyEvent *e)
{
    const int k = e->key();
    if (e->modifiers() & Qt::KeypadModifier && k >= Qt::Key_0 && k <= Qt::Key_9)
        return short(0x60 + (k - Qt::Key_0));
    if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9)
        || k == Qt::Key_Space)
        return short(k);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return short(0x70 + (k - Qt::Key_F1));
    switch (k) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Asterisk: return 0x6A;
    case Qt::Key_Plus: return 0x6B;
    case Qt::Key_Minus: return 0x6D;
    case Qt::Key_Slash: return 0x6F;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    default: return 0;
    }
}

bool isValueDrawn(int value)
{
    return value >= 0 && value <= 2;
}

void setTextColor(QWidget *w, const QColor &color)
{
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::WindowText, color);
    w->setPalette(pal);
}

} // namespace

XpCheckBox::XpCheckBox(QWidget *parent, const QString &name)
    : QWidget(parent)
{
    setObjectName(name.isEmpty() ? placementName() : name);
    create();
    initProperties();
}

XpCheckBox::XpCheckBox(const PropertyBag &stored, QWidget *parent, const QString &name)
    : QWidget(parent)
{
    setObjectName(name.isEmpty() ? placementName() : name);
    create();
    readProperties(stored);
}

QString XpCheckBox::placementName() const
{
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("XpCheckBox%1").arg(n);
        bool used = false;
        if (parentWidget()) {
            for (QObject *sibling : parentWidget()->children())
                used = used || (sibling != this && sibling->objectName() == candidate);
        }
        if (!used)
            return candidate;
    }
}

void XpCheckBox::create()
{
    m_backColor = OleColor::ButtonFace;
    m_foreColor = OleColor::Black;
    m_font = ambientFont();

    p = new QLabel(this);
    p->setObjectName(QStringLiteral("p"));
    p->setFixedSize(CheckBoxArt::CellSize, CheckBoxArt::CellSize);
    p->setFocusPolicy(Qt::StrongFocus);
    p->setMouseTracking(true);
    p->installEventFilter(this);

    lbl = new QLabel(this);
    lbl->setObjectName(QStringLiteral("lbl"));
    lbl->setMouseTracking(true);
    lbl->installEventFilter(this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(HoverInterval);
    connect(Timer1, &QTimer::timeout, this, &XpCheckBox::hoverTick);

    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(p);

    for (int i = 0; i < LookCount; ++i)
        pcChoice[i] = CheckBoxArt::strip(i);

    LoadLook(3);
    DrawNormal();
    Layout();
    setAutoFillBackground(true);
    applyBackColor();
    m_hotCell = 1;
}

QFont XpCheckBox::ambientFont() const
{
    return parentWidget() ? parentWidget()->font() : QApplication::font();
}

// ---- properties -----------------------------------------------------------

bool XpCheckBox::Enabled() const
{
    return parentWidget() ? isEnabledTo(parentWidget()) : isEnabled();
}

void XpCheckBox::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    ApplyEnabled();
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
}

void XpCheckBox::setCheckBoxLook(int look)
{
    if (look < 0 || look >= LookCount)
        throw std::out_of_range("CheckBoxLook " + std::to_string(look) + " is not in 0..13");
    m_look = look;
    LoadLook(look);
    ApplyEnabled();
    Q_EMIT PropertyChanged(QStringLiteral("CheckBoxLook"));
}

void XpCheckBox::setValue(int value)
{
    m_value = value;
    DrawNormal();
    Q_EMIT PropertyChanged(QStringLiteral("Value"));
}

QString XpCheckBox::Caption() const
{
    return lbl->text();
}

void XpCheckBox::setCaption(const QString &caption)
{
    lbl->setText(caption);
    Layout();
    Q_EMIT PropertyChanged(QStringLiteral("Caption"));
}

void XpCheckBox::setBackColor(quint32 color)
{
    m_backColor = color;
    applyBackColor();
    Q_EMIT PropertyChanged(QStringLiteral("BackColor"));
}

void XpCheckBox::applyBackColor()
{
    QPalette pal = palette();
    const QColor c = OleColor::toColor(m_backColor);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Window, c);
    QWidget::setPalette(pal);
}

void XpCheckBox::setFont(const QFont &font)
{
    m_font = font;
    QWidget::setFont(font);
    lbl->setFont(font);
    Layout();
    Q_EMIT PropertyChanged(QStringLiteral("Font"));
}

void XpCheckBox::setForeColor(quint32 color)
{
    m_foreColor = color;
    ApplyEnabled();
    Q_EMIT PropertyChanged(QStringLiteral("ForeColor"));
}

void XpCheckBox::initProperties()
{
    setEnabled(true);
    setCheckBoxLook(0);
    setValue(0);
    setCaption(objectName());
    setBackColor(OleColor::ButtonFace);
    setFont(ambientFont());
    setForeColor(OleColor::Black);
}

void XpCheckBox::readProperties(const PropertyBag &bag)
{
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
    setCheckBoxLook(bag.readProperty(QStringLiteral("CheckBoxLook"), 0).toInt());
    setValue(bag.readProperty(QStringLiteral("Value"), 0).toInt());
    setCaption(bag.readProperty(QStringLiteral("Caption"), QString::fromLatin1(kDefaultCaptionRead))
                   .toString());
    setBackColor(bag.readProperty(QStringLiteral("BackColor"), OleColor::ButtonFace).toUInt());
    setFont(bag.readProperty(QStringLiteral("Font"), ambientFont()).value<QFont>());
    setForeColor(bag.readProperty(QStringLiteral("ForeColor"), OleColor::Black).toUInt());
}

void XpCheckBox::writeProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Enabled"), Enabled(), true);
    bag.writeProperty(QStringLiteral("CheckBoxLook"), m_look, 0);
    bag.writeProperty(QStringLiteral("Value"), m_value, 0);
    bag.writeProperty(QStringLiteral("Caption"), Caption(), QString::fromLatin1(kDefaultCaptionWrite));
    bag.writeProperty(QStringLiteral("BackColor"), m_backColor, OleColor::ButtonFace);
    bag.writeProperty(QStringLiteral("Font"), m_font, ambientFont());
    bag.writeProperty(QStringLiteral("ForeColor"), m_foreColor, OleColor::Black);
}

// ---- drawing --------------------------------------------------------------

QPixmap XpCheckBox::cell(const QPixmap &strip, int index)
{
    return strip.copy(index * CheckBoxArt::CellSize, 0, CheckBoxArt::CellSize,
                      CheckBoxArt::CellSize);
}

void XpCheckBox::showCell(int index)
{
    m_shownCell = index;
    p->setPixmap(cell(pc, index));
}

void XpCheckBox::DrawNormal()
{
    if (!isEnabled()) {
        DrawDisabled();
        return;
    }
    if (isValueDrawn(m_value))
        showCell(4 * m_value);
}

void XpCheckBox::DrawDisabled()
{
    if (isValueDrawn(m_value))
        showCell(4 * m_value + 3);
}

void XpCheckBox::LoadLook(int look)
{
    pc = pcChoice[look];
}

void XpCheckBox::ApplyEnabled()
{
    if (isEnabled()) {
        DrawNormal();
        setTextColor(lbl, OleColor::toColor(m_foreColor));
    } else {
        DrawDisabled();
        setTextColor(lbl, OleColor::toColor(OleColor::GrayText));
        Timer1->stop();
    }
}

void XpCheckBox::Layout()
{
    lbl->adjustSize();
    const int heightTwips = height() * kTwipsPerPixel;
    const int glyphTop = (heightTwips - kGlyphTwips) / 2;
    const int captionTop = (heightTwips - lbl->height() * kTwipsPerPixel) / 2;
    p->move(0, toPixels(glyphTop));
    lbl->move(toPixels(kCaptionLeftTwips), toPixels(captionTop));
}

QSize XpCheckBox::sizeHint() const
{
    const QSize text = lbl->sizeHint();
    return {toPixels(kCaptionLeftTwips) + text.width(), qMax(CheckBoxArt::CellSize + 4, text.height())};
}

bool XpCheckBox::isTracking() const
{
    return Timer1->isActive();
}

// ---- events ---------------------------------------------------------------

void XpCheckBox::mouseDownStep(short button, short shift, float x, float y)
{
    if (!isEnabled())
        return;
    if (isValueDrawn(m_value))
        showCell(4 * m_value + 2);
    m_buttonHeld = true;
    Q_EMIT MouseDown(button, shift, x, y);
}

void XpCheckBox::mouseMoveStep(short button, short shift, float x, float y)
{
    if (!isEnabled() || m_buttonHeld || m_shownCell == m_hotCell)
        return;
    Timer1->start();
    if (isValueDrawn(m_value)) {
        m_hotCell = 4 * m_value + 1;
        showCell(m_hotCell);
    }
    Q_EMIT MouseMove(button, shift, x, y);
}

void XpCheckBox::mouseUpStep(short button, short shift, float x, float y)
{
    Q_EMIT MouseUp(button, shift, x, y);
    m_buttonHeld = false;
}

void XpCheckBox::clickStep()
{
    Q_EMIT Click();
    switch (m_value) {
    case 0: setValue(1); break;
    case 1:
    case 2: setValue(0); break;
    default: break;
    }
    DrawNormal();
}

void XpCheckBox::hoverTick()
{
    const QPoint pos = mapFromGlobal(QCursor::pos());
    const bool outside = pos.x() < 0 || pos.y() < 0 || pos.x() > width() || pos.y() > height();
    if (outside && !m_buttonHeld) {
        DrawNormal();
        Timer1->stop();
        Q_EMIT MouseOut();
    }
}

bool XpCheckBox::handleMouse(QWidget *part, QMouseEvent *e)
{
    const QPointF pos = e->position();
    const short shift = shiftState(e->modifiers());
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_pressedPart = e->button() == Qt::LeftButton ? part : nullptr;
        mouseDownStep(buttonBits(e->button()), shift, float(pos.x()), float(pos.y()));
        return true;
    case QEvent::MouseMove:
        mouseMoveStep(buttonBits(e->buttons()), shift, float(pos.x()), float(pos.y()));
        return true;
    case QEvent::MouseButtonRelease: {
        mouseUpStep(buttonBits(e->button()), shift, float(pos.x()), float(pos.y()));
        const bool clicked = e->button() == Qt::LeftButton && m_pressedPart == part
                             && part->rect().contains(pos.toPoint()) && isEnabled();
        if (e->button() == Qt::LeftButton)
            m_pressedPart = nullptr;
        if (clicked)
            clickStep();
        return true;
    }
    default:
        return false;
    }
}

bool XpCheckBox::event(QEvent *e)
{
    // Handled before QWidget::event, which drops mouse input to a disabled
    // widget: MouseUp is still reported then.
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        e->accept();
        return handleMouse(this, static_cast<QMouseEvent *>(e));
    default:
        return QWidget::event(e);
    }
}

bool XpCheckBox::eventFilter(QObject *watched, QEvent *e)
{
    if (watched != p && watched != lbl)
        return QWidget::eventFilter(watched, e);

    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        e->accept();
        return handleMouse(static_cast<QWidget *>(watched), static_cast<QMouseEvent *>(e));
    default:
        break;
    }
    if (watched != p)
        return false;

    switch (e->type()) {
    case QEvent::KeyPress: {
        auto *ke = static_cast<QKeyEvent *>(e);
        if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab)
            return false; // focus navigation
        short code = keyCode(ke);
        short shift = shiftState(ke->modifiers());
        Q_EMIT KeyDown(code, shift);
        if (ke->key() != Qt::Key_Space)
            return false; // still reaches the container (default and cancel buttons)
        short ascii = 32;
        Q_EMIT KeyPress(ascii);
        Q_EMIT Click();
        mouseDownStep(1, 0, 0, 0);
        return true;
    }
    case QEvent::KeyRelease: {
        auto *ke = static_cast<QKeyEvent *>(e);
        if (ke->key() != Qt::Key_Space)
            return false;
        if (ke->isAutoRepeat())
            return true;
        short code = keyCode(ke);
        short shift = shiftState(ke->modifiers());
        Q_EMIT KeyUp(code, shift);
        clickStep();
        m_buttonHeld = false;
        return true;
    }
    case QEvent::FocusIn:
        mouseMoveStep(0, 0, 0, 0);
        Timer1->stop();
        return false;
    case QEvent::FocusOut:
        m_hotCell = 11;
        mouseMoveStep(0, 0, 0, 0);
        return false;
    default:
        return false;
    }
}

void XpCheckBox::changeEvent(QEvent *e)
{
    switch (e->type()) {
    case QEvent::EnabledChange:
        ApplyEnabled();
        break;
    case QEvent::ApplicationPaletteChange:
        applyBackColor();
        ApplyEnabled();
        break;
    default:
        break;
    }
    QWidget::changeEvent(e);
}

void XpCheckBox::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    Layout();
}

} // namespace vireo
