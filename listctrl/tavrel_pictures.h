// The clip strip's own pictures: the row icons, the background of an empty slot and the
// marker of a column with a filter. They are drawn once with QPainter at first use, so the
// library carries no files; magenta (255, 0, 255) is their transparent colour, as for every
// picture of the control family, and comes out transparent.
//
// GUI thread only.
#pragma once

#include <QImage>

namespace tavrel {

// Entry i of the row-icon table (none, icons 1 to 5, none, none); a null image for "none"
// and for entries past the table.
const QImage& rowIcon(int entry);
// Stretched over an empty slot.
const QImage& emptySlotPicture();
// OR-ed onto the top-left corner of a filtered column's thumbnail area.
const QImage& filterMarker();

} // namespace tavrel
