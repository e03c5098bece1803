#include "uGlyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kOutline(40, 40, 40);

void DrawMagnifier(QPainter& p, bool plus) {
    p.setPen(QPen(kOutline, 1.6));
    p.setBrush(QColor(215, 235, 255));
    p.drawEllipse(QPointF(6.5, 6.5), 4.8, 4.8);
    p.setPen(QPen(QColor(120, 70, 20), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.2, 10.2), QPointF(14.2, 14.2));
    p.setPen(QPen(QColor(0, 0, 160), 1.6));
    p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
    if (plus) p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
}

void DrawPictureFrame(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(150, 200, 255));
    p.drawRect(r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 210, 0));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.7, r.top() + r.height() * 0.32), 1.8, 1.8);
    QPainterPath hill;
    hill.moveTo(r.left() + 0.5, r.bottom() - 0.5);
    hill.lineTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.45);
    hill.lineTo(r.left() + r.width() * 0.6, r.bottom() - r.height() * 0.3);
    hill.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.6);
    hill.lineTo(r.right() - 0.5, r.bottom() - 0.5);
    hill.closeSubpath();
    p.setBrush(QColor(40, 150, 40));
    p.drawPath(hill);
}

void DrawCross(QPainter& p, const QPointF& centre, double half, double width) {
    p.setPen(QPen(QColor(200, 0, 0), width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
    p.drawLine(centre + QPointF(-half, half), centre + QPointF(half, -half));
}

void DrawLines(QPainter& p, double top, int count) {
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, top - 2, 10, count * 3 + 2));
    p.setPen(QPen(QColor(0, 0, 128), 1));
    for (int i = 0; i < count; ++i)
        p.drawLine(QPointF(3, top + i * 3 + 0.5), QPointF(10, top + i * 3 + 0.5));
}

} // namespace

QImage DrawGlyph(TGlyph glyph) {
    QImage image(kGlyphSize, kGlyphSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    switch (glyph) {
    case TGlyph::OpenFile: {
        // An open folder with a note in front.
        p.setPen(QPen(QColor(120, 90, 0), 1));
        p.setBrush(QColor(230, 190, 60));
        p.drawRect(QRectF(1.5, 3.5, 12, 10));
        p.setBrush(QColor(255, 225, 110));
        QPainterPath flap;
        flap.moveTo(1.5, 13.5);
        flap.lineTo(4, 7.5);
        flap.lineTo(15.5, 7.5);
        flap.lineTo(13.5, 13.5);
        flap.closeSubpath();
        p.drawPath(flap);
        p.setPen(QPen(QColor(0, 0, 140), 1.2));
        p.drawLine(QPointF(9.5, 5), QPointF(9.5, 11));
        p.setBrush(QColor(0, 0, 140));
        p.drawEllipse(QPointF(8.2, 11.2), 1.5, 1.2);
        break;
    }
    case TGlyph::UpdateTag: {
        DrawLines(p, 3.5, 4);
        p.setPen(QPen(QColor(0, 140, 0), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(7, 10.5), QPointF(10, 13.5), QPointF(15, 6.5)}));
        break;
    }
    case TGlyph::ReloadTags: {
        p.setPen(QPen(QColor(0, 90, 200), 2, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 290 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 90, 200));
        p.drawPolygon(QPolygonF({QPointF(6, 0.5), QPointF(10.5, 3), QPointF(6, 6.2)}));
        break;
    }
    case TGlyph::DeleteTag: {
        DrawLines(p, 3.5, 4);
        DrawCross(p, QPointF(11.5, 11.5), 3, 2.2);
        break;
    }
    case TGlyph::DeleteAll: {
        // A waste bin with a cross.
        p.setPen(QPen(QColor(70, 70, 70), 1));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(3.5, 4.5, 9, 10));
        p.drawRect(QRectF(2.5, 2.5, 11, 2));
        p.drawRect(QRectF(6.5, 1, 3, 1.5));
        DrawCross(p, QPointF(8, 9.5), 2.6, 2);
        break;
    }
    case TGlyph::AddTag: {
        DrawLines(p, 3.5, 4);
        p.setPen(QPen(QColor(0, 140, 0), 2.4, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(11.5, 7.5), QPointF(11.5, 15.5));
        p.drawLine(QPointF(7.5, 11.5), QPointF(15.5, 11.5));
        break;
    }
    case TGlyph::SelectPicture:
        DrawPictureFrame(p, QRectF(0.5, 2.5, 15, 11));
        break;
    case TGlyph::EmbedPicture: {
        DrawPictureFrame(p, QRectF(0.5, 0.5, 11, 9));
        // Arrow down into the file.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 0, 0));
        p.drawPolygon(QPolygonF({QPointF(10, 8), QPointF(14, 8), QPointF(14, 11), QPointF(15.8, 11),
                                 QPointF(12, 15.5), QPointF(8.2, 11), QPointF(10, 11)}));
        break;
    }
    case TGlyph::ZoomIn:
        DrawMagnifier(p, true);
        break;
    case TGlyph::ZoomOut:
        DrawMagnifier(p, false);
        break;
    }
    return image;
}

QImage GreyedGlyph(const QImage& normal) {
    const QImage source = normal.convertToFormat(QImage::Format_ARGB32);
    QImage shape(source.size(), QImage::Format_ARGB32);
    shape.fill(Qt::transparent);
    // Every visible pixel that is not nearly white belongs to the shape.
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const QRgb c = source.pixel(x, y);
            if (qAlpha(c) < 96 || qGray(c) > 220) continue;
            shape.setPixel(x, y, qRgba(0, 0, 0, 255));
        }
    QImage greyed(source.size(), QImage::Format_ARGB32);
    greyed.fill(Qt::transparent);
    for (int y = 0; y < shape.height(); ++y)
        for (int x = 0; x < shape.width(); ++x) {
            if (qAlpha(shape.pixel(x, y)) == 0) continue;
            if (x + 1 < greyed.width() && y + 1 < greyed.height() &&
                qAlpha(greyed.pixel(x + 1, y + 1)) == 0)
                greyed.setPixel(x + 1, y + 1, qRgba(255, 255, 255, 255));
            greyed.setPixel(x, y, qRgba(128, 128, 128, 255));
        }
    return greyed;
}

QIcon GlyphIcon(TGlyph glyph) {
    const QImage normal = DrawGlyph(glyph);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(GreyedGlyph(normal)), QIcon::Disabled);
    return icon;
}
