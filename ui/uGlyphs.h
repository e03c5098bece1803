// The small pictures on the window's buttons, drawn in code: each is a 16 x 16 normal picture and
// a greyed one for the disabled state.
#pragma once

#include <QIcon>
#include <QImage>

enum class TGlyph {
    OpenFile,      // btnOpen
    UpdateTag,     // btnID3Update
    ReloadTags,    // btnReLoad
    DeleteTag,     // btnID3Kill
    DeleteAll,     // btnDelAllTag
    AddTag,        // btnAddTag
    SelectPicture, // btnSelPic
    EmbedPicture,  // btnInputPic
    ZoomIn,        // btnZoomBig
    ZoomOut,       // btnZoomSmall
};

inline constexpr int kGlyphSize = 16;

// The normal picture.
QImage DrawGlyph(TGlyph glyph);
// The greyed look of a glyph: its shape embossed in grey with a white shadow, the way a disabled
// button shows it.
QImage GreyedGlyph(const QImage& normal);
// Both pictures, normal for QIcon::Normal and greyed for QIcon::Disabled.
QIcon GlyphIcon(TGlyph glyph);
