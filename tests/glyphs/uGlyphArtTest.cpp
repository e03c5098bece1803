#include "uGlyphArt.h"

#include <QPainter>
#include <QtTest>

#include <thread>

namespace {

// The share of pixels a drawing covers (alpha above half).
double Coverage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            covered += qAlpha(argb.pixel(x, y)) > 127;
    return double(covered) / (argb.width() * argb.height());
}

int MaxSaturation(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int most = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = QColor::fromRgba(argb.pixel(x, y));
            if (c.alpha() > 127) most = std::max(most, c.hsvSaturation());
        }
    return most;
}

// The device pixels of a pixmap, to compare with DrawGlyph's drawings.
QImage Image(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1.0);
    return image;
}

// Every pixel that `inner` covers, `outer` covers too.
bool CoversAll(const QImage& outer, const QImage& inner) {
    for (int y = 0; y < inner.height(); ++y)
        for (int x = 0; x < inner.width(); ++x)
            if (qAlpha(inner.pixel(x, y)) > 127 && qAlpha(outer.pixel(x, y)) <= 127) return false;
    return true;
}

} // namespace

class TGlyphsTest : public QObject {
    Q_OBJECT
  private slots:
    void everyGlyphButtonHasADrawing();
    void drawnAnewAtScaleTwo();
    void disabledLookIsGreyAndKeepsTheShape();
    void glyphsDifferFromEachOther();
    void preparedOnAnotherThreadWhileDrawnHere();
};

void TGlyphsTest::everyGlyphButtonHasADrawing() {
    // The buttons of the window that show a glyph; the others show text only.
    const QStringList buttons = {"btnOpen",    "btnID3Update", "btnReLoad", "btnAddTag",
                                 "btnID3Kill", "btnDelAllTag", "btnSelPic", "btnInputPic",
                                 "btnZoomBig", "btnZoomSmall"};
    QCOMPARE(GlyphNames(), buttons);
    for (const QString& name : buttons) {
        const QIcon icon = GlyphIcon(name);
        QVERIFY2(!icon.isNull(), qPrintable(name));
        const QPixmap normal = icon.pixmap(QSize(16, 16), 1.0);
        QCOMPARE(normal.size(), QSize(16, 16));
        const double coverage = Coverage(normal.toImage());
        QVERIFY2(coverage > 0.2 && coverage < 0.95, qPrintable(name));
        // The corners stay clear: a glyph sits on the button face, it does not fill it.
        QVERIFY2(Coverage(normal.toImage().copy(15, 0, 1, 1)) == 0 ||
                     Coverage(normal.toImage().copy(0, 15, 1, 1)) == 0,
                 qPrintable(name));
    }
    QVERIFY(GlyphIcon("btnShowID3v1Tag").isNull());
    QVERIFY(GlyphIcon("").isNull());
    QVERIFY(DrawGlyph("sg", 16).isNull());
}

void TGlyphsTest::drawnAnewAtScaleTwo() {
    for (const QString& name : GlyphNames()) {
        const QIcon icon = GlyphIcon(name);
        const QPixmap one = icon.pixmap(QSize(16, 16), 1.0);
        const QPixmap two = icon.pixmap(QSize(16, 16), 2.0);
        // Twice the pixels, shown at the same size on the screen.
        QCOMPARE(two.size(), QSize(32, 32));
        QCOMPARE(two.devicePixelRatio(), 2.0);
        QCOMPARE(Image(two), DrawGlyph(name, 32));
        // Not the 16-pixel drawing blown up: that is what looks blurred at scale 2.
        QVERIFY2(Image(two) != Image(one).scaled(32, 32), qPrintable(name));
        QVERIFY2(Image(two) !=
                     Image(one).scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                 qPrintable(name));
        QVERIFY(std::abs(Coverage(two.toImage()) - Coverage(one.toImage())) < 0.1);

        // Painting the icon onto a scale-2 surface, as a button does, draws it at 32 pixels too.
        QImage surface(32, 32, QImage::Format_ARGB32_Premultiplied);
        surface.setDevicePixelRatio(2.0);
        surface.fill(Qt::transparent);
        {
            QPainter p(&surface);
            icon.paint(&p, QRect(0, 0, 16, 16));
        }
        surface.setDevicePixelRatio(1.0);
        QCOMPARE(surface, DrawGlyph(name, 32));
    }
}

void TGlyphsTest::disabledLookIsGreyAndKeepsTheShape() {
    for (const QString& name : GlyphNames()) {
        const QIcon icon = GlyphIcon(name);
        for (qreal scale : {1.0, 2.0}) {
            const QImage normal = Image(icon.pixmap(QSize(16, 16), scale, QIcon::Normal));
            const QImage disabled = Image(icon.pixmap(QSize(16, 16), scale, QIcon::Disabled));
            QCOMPARE(disabled.size(), normal.size());
            QVERIFY2(disabled != normal, qPrintable(name));
            // Colour tells an enabled button from a disabled one.
            QVERIFY2(MaxSaturation(normal) > 100, qPrintable(name));
            QCOMPARE(MaxSaturation(disabled), 0);
            // Still the same picture: it covers what the normal one covers, plus its shadow.
            QVERIFY2(CoversAll(disabled, normal), qPrintable(name));
            QVERIFY2(Coverage(disabled) < Coverage(normal) * 2, qPrintable(name));
            // The active and selected looks are the normal one.
            QCOMPARE(Image(icon.pixmap(QSize(16, 16), scale, QIcon::Active)), normal);
        }
    }
}

void TGlyphsTest::glyphsDifferFromEachOther() {
    const QStringList names = GlyphNames();
    for (int i = 0; i < names.size(); ++i)
        for (int j = i + 1; j < names.size(); ++j)
            QVERIFY2(DrawGlyph(names[i], 16) != DrawGlyph(names[j], 16),
                     qPrintable(names[i] + " " + names[j]));
}

// The start-up thread draws ahead while the window may already ask for the same glyphs: each
// size and look is kept apart, and both sides get whole drawings.
void TGlyphsTest::preparedOnAnotherThreadWhileDrawnHere() {
    const int size = 24; // drawn by no other case
    std::thread ahead([] { PrepareGlyphs(size); });
    QList<QImage> normal, disabled;
    for (const QString& name : GlyphNames()) {
        normal << DrawGlyph(name, size);
        disabled << DrawGlyph(name, size, QIcon::Disabled);
    }
    ahead.join();
    const QStringList names = GlyphNames();
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(normal[i].size(), QSize(size, size));
        QVERIFY2(MaxSaturation(normal[i]) > 0, qPrintable(names[i]));
        QCOMPARE(MaxSaturation(disabled[i]), 0);
        QVERIFY2(CoversAll(disabled[i], normal[i]), qPrintable(names[i]));
        QCOMPARE(DrawGlyph(names[i], size), normal[i]);
        QCOMPARE(DrawGlyph(names[i], size, QIcon::Disabled), disabled[i]);
        QCOMPARE(DrawGlyph(names[i], size + 1).size(), QSize(size + 1, size + 1));
    }
}

QTEST_MAIN(TGlyphsTest)
#include "uGlyphArtTest.moc"
