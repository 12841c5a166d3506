// The VCR Deck (CPreviewPanel): the transport of the preview. It keeps the current time of the
// preview (the project's preview position), which the editing commands and the timeline use,
// and moves it on request: to the start or end, by frames, by ticks, to edit points. While
// playing, the current time runs at normal speed up to the end of the project.
//
// GUI thread only; the project must outlive the deck.
#pragma once

#include "model/edit_time.h"
#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"

#include <QElapsedTimer>
#include <QTimer>

class QLabel;

namespace zef {
class FProject;
}

namespace zef::ui {

class CPreviewPanel : public CGUIDialogWithCaption, public ProjectObserver {
    Q_OBJECT
public:
    explicit CPreviewPanel(FProject& project, QWidget* parent = nullptr);
    ~CPreviewPanel() override;
    static QSize defaultSize() { return {560, 110}; }

    EditTime position() const { return m_position; }
    // Moves the current time; negative times become 0.
    void seek(const EditTime& t);
    bool isPlaying() const { return m_playing; }
    void togglePlay();
    void stop();
    void goToStart();
    void goToEnd();
    // n frames of the edit rate forward (negative: back).
    void stepFrames(int n);
    void moveTicks(int n);
    // The next or previous item boundary of the layers.
    void goToEditPoint(bool next);

    // ProjectObserver
    void previewSeek(const EditTime& t) override { seek(t); }
    std::optional<EditTime> previewPosition() const override { return m_position; }

signals:
    void positionChanged(const zef::EditTime& t);
    void playingChanged(bool playing);

private:
    void tick();
    void showPosition();

    FProject& m_project;
    EditTime m_position;
    bool m_playing = false;
    EditTime m_playStart;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QLabel* m_display = nullptr;
};

} // namespace zef::ui
