// The VCR Deck (CPreviewPanel): the transport under the preview — play and pause, stop, frame
// steps that repeat while held, go to start and end, a shuttle, a position slider in frames and
// a timecode field, in- and out-points, keyframe buttons, looping, full-screen playback and the
// two placement resets.
//
// It keeps the preview's current time for the rest of the editor: it answers the project's
// previewPosition, follows its previewSeek (a seek that arrives while a mouse button is held is
// a scrub: a quick picture first), and sends positionChanged whenever the time moves. The time
// itself is the Preview Deck's player's; without a Preview Deck the panel keeps it alone.
//
// Device mode drives a tape deck through TapeTransport instead of the player: the transport
// buttons send the deck's modes, the shuttle its speed, the in/out buttons store the deck's
// timecode, and the time shown is the deck's.
//
// Frame steps: a press steps at once and starts a 50 ms tick; tick c (counted from 1, back to 1
// at each release) steps when c < 20 and c mod 10 = 0, 20 ≤ c < 40 and c mod 5 = 0, 40 ≤ c < 80
// and c even, or c ≥ 80 — every 500 ms, after a second every 250 ms, after two every 100 ms,
// after four every 50 ms.
//
// GUI thread only; the project (and the Preview Deck and tape deck given to it) must outlive
// the panel.
#pragma once

#include "model/edit_time.h"
#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"

#include <QTimer>

#include <array>

namespace zef {
class FProject;
class TapeTransport;
class ZEFSourceItem;
} // namespace zef

namespace zef::ui {

class CXButton;
class CXSliderCtrl;
class CXTimeCode;
class DPreview;
class XStatic;

class CPreviewPanel : public CGUIDialogWithCaption, public ProjectObserver {
    Q_OBJECT
public:
    // The controls, by their ids.
    enum Control {
        kLooping = 1010,
        kFullScreen = 1005,
        kMovieAspect = 1001,
        kStretch = 1017,
        kGotoIn = 1155,
        kSetIn = 1026,
        kGotoOut = 1156,
        kSetOut = 1029,
        kPreviousKey = 1100,
        kKeyframe = 1004,
        kNextKey = 1007,
        kPosition = 1027,
        kTimecode = 1041,
        kGoToStart = 135,
        kGoToEnd = 136,
        kStop = 134,
        kPlay = 1008,
        kPreviousFrame = 1009,
        kNextFrame = 133,
        kShuttle = 1028,
        kDeviceLabel = 1158,
    };
    static constexpr int kStepInterval = 50; // ms between frame-step ticks
    static constexpr int kDeviceInterval = 50; // ms between device-mode updates

    explicit CPreviewPanel(FProject& project, QWidget* parent = nullptr);
    ~CPreviewPanel() override;
    static QSize defaultSize() { return {560, 110}; }

    // The Preview Deck whose player the panel drives.
    void setPreview(DPreview* preview);
    DPreview* preview() const { return m_preview; }
    QWidget* control(int id) const;
    CXButton* button(int id) const;
    CXSliderCtrl* positionSlider() const { return m_position; }
    CXSliderCtrl* shuttle() const { return m_shuttle; }
    CXTimeCode* timecode() const { return m_timecode; }

    // The current time: the tape deck's timecode in device mode, else the player's.
    EditTime position() const;
    // Moves the current time; negative times become 0. With scrubbing a quick picture first.
    void seek(const EditTime& t, bool scrubbing = false);
    bool isPlaying() const;
    // "Start Playing": pause if playing, else play.
    void togglePlay();
    // "Stop Playing": stop and rewind to 0.
    void stop();
    void goToStart();
    void goToEnd();
    // n frames forward (negative: back), pausing.
    void stepFrames(int n);
    void moveTicks(int n);
    // The next or previous item boundary of the layers.
    void goToEditPoint(bool next);

    // In- and out-points of the loaded clip (device mode: of the deck).
    void setInPoint();
    void setOutPoint();
    void goToInPoint();
    void goToOutPoint();
    // Keyframes of the current track at the current time.
    void previousKeyframe();
    void toggleKeyframe();
    void nextKeyframe();

    // Frame-step repetition: a step button pressed (+1 or -1) and released; tick() is one 50 ms
    // tick of the repeat timer.
    void beginStepping(int direction);
    void endStepping();
    void stepTick();
    int stepDirection() const { return m_stepDirection; }

    // The shuttle moved to b (-10 .. 10) and was let go.
    void shuttleTo(int b);
    void shuttleReleased();

    // Device mode: a tape deck instead of the player; null leaves device mode. While in device
    // mode a timer (kDeviceInterval) makes the deck's seek steps and follows its timecode.
    void setDeviceMode(TapeTransport* deck);
    bool deviceMode() const { return m_deck != nullptr; }
    EditTime deviceInPoint() const { return m_deviceIn; }
    EditTime deviceOutPoint() const { return m_deviceOut; }
    void setDevicePoints(const EditTime& in, const EditTime& out);

    // The periodic update: the controls follow the time, the loaded clip, the mode.
    void periodicUpdate();

    // ProjectObserver
    void previewSeek(const EditTime& t) override;
    std::optional<EditTime> previewPosition() const override { return position(); }

signals:
    void positionChanged(const zef::EditTime& t);
    void playingChanged(bool playing);

private:
    void buildControls();
    void sourceChanged();
    void sendPosition();
    // The time of slider position p, and the slider position of a time.
    EditTime timeOfFrame(int p) const;
    int frameOfTime(const EditTime& t) const;
    ZEFSourceItem* loadedClip() const;
    void setInOrOut(bool in);

    FProject& m_project;
    DPreview* m_preview = nullptr;
    TapeTransport* m_deck = nullptr;
    EditTime m_time;         // without a Preview Deck
    EditTime m_lastSent = EditTime::raw(-1); // the time positionChanged last told
    int m_stepDirection = 0;
    int m_stepCount = 1;
    QTimer m_stepTimer;
    QTimer m_playTimer; // follows the time while playing
    QTimer m_deviceTimer; // device mode: seek steps and the deck's mode and timecode
    int m_lastShuttle = 0;
    int32_t m_rateNum = 0, m_rateDen = 1; // the slider's frame rate (0: the project's)
    EditTime m_deviceIn, m_deviceOut;
    bool m_wasPlaying = false;

    CXSliderCtrl* m_position = nullptr;
    CXSliderCtrl* m_shuttle = nullptr;
    CXTimeCode* m_timecode = nullptr;
    XStatic* m_deviceLabel = nullptr;
    std::array<CXButton*, 17> m_buttons{};
    bool m_updatingTimecode = false;
};

} // namespace zef::ui
