// The editor's pictures, drawn as vectors with QPainter: caption strips, deck backgrounds,
// caption buttons, the main bar's button images and the program icon. The build renders each
// piece once to a PNG (tools/artwork) that the controls load from their resources; nothing
// here runs in the editor itself.
//
// Button images follow the controls' convention: magenta (255, 0, 255) marks transparent
// pixels, and the greys white, 192, 128 and 64 are the ones the buttons re-map for their
// normal, checked and disabled faces. Pieces marked withAlpha keep a real alpha channel
// instead (the program icon).
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

namespace zef::ui {

struct ArtworkPiece {
    QString name; // the file name without ".png"
    int width = 0;
    int height = 0;
    bool withAlpha = false;
    std::function<void(class QPainter&, int width, int height)> paint;
};

// Every piece, in a fixed order.
const std::vector<ArtworkPiece>& artworkPieces();

// Draws one piece into a new image: antialiased vector drawing over a transparent ground,
// then, unless the piece keeps its alpha, every pixel that is less than half covered becomes
// magenta and the rest opaque, so that keyed edges show no magenta fringe.
QImage renderArtwork(const ArtworkPiece& piece);

} // namespace zef::ui
