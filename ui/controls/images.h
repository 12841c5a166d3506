// The controls' pictures: loaded from the artwork built into the program, with the colour
// mappings the self-drawn controls use and magenta (255, 0, 255) made transparent.
//
// GUI thread only. Images are cached by name and mapping.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

namespace zef::ui {

enum class ImageMapping {
    None,     // as drawn
    Face,     // a button's normal and checked images: every grey one step darker
    Disabled, // a disabled image derived from the normal one: two flat greys
};

// The artwork piece `name` (its file name without ".png"), mapped, with magenta transparent.
// A null pixmap when there is no such piece.
QPixmap artworkPixmap(const QString& name, ImageMapping mapping = ImageMapping::None);

// The same as an image, for drawing that needs the pixels.
QImage artworkImage(const QString& name, ImageMapping mapping = ImageMapping::None);

// The mappings themselves, on any 32-bit image (exact colours only).
QImage mapColours(const QImage& image, ImageMapping mapping);
// Magenta pixels become transparent.
QImage keyMagenta(const QImage& image);

} // namespace zef::ui
