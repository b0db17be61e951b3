#include "CheckBoxArt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <array>
#include <stdexcept>

namespace vireo::CheckBoxArt {

namespace {

enum class Box { Square, Rounded, Round, Sunken };
enum class Mark { Tick, Cross, Dot, Block, Bold };
enum class Mixed { Square, Dash, Diamond };

struct Look
{
    const char *name;
    Box box;
    Mark mark;
    Mixed mixed;
    QRgb border;
    QRgb fillTop;
    QRgb fillBottom;
    QRgb ink;       // check mark and mixed glyph
    QRgb hot;       // hover ring
    QRgb pressTop;
    QRgb pressBottom;
};

const std::array<Look, LookCount> kLooks = {{
    {"Luna blue", Box::Square, Mark::Tick, Mixed::Square,
     0xFF1C5180, 0xFFDCDCD7, 0xFFFFFFFF, 0xFF21A121, 0xFFF8B330, 0xFFB0B0A7, 0xFFE3E1D6},
    {"Olive", Box::Square, Mark::Tick, Mixed::Square,
     0xFF5E7A2E, 0xFFE6EAD5, 0xFFFFFFFF, 0xFF3B6E17, 0xFFE8A33D, 0xFFB9C29A, 0xFFDFE5C9},
    {"Silver", Box::Square, Mark::Tick, Mixed::Square,
     0xFF6F6F80, 0xFFE4E4EC, 0xFFFFFFFF, 0xFF3C3C58, 0xFF9FB3E0, 0xFFB4B4C4, 0xFFE0E0E8},
    {"Classic", Box::Sunken, Mark::Bold, Mixed::Square,
     0xFF808080, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000, 0xFF0A246A, 0xFFD4D0C8, 0xFFD4D0C8},
    {"Ocean cross", Box::Square, Mark::Cross, Mixed::Dash,
     0xFF1F6FB2, 0xFFE3F0FB, 0xFFFFFFFF, 0xFF0B4F8A, 0xFF47B3FF, 0xFFA8CCEB, 0xFFD6E8F7},
    {"Rose", Box::Rounded, Mark::Tick, Mixed::Dash,
     0xFFB0304A, 0xFFFBE3E8, 0xFFFFFFFF, 0xFFC2185B, 0xFFFF8FA8, 0xFFE7AAB7, 0xFFF6D5DC},
    {"Violet dot", Box::Rounded, Mark::Dot, Mixed::Diamond,
     0xFF5B3A8E, 0xFFEDE5F7, 0xFFFFFFFF, 0xFF6A1B9A, 0xFFC08BFF, 0xFFC5B2E0, 0xFFE6DCF2},
    {"Night", Box::Square, Mark::Tick, Mixed::Square,
     0xFF101418, 0xFF2B3038, 0xFF454C57, 0xFF35E0E6, 0xFF35E0E6, 0xFF15181C, 0xFF262B31},
    {"Teal round", Box::Round, Mark::Dot, Mixed::Dash,
     0xFF00796B, 0xFFD8F0EC, 0xFFFFFFFF, 0xFF00695C, 0xFF4DD0C0, 0xFF9ED6CD, 0xFFCDEBE6},
    {"Amber", Box::Rounded, Mark::Bold, Mixed::Square,
     0xFFB85C00, 0xFFFFF0D9, 0xFFFFFFFF, 0xFFD35400, 0xFFFFB74D, 0xFFF0C58E, 0xFFFBE3C2},
    {"Candy cross", Box::Rounded, Mark::Cross, Mixed::Diamond,
     0xFFD81B60, 0xFFFFE4F0, 0xFFFFFFFF, 0xFFAD1457, 0xFF80DEEA, 0xFFF2A7C6, 0xFFFCD5E6},
    {"Graphite", Box::Square, Mark::Block, Mixed::Dash,
     0xFF404040, 0xFFF0F0F0, 0xFFFFFFFF, 0xFF202020, 0xFF8C8C8C, 0xFFC0C0C0, 0xFFE0E0E0},
    {"Gold", Box::Sunken, Mark::Block, Mixed::Diamond,
     0xFF8D6E00, 0xFFFFF4C2, 0xFFFFFDF0, 0xFF8D6E00, 0xFFFFD54F, 0xFFE9D48A, 0xFFF7EBB9},
    {"Meadow", Box::Round, Mark::Tick, Mixed::Square,
     0xFF2E7D32, 0xFFDFF2D8, 0xFFFFFFFF, 0xFF1B5E20, 0xFFFFEB3B, 0xFFA5D6A7, 0xFFD3EDD4},
}};

constexpr QRgb kDisabledBorder = 0xFFCAC8BB;
constexpr QRgb kDisabledFill = 0xFFF4F3EE;
constexpr QRgb kDisabledInk = 0xFFB5B2A2;

QPainterPath boxPath(Box box, const QRectF &r)
{
    QPainterPath path;
    switch (box) {
    case Box::Round:
        path.addEllipse(r);
        break;
    case Box::Rounded:
        path.addRoundedRect(r, 3, 3);
        break;
    default:
        path.addRect(r);
        break;
    }
    return path;
}

void drawMark(QPainter &p, Mark mark, const QColor &ink)
{
    p.setBrush(Qt::NoBrush);
    QPen pen(ink, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    switch (mark) {
    case Mark::Tick:
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(3.5, 6.5), QPointF(5.5, 8.5), QPointF(9.5, 4.0)}));
        break;
    case Mark::Bold:
        pen.setWidthF(2.6);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(3.2, 6.0), QPointF(5.5, 8.8), QPointF(9.8, 3.6)}));
        break;
    case Mark::Cross:
        p.setPen(pen);
        p.drawLine(QPointF(4, 4), QPointF(9, 9));
        p.drawLine(QPointF(9, 4), QPointF(4, 9));
        break;
    case Mark::Dot:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(6.5, 6.5), 2.6, 2.6);
        break;
    case Mark::Block:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(3.5, 3.5, 6, 6));
        break;
    }
}

void drawMixed(QPainter &p, Mixed mixed, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    switch (mixed) {
    case Mixed::Square:
        p.drawRect(QRectF(4, 4, 5, 5));
        break;
    case Mixed::Dash:
        p.drawRect(QRectF(3.5, 5.5, 6, 2));
        break;
    case Mixed::Diamond:
        p.drawPolygon(QPolygonF({QPointF(6.5, 3.5), QPointF(9.5, 6.5), QPointF(6.5, 9.5),
                                 QPointF(3.5, 6.5)}));
        break;
    }
}

void drawCell(QPainter &p, const Look &look, int value, int state)
{
    const bool disabled = state == 3;
    const QRectF outer(0.5, 0.5, 12, 12);
    const QRectF inner = outer.adjusted(1, 1, -1, -1);

    QColor top(look.fillTop), bottom(look.fillBottom);
    if (state == 2) {
        top = QColor(look.pressTop);
        bottom = QColor(look.pressBottom);
    } else if (disabled) {
        top = bottom = QColor(kDisabledFill);
    }
    QLinearGradient fill(0, 0, 13, 13);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);

    p.setPen(QPen(QColor(disabled ? kDisabledBorder : look.border), 1));
    p.setBrush(fill);
    p.drawPath(boxPath(look.box, outer));

    if (look.box == Box::Sunken && !disabled) {
        // Bevel: dark top-left, light bottom-right inside the frame.
        p.setPen(QColor(0xFF404040));
        p.drawLine(QPointF(1.5, 1.5), QPointF(10.5, 1.5));
        p.drawLine(QPointF(1.5, 1.5), QPointF(1.5, 10.5));
        p.setPen(QColor(0xFFE8E8E8));
        p.drawLine(QPointF(2.5, 11.5), QPointF(11.5, 11.5));
        p.drawLine(QPointF(11.5, 2.5), QPointF(11.5, 11.5));
    }
    if (state == 1) {
        p.setPen(QPen(QColor(look.hot), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(boxPath(look.box, inner.adjusted(0.25, 0.25, -0.25, -0.25)));
    }

    const QColor ink(disabled ? kDisabledInk : look.ink);
    if (value == 1)
        drawMark(p, look.mark, ink);
    else if (value == 2)
        drawMixed(p, look.mixed, ink);
}

QPixmap drawStrip(int look)
{
    QImage image(CellSize * CellCount, CellSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int cell = 0; cell < CellCount; ++cell) {
        p.save();
        p.translate(cell * CellSize, 0);
        p.setClipRect(0, 0, CellSize, CellSize);
        drawCell(p, kLooks[look], cell / 4, cell % 4);
        p.restore();
    }
    p.end();
    return QPixmap::fromImage(image);
}

void checkLook(int look)
{
    if (look < 0 || look >= LookCount)
        throw std::out_of_range("check box look " + std::to_string(look) + " is not in 0..13");
}

} // namespace

QPixmap strip(int look)
{
    checkLook(look);
    static std::array<QPixmap, LookCount> cache;
    if (cache[look].isNull())
        cache[look] = drawStrip(look);
    return cache[look];
}

QString lookName(int look)
{
    checkLook(look);
    return QString::fromLatin1(kLooks[look].name);
}

} // namespace vireo::CheckBoxArt
