// The VCR Deck's button pictures and the Preview Deck's corner marks (see artwork.h).
#pragma once

#include "ui/artwork/artwork.h"

#include <vector>

namespace zef::ui {

// Appends the pieces "vcr-…" (16 × 16 transport, edit-point, keyframe and option glyphs) and
// "mark-crop", "mark-clip", "mark-key", "mark-tween" (the four looks of the corner marks).
void appendVcrArtwork(std::vector<ArtworkPiece>& pieces);

} // namespace zef::ui
