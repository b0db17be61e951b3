#pragma once

#include "PropertyBag.h"

#include <QFont>
#include <QPixmap>
#include <QWidget>

#include <array>

class QLabel;
class QMouseEvent;
class QTimer;

namespace vireo {

// A check box drawn from bitmap strips: three values (0 unchecked, 1 checked,
// 2 mixed), fourteen looks, normal/hot/pressed/disabled cells and a caption.
//
// Events are signals with their arguments passed by reference. Mouse
// coordinates are the receiving part's local pixels (the control surface, the
// glyph `p` or the caption `lbl`); Button and Shift use the bit values
// 1 left / 2 right / 4 middle and 1 Shift / 2 Ctrl / 4 Alt.
class XpCheckBox : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(int CheckBoxLook READ CheckBoxLook WRITE setCheckBoxLook)
    Q_PROPERTY(int Value READ Value WRITE setValue)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(QFont Font READ Font WRITE setFont)
    Q_PROPERTY(quint32 ForeColor READ ForeColor WRITE setForeColor)

public:
    static constexpr int LookCount = 14;
    static constexpr int HoverInterval = 10; // ms

    // A newly placed control: placement defaults, caption = its name. Without a
    // name it is called "XpCheckBox<n>", the first number no sibling uses.
    explicit XpCheckBox(QWidget *parent = nullptr, const QString &name = QString());
    // A control loaded from stored properties.
    XpCheckBox(const PropertyBag &stored, QWidget *parent = nullptr,
               const QString &name = QString());

    bool Enabled() const;
    void setEnabled(bool enabled);
    int CheckBoxLook() const { return m_look; }
    void setCheckBoxLook(int look); // throws std::out_of_range outside 0..13
    int Value() const { return m_value; }
    void setValue(int value);
    QString Caption() const;
    void setCaption(const QString &caption);
    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color);
    QFont Font() const { return m_font; }
    void setFont(const QFont &font);
    quint32 ForeColor() const { return m_foreColor; }
    void setForeColor(quint32 color);

    void initProperties();
    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    // Cell of the current strip shown in the glyph, 4 * value + state.
    int shownCell() const { return m_shownCell; }
    int hotCell() const { return m_hotCell; }
    bool buttonHeld() const { return m_buttonHeld; }
    bool isTracking() const;
    QPixmap strip() const { return pc; }
    static QPixmap cell(const QPixmap &strip, int index);

    QSize sizeHint() const override;

Q_SIGNALS:
    void Click();
    void KeyDown(short &KeyCode, short &Shift);
    void KeyPress(short &KeyAscii);
    void KeyUp(short &KeyCode, short &Shift);
    void MouseOut();
    void MouseDown(short &Button, short &Shift, float &X, float &Y);
    void MouseMove(short &Button, short &Shift, float &X, float &Y);
    void MouseUp(short &Button, short &Shift, float &X, float &Y);
    void PropertyChanged(const QString &propertyName);

protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void changeEvent(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void create();
    void DrawNormal();
    void DrawDisabled();
    void LoadLook(int look);
    void ApplyEnabled();
    void Layout();
    void applyBackColor();
    void showCell(int index);
    QFont ambientFont() const;
    QString placementName() const;

    bool handleMouse(QWidget *part, QMouseEvent *e);
    void mouseDownStep(short button, short shift, float x, float y);
    void mouseMoveStep(short button, short shift, float x, float y);
    void mouseUpStep(short button, short shift, float x, float y);
    void clickStep();
    void hoverTick();

    QLabel *p = nullptr;
    QLabel *lbl = nullptr;
    QPixmap pc;
    std::array<QPixmap, LookCount> pcChoice;
    QTimer *Timer1 = nullptr;

    int m_look = 0;
    int m_value = 0;
    quint32 m_backColor;
    quint32 m_foreColor;
    QFont m_font;
    int m_hotCell = 1;
    int m_shownCell = -1;
    bool m_buttonHeld = false;
    QWidget *m_pressedPart = nullptr;
};

} // namespace vireo
