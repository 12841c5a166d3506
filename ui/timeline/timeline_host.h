// What the timeline needs from the rest of the editor: the Clip Deck's current track, its list,
// item menu, deletion and file drops, the transport's playing state, the Parameters Deck and
// the "TimelineTimeCode" preference. The application implements it; every call has a harmless
// default, so tests override only what they watch.
#pragma once

#include "model/item.h"

#include <QPoint>

#include <cstdint>
#include <string>
#include <vector>

namespace zef::ui {

class TimelineHost {
public:
    virtual ~TimelineHost() = default;
    // The Clip Deck's current track, and making another one current.
    virtual int32_t currentTrack() const { return kLayerA; }
    virtual void setCurrentTrack(int32_t /*track*/) {}
    // The Clip Deck's list of a track shows the items afresh.
    virtual void refreshTrackList(int32_t /*track*/) {}
    virtual bool previewPlaying() const { return false; }
    // "Edit Preferences" / "TimelineTimeCode": ruler labels as timecode, else as frames.
    virtual bool timelineTimeCode() const { return true; }
    // Brings up the Parameters Deck (which shows what the project selected).
    virtual void showParametersDeck() {}
    // The item menu as a context menu for the project's selected item, at a screen point.
    virtual void showItemMenu(const QPoint& /*globalPos*/) {}
    // "Delete Selected Item(s)" for the item the timeline selected.
    virtual void deleteSelectedItems(ZEFItem* /*selected*/) {}
    // Files dropped on the row of a track (A, B or C).
    virtual void dropFiles(int32_t /*track*/, const std::vector<std::string>& /*paths*/) {}
};

} // namespace zef::ui
