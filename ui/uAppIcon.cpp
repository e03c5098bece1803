#include "uAppIcon.h"

#include "uGlyphArt.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0); // drawn on a 64 x 64 grid

    // A rounded tile in ink blue.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2f, 0x5d, 0xa8));
    tile.setColorAt(1, QColor(0x1b, 0x36, 0x6e));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // A paper tag with its string hole: the file's tag.
    QPainterPath tag;
    tag.moveTo(10, 22);
    tag.lineTo(22, 10);
    tag.lineTo(46, 10);
    tag.lineTo(46, 54);
    tag.lineTo(10, 54);
    tag.closeSubpath();
    p.setBrush(QColor(0xfb, 0xf4, 0xe2));
    p.drawPath(tag);
    p.setBrush(QColor(0x1b, 0x36, 0x6e));
    p.drawEllipse(QPointF(19, 21), 3, 3);

    // A music note on the tag.
    p.setBrush(QColor(0xc0, 0x39, 0x2b));
    p.drawEllipse(QRectF(19, 38, 10, 8));
    p.drawRect(QRectF(27, 20, 3, 22));
    QPainterPath flag;
    flag.moveTo(30, 20);
    flag.cubicTo(36, 22, 38, 26, 36, 32);
    flag.cubicTo(35, 28, 33, 26, 30, 26);
    flag.closeSubpath();
    p.drawPath(flag);

    // A quill crossing the corner: the editor.
    QPainterPath quill;
    quill.moveTo(58, 6);
    quill.cubicTo(50, 10, 42, 20, 38, 34);
    quill.lineTo(41, 34);
    quill.cubicTo(46, 22, 52, 14, 58, 6);
    p.setBrush(QColor(0xf5, 0xc5, 0x42));
    p.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 0.8));
    p.drawPath(quill);
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(39, 34), QPointF(36.5, 40));
    return image;
}

QIcon AppIcon() {
    return DrawnIcon(
        [](QSize pixels, QIcon::Mode mode) {
            const int side = std::min(pixels.width(), pixels.height());
            if (side <= 0) return QImage();
            const QImage drawn = DrawAppIcon(side);
            if (mode != QIcon::Disabled) return drawn;
            QStyleOption option;
            return QApplication::style()
                ->generatedIconPixmap(mode, QPixmap::fromImage(drawn), &option)
                .toImage();
        },
        {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)},
        QStringLiteral("QuillonAppIcon"), true);
}
