// What the timeline window paints, with a QPainter on any paint device: the deck background
// and frame, the ruler with its marks, labels and render-range bar, the transition row, the
// track rows with their items (shapes, film perforations, thumbnails, icons, names) and
// keyframes, and the current-time marker. Positions come from TimelineGeometry.
//
// Thumbnails are the items' own pictures; painting never opens or decodes media.
//
// GUI thread only (fonts and pixmaps).
#pragma once

#include "ui/timeline/timeline_geometry.h"

#include <QColor>
#include <QFont>
#include <QPixmap>

class QPainter;

namespace zef {
class FProject;
class ZEFItem;
} // namespace zef

namespace zef::ui {

// What a paint shows besides the project.
struct TimelineScene {
    const ZEFItem* selected = nullptr;   // the project's selected item
    bool previewShowsComposition = true; // else a single clip
    int32_t currentTrack = 0;            // the Clip Deck's
    bool timecode = true;                // ruler labels as timecode, else as frames
};

// The outline of a track's items: bright, or dim.
QColor trackColour(int32_t track, bool bright);
// Whether an item is drawn bright: only the selected one while the preview shows a single
// clip; with a selection and the composition shown, or with none and the Clip Deck on the
// gallery or the title track, the items of enabled tracks; otherwise all.
bool itemBright(const ZEFItem& item, const FProject& project, const TimelineScene& scene);
// Whether the current-time marker is drawn at all (in view; not while the Clip Deck shows the
// gallery and the preview a single clip).
bool markerShown(const TimelineGeometry& g, int64_t t, const TimelineScene& scene);

class TimelinePainter {
public:
    TimelinePainter();

    // Everything but the marker, over the whole client rectangle.
    void paint(QPainter& p, const TimelineGeometry& g, const FProject& project,
               const TimelineScene& scene) const;
    // The marker: a 3-pixel white bar with a red line in its middle.
    static void paintMarker(QPainter& p, const TimelineGeometry& g, int64_t t);

    // The width of "00:00:00" in the ruler font (the label spacing's measure).
    int32_t labelWidth() const { return m_labelWidth; }
    const QFont& nameFont() const { return m_nameFont; }

private:
    void paintRuler(QPainter& p, const TimelineGeometry& g, const FProject& project,
                    const TimelineScene& scene) const;
    void paintTransitions(QPainter& p, const TimelineGeometry& g, const FProject& project,
                          const TimelineScene& scene) const;
    void paintTrack(QPainter& p, const TimelineGeometry& g, const FProject& project,
                    const TimelineScene& scene, int32_t track) const;
    void paintItem(QPainter& p, const TimelineGeometry& g, const ZEFItem& item,
                   const ItemShape& shape, bool bright, bool selected) const;

    QFont m_nameFont;
    QFont m_rulerFont;
    int32_t m_labelWidth = 0;
    int32_t m_nameHeight = 0;
    int32_t m_rulerAscent = 0;
    QPixmap m_background, m_rows, m_picture, m_pictureFiltered, m_sound, m_invalid;
};

} // namespace zef::ui
