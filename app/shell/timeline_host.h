// The Timeline Deck's link to the rest of the editor: the Clip Deck's current track, list,
// item menu, deletion and drops, the VCR Deck's playing state, the Parameters Deck and the
// "TimelineTimeCode" preference.
//
// GUI thread only; made by the main window for its Timeline Deck, which owns it.
#pragma once

#include "ui/timeline/timeline_host.h"

namespace zef::app {

class CMainFrame;
class FMainControl;

class CTimelineLink : public ui::TimelineHost {
public:
    explicit CTimelineLink(CMainFrame& frame) : m_frame(frame) {}

    int32_t currentTrack() const override;
    void setCurrentTrack(int32_t track) override;
    void refreshTrackList(int32_t track) override;
    bool previewPlaying() const override;
    bool timelineTimeCode() const override;
    void showParametersDeck() override;
    void showItemMenu(const QPoint& globalPos) override;
    // The item the timeline selected is deleted through the Clip Deck's list: the list first
    // shows the item's track when it shows another one.
    void deleteSelectedItems(ZEFItem* selected) override;
    void dropFiles(int32_t track, const std::vector<std::string>& paths) override;

private:
    FMainControl& control() const;

    CMainFrame& m_frame;
};

} // namespace zef::app
