#include "uGlyphArt.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

namespace {

// Every glyph draws on a 16 x 16 grid. One-unit lines lie on half units, so that they cover
// whole pixels at scale 1 and at scale 2 alike.
using TGlyphPainter = void (*)(QPainter& p);

const QColor kInk(0x2b, 0x33, 0x40);

QPen Line(const QColor& colour, qreal width = 1) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The paper tag of the program's icon, with its string hole.
void PaintTag(QPainter& p) {
    QPainterPath tag;
    tag.moveTo(1.5, 5.5);
    tag.lineTo(5.5, 1.5);
    tag.lineTo(11.5, 1.5);
    tag.lineTo(11.5, 11.5);
    tag.lineTo(1.5, 11.5);
    tag.closeSubpath();
    p.setPen(Line(QColor(0x8a, 0x6a, 0x2a)));
    p.setBrush(QColor(0xfb, 0xf0, 0xcf));
    p.drawPath(tag);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8a, 0x6a, 0x2a));
    p.drawEllipse(QPointF(5.5, 5.5), 1.1, 1.1);
    p.setPen(Line(QColor(0xc9, 0xb2, 0x7c)));
    p.drawLine(QPointF(4.5, 8.5), QPointF(9.5, 8.5));
}

// A small mark in the bottom right corner on a white disc, so that it stands off the tag.
void PaintBadge(QPainter& p, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 12), 4, 4);
    p.setBrush(colour);
    p.drawEllipse(QPointF(12, 12), 3.5, 3.5);
}

void PaintOpen(QPainter& p) {
    const QColor edge(0x8a, 0x60, 0x10);
    QPainterPath back;
    back.moveTo(1.5, 13.5);
    back.lineTo(1.5, 2.5);
    back.lineTo(6.5, 2.5);
    back.lineTo(7.5, 4.5);
    back.lineTo(13.5, 4.5);
    back.lineTo(13.5, 13.5);
    back.closeSubpath();
    p.setPen(Line(edge));
    p.setBrush(QColor(0xd9, 0xa2, 0x2e));
    p.drawPath(back);
    // The sheet inside: the MP3 file about to be picked.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 5.5, 8, 5));
    QPainterPath flap;
    flap.moveTo(1.5, 13.5);
    flap.lineTo(3.5, 7.5);
    flap.lineTo(15.5, 7.5);
    flap.lineTo(13.5, 13.5);
    flap.closeSubpath();
    p.setBrush(QColor(0xf7, 0xcf, 0x5a));
    p.drawPath(flap);
}

void PaintUpdate(QPainter& p) {
    // A floppy disk: the tag is written to the file.
    const QColor body(0x2f, 0x5d, 0xa8), edge(0x1b, 0x36, 0x6e);
    QPainterPath disk;
    disk.moveTo(1.5, 1.5);
    disk.lineTo(12.5, 1.5);
    disk.lineTo(14.5, 3.5);
    disk.lineTo(14.5, 14.5);
    disk.lineTo(1.5, 14.5);
    disk.closeSubpath();
    p.setPen(Line(edge));
    p.setBrush(body);
    p.drawPath(disk);
    p.setBrush(QColor(0xd5, 0xdb, 0xe3)); // the shutter
    p.drawRect(QRectF(4.5, 1.5, 7, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(edge);
    p.drawRect(QRectF(8, 2, 2, 3));
    p.setPen(Line(edge));
    p.setBrush(Qt::white); // the label
    p.drawRect(QRectF(3.5, 8.5, 9, 6));
    p.setPen(Line(QColor(0x9a, 0xa8, 0xbe)));
    p.drawLine(QPointF(5, 10.5), QPointF(11, 10.5));
    p.drawLine(QPointF(5, 12.5), QPointF(11, 12.5));
}

void PaintReLoad(QPainter& p) {
    // Two arrows chasing each other round: read the tags again.
    const QColor green(0x23, 0x8a, 0x3a);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(green, 2, Qt::SolidLine, Qt::FlatCap));
    const QRectF ring(3, 3, 10, 10);
    p.drawArc(ring, 100 * 16, 140 * 16);
    p.drawArc(ring, 280 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    auto head = [&](qreal angle, qreal direction) {
        // Arrowhead at the end of an arc, pointing along it (direction: +1 anticlockwise).
        const qreal a = angle * M_PI / 180, r = 5;
        const QPointF tip(8 + r * std::cos(a), 8 - r * std::sin(a));
        const QPointF along(-std::sin(a) * direction, -std::cos(a) * direction);
        const QPointF across(std::cos(a), -std::sin(a));
        const QPointF points[] = {tip + along * 3.2, tip + across * 3, tip - across * 3};
        p.drawPolygon(points, 3);
    };
    head(240, 1);
    head(60, 1);
}

void PaintAddTag(QPainter& p) {
    PaintTag(p);
    PaintBadge(p, QColor(0x23, 0x8a, 0x3a));
    p.setPen(Line(Qt::white, 1.6));
    p.drawLine(QPointF(12, 9.6), QPointF(12, 14.4));
    p.drawLine(QPointF(9.6, 12), QPointF(14.4, 12));
}

void PaintKillTag(QPainter& p) {
    PaintTag(p);
    PaintBadge(p, QColor(0xc8, 0x2a, 0x24));
    p.setPen(Line(Qt::white, 1.6));
    p.drawLine(QPointF(10.3, 10.3), QPointF(13.7, 13.7));
    p.drawLine(QPointF(13.7, 10.3), QPointF(10.3, 13.7));
}

void PaintDelAll(QPainter& p) {
    // A waste bin: the whole tag goes.
    const QColor edge(0x4a, 0x52, 0x60);
    p.setPen(Line(edge));
    p.setBrush(QColor(0xd0, 0xd5, 0xdd));
    QPainterPath bin;
    bin.moveTo(3.5, 4.5);
    bin.lineTo(12.5, 4.5);
    bin.lineTo(11.5, 14.5);
    bin.lineTo(4.5, 14.5);
    bin.closeSubpath();
    p.drawPath(bin);
    p.drawLine(QPointF(6.5, 6.5), QPointF(6.5, 12.5));
    p.drawLine(QPointF(9.5, 6.5), QPointF(9.5, 12.5));
    p.setBrush(QColor(0xc8, 0x2a, 0x24)); // the lid
    p.drawRect(QRectF(1.5, 2.5, 13, 2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(6.5, 2.5), QPointF(6.5, 1.5));
    p.drawLine(QPointF(6.5, 1.5), QPointF(9.5, 1.5));
    p.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 2.5));
}

// A framed picture: sky, sun and a green hill, inside `frame`.
void PaintPicture(QPainter& p, const QRectF& frame) {
    p.setPen(Line(QColor(0x3a, 0x4a, 0x5a)));
    p.setBrush(QColor(0x9c, 0xcc, 0xf0));
    p.drawRect(frame);
    p.save();
    p.setClipRect(frame.adjusted(0.5, 0.5, -0.5, -0.5));
    const qreal w = frame.width(), h = frame.height();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xc5, 0x22));
    p.drawEllipse(QPointF(frame.left() + w * 0.3, frame.top() + h * 0.32), h * 0.15, h * 0.15);
    QPainterPath hill;
    hill.moveTo(frame.left(), frame.bottom());
    hill.lineTo(frame.left(), frame.top() + h * 0.8);
    hill.lineTo(frame.left() + w * 0.45, frame.top() + h * 0.4);
    hill.lineTo(frame.left() + w * 0.7, frame.top() + h * 0.65);
    hill.lineTo(frame.right(), frame.top() + h * 0.45);
    hill.lineTo(frame.right(), frame.bottom());
    hill.closeSubpath();
    p.setBrush(QColor(0x3a, 0x9a, 0x4a));
    p.drawPath(hill);
    p.restore();
}

void PaintSelPic(QPainter& p) {
    PaintPicture(p, QRectF(1.5, 2.5, 13, 11));
}

void PaintInputPic(QPainter& p) {
    // The picture goes into the MP3 file: a picture, an arrow and a sheet with a note.
    const QColor edge(0x3a, 0x4a, 0x5a);
    QPainterPath sheet;
    sheet.moveTo(6.5, 5.5);
    sheet.lineTo(12.5, 5.5);
    sheet.lineTo(15.5, 8.5);
    sheet.lineTo(15.5, 15.5);
    sheet.lineTo(6.5, 15.5);
    sheet.closeSubpath();
    p.setPen(Line(edge));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk); // a quaver
    p.drawEllipse(QPointF(10, 13), 1.5, 1.1);
    p.drawRect(QRectF(11, 8.5, 1, 4.5));
    p.drawRect(QRectF(11, 8.5, 2.5, 1));
    PaintPicture(p, QRectF(0.5, 0.5, 8, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x23, 0x8a, 0x3a));
    const QPointF arrow[] = {{1.5, 9},    {3.5, 9},  {3.5, 11.5}, {5, 11.5},
                             {2.5, 14.5}, {0, 11.5}, {1.5, 11.5}};
    p.drawPolygon(arrow, 7);
}

void PaintLens(QPainter& p) {
    p.setPen(QPen(QColor(0x5a, 0x40, 0x30), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14.3, 14.3));
    p.setPen(Line(kInk, 1.5));
    p.setBrush(QColor(0xdb, 0xee, 0xfc));
    p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
    p.setPen(QPen(kInk, 1.5, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
}

void PaintZoomBig(QPainter& p) {
    PaintLens(p);
    p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
}

void PaintZoomSmall(QPainter& p) {
    PaintLens(p);
}

struct TGlyph {
    const char* name;
    TGlyphPainter paint;
};

const TGlyph kGlyphs[] = {
    {"btnOpen", PaintOpen},           {"btnID3Update", PaintUpdate},  {"btnReLoad", PaintReLoad},
    {"btnAddTag", PaintAddTag},       {"btnID3Kill", PaintKillTag},   {"btnDelAllTag", PaintDelAll},
    {"btnSelPic", PaintSelPic},       {"btnInputPic", PaintInputPic}, {"btnZoomBig", PaintZoomBig},
    {"btnZoomSmall", PaintZoomSmall},
};

TGlyphPainter FindGlyph(const QString& name) {
    for (const TGlyph& g : kGlyphs)
        if (name == QLatin1String(g.name)) return g.paint;
    return nullptr;
}

// The greyed look of a disabled button, as on the classic desktop: the shape in flat greys, with
// a white shadow one pixel down and right, so that it reads as pressed into the button face.
QImage Greyed(const QImage& normal) {
    const int shift = std::max(1, normal.width() / 16);
    QImage shape(normal.size(), QImage::Format_ARGB32);
    shape.fill(Qt::transparent);
    QImage grey = normal.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int a = qAlpha(line[x]);
            const int g = 96 + qGray(line[x]) * 100 / 255; // 96..196, lighter than the ink
            line[x] = qRgba(g, g, g, a);
        }
    }
    QImage white(normal.size(), QImage::Format_ARGB32);
    white.fill(Qt::transparent);
    {
        QPainter p(&white);
        p.drawImage(shift, shift, grey);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(white.rect(), Qt::white);
    }
    QPainter p(&shape);
    p.drawImage(0, 0, white);
    p.drawImage(0, 0, grey);
    p.end();
    return shape.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage DrawAnew(TGlyphPainter paint, QSize pixels, QIcon::Mode mode) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const int side = std::min(pixels.width(), pixels.height());
    if (side <= 0) return image;
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        // A glyph is square: in a box of another shape it is centred.
        p.translate((pixels.width() - side) / 2, (pixels.height() - side) / 2);
        p.scale(side / 16.0, side / 16.0);
        paint(p);
    }
    return mode == QIcon::Disabled ? Greyed(image) : image;
}

// Glyphs once drawn, by glyph, size and look. Filled from the start-up thread too (PrepareGlyphs),
// hence the lock; a few kilobytes a glyph.
class TGlyphCache {
  public:
    static TGlyphCache& Instance() {
        static TGlyphCache cache;
        return cache;
    }

    QImage Draw(TGlyphPainter paint, QSize pixels, QIcon::Mode mode) {
        const TKey key{paint, pixels.width(), pixels.height(), mode == QIcon::Disabled};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = images_.find(key);
            if (found != images_.end()) return found->second;
        }
        QImage image = DrawAnew(paint, pixels, mode);
        std::lock_guard<std::mutex> lock(mutex_);
        return images_.emplace(key, image).first->second;
    }

  private:
    using TKey = std::tuple<TGlyphPainter, int, int, bool>;
    std::mutex mutex_;
    std::map<TKey, QImage> images_;
};

QImage Draw(TGlyphPainter paint, QSize pixels, QIcon::Mode mode) {
    return TGlyphCache::Instance().Draw(paint, pixels, mode);
}

// Draws an icon when a size is first asked for: every size is drawn for itself, and the large
// ones, which most runs never show, cost nothing until then.
class TDrawnIconEngine : public QIconEngine {
  public:
    TDrawnIconEngine(TIconDraw draw, QList<QSize> sizes, QString key, bool square)
        : draw_(std::move(draw)), sizes_(std::move(sizes)), key_(std::move(key)), square_(square) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QImage image = draw_(rect.size() * dpr, mode);
        image.setDevicePixelRatio(dpr);
        painter->drawImage(rect, image);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (!square_) return size;
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return QPixmap::fromImage(draw_(size, mode));
    }

    // `size` is in device pixels here: a scale-2 screen gets an icon drawn at twice the pixels.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = QPixmap::fromImage(draw_(size, mode));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    // The sizes a window system is offered; any other is drawn when asked for.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }

    QString key() const override { return key_; }
    QIconEngine* clone() const override {
        return new TDrawnIconEngine(draw_, sizes_, key_, square_);
    }

  private:
    TIconDraw draw_;
    QList<QSize> sizes_;
    QString key_;
    bool square_;
};

} // namespace

QIcon DrawnIcon(TIconDraw draw, QList<QSize> sizes, QString key, bool square) {
    return QIcon(new TDrawnIconEngine(std::move(draw), std::move(sizes), std::move(key), square));
}

QStringList GlyphNames() {
    QStringList names;
    for (const TGlyph& g : kGlyphs)
        names << QLatin1String(g.name);
    return names;
}

QIcon GlyphIcon(const QString& name) {
    TGlyphPainter paint = FindGlyph(name);
    if (!paint) return QIcon();
    // Drawn anew at every size, so any size is available.
    return DrawnIcon([paint](QSize pixels, QIcon::Mode mode) { return Draw(paint, pixels, mode); },
                     {QSize(16, 16), QSize(32, 32)}, QStringLiteral("QuillonGlyph"), false);
}

void PrepareGlyphs(int pixels) {
    for (const TGlyph& g : kGlyphs)
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
            Draw(g.paint, QSize(pixels, pixels), mode);
}

QImage DrawGlyph(const QString& name, int pixels, QIcon::Mode mode) {
    TGlyphPainter paint = FindGlyph(name);
    return paint ? Draw(paint, QSize(pixels, pixels), mode) : QImage();
}
