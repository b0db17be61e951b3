// Renders all check box looks into one PNG: a row per look, a column per cell
// (value x state), each 13 x 13 cell scaled up so the artwork is legible.
#include "CheckBoxArt.h"
#include "XpCheckBox.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

using namespace vireo;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : QStringLiteral("xpcheckbox-looks.png");

    constexpr int scale = 4;
    constexpr int cellPx = CheckBoxArt::CellSize * scale;
    constexpr int gap = 14;
    constexpr int nameWidth = 150;
    constexpr int headerHeight = 62;
    const char *values[] = {"0 unchecked", "1 checked", "2 mixed"};
    const char *states[] = {"normal", "hot", "pressed", "disabled"};

    const int width = nameWidth + CheckBoxArt::CellCount * (cellPx + gap) + gap;
    const int height = headerHeight + CheckBoxArt::LookCount * (cellPx + gap) + gap;
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(QColor(0xEC, 0xE9, 0xD8));

    QPainter painter(&sheet);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::black);

    for (int c = 0; c < CheckBoxArt::CellCount; ++c) {
        const int x = nameWidth + c * (cellPx + gap);
        if (c % 4 == 0)
            painter.drawText(QRect(x, 2, 4 * (cellPx + gap), 18), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::fromLatin1(values[c / 4]));
        painter.drawText(QRect(x, 22, cellPx + gap, 18), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("cell %1").arg(c));
        painter.drawText(QRect(x, 38, cellPx + gap, 18), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(states[c % 4]));
    }
    for (int look = 0; look < CheckBoxArt::LookCount; ++look) {
        const int y = headerHeight + look * (cellPx + gap);
        painter.drawText(QRect(gap, y, nameWidth - gap, cellPx), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1  %2").arg(look).arg(CheckBoxArt::lookName(look)));
        const QPixmap strip = CheckBoxArt::strip(look);
        for (int c = 0; c < CheckBoxArt::CellCount; ++c) {
            const QImage cell = XpCheckBox::cell(strip, c).toImage().scaled(
                cellPx, cellPx, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            painter.drawImage(nameWidth + c * (cellPx + gap), y, cell);
        }
    }
    painter.end();

    if (!sheet.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
