// The glyphs of the window's buttons, drawn in code on a 16 x 16 grid: sharp at any scale factor
// (each size is drawn for itself, never scaled from a bitmap) and with a greyed look of their own
// when the button is disabled.
#pragma once

#include <QIcon>
#include <QImage>
#include <QStringList>

#include <functional>

// An icon drawn in code: `draw` makes the image for a size in device pixels and a look; `sizes`
// are offered to the window system. A `square` icon is as large as the shorter side of its box.
// The window's glyphs and the program's icon are drawn through it.
using TIconDraw = std::function<QImage(QSize pixels, QIcon::Mode mode)>;
QIcon DrawnIcon(TIconDraw draw, QList<QSize> sizes, QString key, bool square);

// The buttons that show a glyph, by control name.
QStringList GlyphNames();

// The glyph of the button `name` (e.g. "btnOpen"); a null icon for a name without one.
QIcon GlyphIcon(const QString& name);

// Draws every glyph at `pixels` device pixels square, normal and disabled, ahead of the first
// paint; safe to call from another thread. Each glyph is drawn once per size and look anyway.
void PrepareGlyphs(int pixels);

// The glyph drawn into an image of `pixels` device pixels square, as GlyphIcon's pixmaps are.
// A null image for a name without one.
QImage DrawGlyph(const QString& name, int pixels, QIcon::Mode mode = QIcon::Normal);
