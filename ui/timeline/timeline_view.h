// The Timeline Deck (CTimelineView): the resizable deck that shows the tracks of the project on
// a time axis. It holds the drawing window (CTimelineWindow), the square buttons "Zoom In"
// (command 1026), "Zoom Out" (136) and "Zoom to Project" (137) and a horizontal scroll bar
// (control 1025) measured in whole seconds. It observes the project: rows repaint when items
// change, the view fits the whole project after a project is made or opened and after an undo
// or redo step, and the selection and the preview's source follow the project.
//
// Layout in the client area (cx × cy, b the scroll bar's height): the window at (22, 5), cx −
// 44 by cy − b − 15; the zoom buttons as b × b squares at y = cy − b − 5 from x = 22; the scroll
// bar after them up to cx − 22. The deck is at least as high as its rows need.
//
// GUI thread only; the project must outlive the deck.
#pragma once

#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"
#include "ui/timeline/timeline_geometry.h"
#include "ui/timeline/timeline_host.h"

#include <array>
#include <memory>

class QScrollBar;

namespace zef {
class FProject;
}

namespace zef::ui {

class CTimelineWindow;
class CXButton;

class CTimelineView : public CGUIDialogWithCaption, public ProjectObserver {
    Q_OBJECT
public:
    static constexpr int kZoomIn = 1026;
    static constexpr int kZoomOut = 136;
    static constexpr int kZoomToProject = 137;
    static constexpr int kScrollBar = 1025;

    explicit CTimelineView(FProject& project, QWidget* parent = nullptr);
    ~CTimelineView() override;
    static QSize defaultSize() { return {640, 360}; }

    // What the timeline asks of the editor; none: every request is declined.
    void setHost(std::unique_ptr<TimelineHost> host);
    CTimelineWindow& timelineWindow() const { return *m_window; }
    QScrollBar* scrollBar() const { return m_scroll; }
    CXButton* zoomButton(int command) const;

    void zoomIn();
    void zoomOut();
    void zoomToProject();
    // The window drawn again; with fit the view shows 0 to the project's end (at least 30 s)
    // and the scroll bar goes to 0. The buttons, the scroll bar and the layout follow.
    void resetView(bool fit);
    // Scroll bar position in seconds (the range, page and position follow the view).
    void scrollToPosition(int position);

    // The keyframe commands of the transport on the Clip Deck's current track.
    void goToPreviousKeyframe();
    void toggleKeyframe();
    void goToNextKeyframe();

    // The current-time marker follows the project's current time.
    void updateMarker();

    // ProjectObserver
    void repaintTrackRow(int32_t track) override;
    void repaintRuler() override;
    void refreshTimeline() override { resetView(false); }
    void fitTimeline() override { resetView(true); }
    void setTimelineSelection(ZEFItem* item) override;
    void closeDecksShowing(ZEFItem* item) override;
    void previewShowComposition() override;
    void previewShowClip(ZEFSourceItem* item) override;

protected:
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    // Forwards the window's requests to the host set on the deck.
    class HostLink : public TimelineHost {
    public:
        TimelineHost* host = nullptr;
        int32_t currentTrack() const override { return host ? host->currentTrack() : kLayerA; }
        void setCurrentTrack(int32_t t) override
        {
            if (host) host->setCurrentTrack(t);
        }
        void refreshTrackList(int32_t t) override
        {
            if (host) host->refreshTrackList(t);
        }
        bool previewPlaying() const override { return host && host->previewPlaying(); }
        bool timelineTimeCode() const override { return !host || host->timelineTimeCode(); }
        void showParametersDeck() override
        {
            if (host) host->showParametersDeck();
        }
        void showItemMenu(const QPoint& at) override
        {
            if (host) host->showItemMenu(at);
        }
        void deleteSelectedItems(ZEFItem* item) override
        {
            if (host) host->deleteSelectedItems(item);
        }
        void dropFiles(int32_t t, const std::vector<std::string>& paths) override
        {
            if (host) host->dropFiles(t, paths);
        }
    };

    void placeControls();
    void updateScrollBar();
    CXButton* addZoomButton(const char* name, int command, const char* image);

    FProject& m_project;
    std::unique_ptr<TimelineHost> m_host;
    HostLink m_link;
    CTimelineWindow* m_window = nullptr;
    QScrollBar* m_scroll = nullptr;
    std::array<CXButton*, 3> m_zoom{};
};

} // namespace zef::ui
