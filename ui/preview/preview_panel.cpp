#include "ui/preview/preview_panel.h"

#include "capture/tape_deck.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_window.h"

#include <QApplication>
#include <QToolTip>

#include <algorithm>

namespace zef::ui {

namespace {

constexpr int kLastLayer = 2;                   // edit points come from layers A to C
constexpr int64_t kDeviceRange = 21'600'000;    // the timecode field's range in device mode
constexpr int kButton = 24;                     // button size
constexpr int kPlayFollow = 40;                 // ms between looks at the time while playing
const QColor kClipColour(255, 210, 0);
const QColor kProjectColour(0, 192, 192);
const QColor kDeviceColour(0, 255, 0);

// The buttons: id, tool tip, images (normal, checked), repeating.
struct ButtonSpec {
    int id;
    const char* tip;
    const char* image;
    const char* checked;
    bool repeat;
};
constexpr ButtonSpec kButtons[] = {
    {CPreviewPanel::kGoToStart, "Go To Start", "vcr-start", nullptr, false},
    {CPreviewPanel::kPreviousFrame, "Previous frame", "vcr-previous", nullptr, true},
    {CPreviewPanel::kPlay, "Start Playing", "vcr-play", "vcr-pause", false},
    {CPreviewPanel::kStop, "Stop Playing", "vcr-stop", nullptr, false},
    {CPreviewPanel::kNextFrame, "Next frame", "vcr-next", nullptr, true},
    {CPreviewPanel::kGoToEnd, "Go To End", "vcr-end", nullptr, false},
    {CPreviewPanel::kLooping, "Looping", "vcr-loop", "vcr-loop-on", false},
    {CPreviewPanel::kFullScreen, "Playback in full screen", "vcr-full-screen",
     "vcr-full-screen-on", false},
    {CPreviewPanel::kGotoIn, "Goto In Point", "vcr-goto-in", nullptr, false},
    {CPreviewPanel::kSetIn, "Set In Point", "vcr-set-in", nullptr, false},
    {CPreviewPanel::kSetOut, "Set Out Point", "vcr-set-out", nullptr, false},
    {CPreviewPanel::kGotoOut, "Goto Out Point", "vcr-goto-out", nullptr, false},
    {CPreviewPanel::kPreviousKey, "Go to previous keyframe", "vcr-key-previous", nullptr, false},
    {CPreviewPanel::kKeyframe, "Insert/Remove keyframe", "vcr-key", nullptr, false},
    {CPreviewPanel::kNextKey, "Go to next keyframe", "vcr-key-next", nullptr, false},
    {CPreviewPanel::kMovieAspect, "Default to Movie Aspect Ratio", "vcr-aspect", nullptr, false},
    {CPreviewPanel::kStretch, "Stretch to Project Size", "vcr-stretch", nullptr, false},
};

} // namespace

CPreviewPanel::CPreviewPanel(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("VCR Deck"), false, parent), m_project(project)
{
    setObjectName(QStringLiteral("VcrDeck"));
    setFixedSize(defaultSize());
    buildControls();
    m_stepTimer.setInterval(kStepInterval);
    connect(&m_stepTimer, &QTimer::timeout, this, &CPreviewPanel::stepTick);
    m_playTimer.setInterval(kPlayFollow);
    connect(&m_playTimer, &QTimer::timeout, this, [this] {
        sendPosition();
        if (!isPlaying()) periodicUpdate();
    });
    m_deviceTimer.setInterval(kDeviceInterval);
    connect(&m_deviceTimer, &QTimer::timeout, this, [this] {
        if (!m_deck) return;
        if (m_deck->seeking()) m_deck->seekStep();
        periodicUpdate();
    });
    m_project.addObserver(this);
    sourceChanged();
    periodicUpdate();
}

CPreviewPanel::~CPreviewPanel() { m_project.removeObserver(this); }

// Rows inside the client area (552 × 84): the position slider across the top; below it the
// timecode field on the left and two rows of buttons: transport, shuttle, looping and full
// screen; in- and out-points, keyframes, the placement resets (or the device label).
void CPreviewPanel::buildControls()
{
    const QRect c = clientRect();
    const int left = c.left() + 4;
    m_position = new CXSliderCtrl(Qt::Horizontal, this);
    m_position->setObjectName(QStringLiteral("TrimCurrentTime"));
    setControlTip(m_position, QStringLiteral("Trim current time"));
    m_position->setGeometry(left, c.top() + 2, c.width() - 8, 20);
    connect(m_position, &CXSliderCtrl::scrolled, this, [this](int code, int p) {
        if (deviceMode()) return;
        seek(timeOfFrame(p), code == CXSliderCtrl::ThumbPosition);
    });

    m_timecode = new CXTimeCode(this);
    m_timecode->setObjectName(QStringLiteral("Timecode"));
    const int tcHeight = 44;
    m_timecode->setGeometry(left, c.top() + 28 + (52 - tcHeight) / 2, CXTimeCode::widthFor(tcHeight),
                            tcHeight);
    connect(m_timecode, &CXTimeCode::changed, this, [this] {
        if (m_updatingTimecode) return;
        if (m_deck)
            m_deck->seek(m_timecode->value());
        else
            seek(m_timecode->value());
    });

    const int x0 = m_timecode->geometry().right() + 9;
    const int row1 = c.top() + 27, row2 = c.top() + 57;
    int x = x0;
    auto place = [&](int id, int row, int gapAfter) {
        button(id)->setGeometry(x, row, kButton, kButton);
        x += kButton + 2 + gapAfter;
    };
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        const ButtonSpec& s = kButtons[i];
        auto* b = new CXButton(this);
        b->setObjectName(QString::fromLatin1(s.image));
        b->setImages(QString::fromLatin1(s.image),
                     s.checked ? QString::fromLatin1(s.checked) : QString());
        b->setRepeatNotifications(s.repeat);
        setControlTip(b, QString::fromLatin1(s.tip));
        m_buttons[i] = b;
    }
    place(kGoToStart, row1, 0);
    place(kPreviousFrame, row1, 0);
    place(kPlay, row1, 0);
    place(kStop, row1, 0);
    place(kNextFrame, row1, 0);
    place(kGoToEnd, row1, 6);
    m_shuttle = new CXSliderCtrl(Qt::Horizontal, this);
    m_shuttle->setObjectName(QStringLiteral("Shuttle"));
    setControlTip(m_shuttle, QStringLiteral("Shuffle"));
    m_shuttle->setRange(-10, 10);
    m_shuttle->setPageSize(1);
    m_shuttle->setPosition(0);
    m_shuttle->setGeometry(x, row1 + 1, 120, kButton - 2);
    x += 126;
    place(kLooping, row1, 0);
    place(kFullScreen, row1, 0);

    x = x0;
    place(kGotoIn, row2, 0);
    place(kSetIn, row2, 0);
    place(kSetOut, row2, 0);
    place(kGotoOut, row2, 6);
    place(kPreviousKey, row2, 0);
    place(kKeyframe, row2, 0);
    place(kNextKey, row2, 6);
    const int resets = x;
    place(kMovieAspect, row2, 0);
    place(kStretch, row2, 0);
    m_deviceLabel = new XStatic(QString(), this);
    m_deviceLabel->setObjectName(QStringLiteral("DeviceMode"));
    m_deviceLabel->setGeometry(resets, row2, c.right() - 4 - resets, kButton);
    m_deviceLabel->hide();

    connect(button(kPlay), &CXButton::clicked, this, [this] {
        togglePlay();
        button(kPlay)->setPressed(isPlaying());
    });
    connect(button(kStop), &CXButton::clicked, this, &CPreviewPanel::stop);
    connect(button(kGoToStart), &CXButton::clicked, this, &CPreviewPanel::goToStart);
    connect(button(kGoToEnd), &CXButton::clicked, this, &CPreviewPanel::goToEnd);
    connect(button(kNextFrame), &CXButton::clicked, this, [this] { beginStepping(+1); });
    connect(button(kPreviousFrame), &CXButton::clicked, this, [this] { beginStepping(-1); });
    connect(button(kNextFrame), &CXButton::released, this, &CPreviewPanel::endStepping);
    connect(button(kPreviousFrame), &CXButton::released, this, &CPreviewPanel::endStepping);
    connect(button(kLooping), &CXButton::clicked, this, [this] {
        if (m_preview) m_preview->setLooping(button(kLooping)->isPressed());
    });
    connect(button(kFullScreen), &CXButton::clicked, this, [this] {
        if (m_preview) m_preview->setFullScreen(button(kFullScreen)->isPressed());
    });
    connect(button(kMovieAspect), &CXButton::clicked, this, [this] {
        if (m_preview) m_preview->defaultToMovieAspect();
    });
    connect(button(kStretch), &CXButton::clicked, this, [this] {
        if (m_preview) m_preview->stretchToProjectSize();
    });
    connect(button(kSetIn), &CXButton::clicked, this, &CPreviewPanel::setInPoint);
    connect(button(kSetOut), &CXButton::clicked, this, &CPreviewPanel::setOutPoint);
    connect(button(kGotoIn), &CXButton::clicked, this, &CPreviewPanel::goToInPoint);
    connect(button(kGotoOut), &CXButton::clicked, this, &CPreviewPanel::goToOutPoint);
    connect(button(kPreviousKey), &CXButton::clicked, this, &CPreviewPanel::previousKeyframe);
    connect(button(kKeyframe), &CXButton::clicked, this, &CPreviewPanel::toggleKeyframe);
    connect(button(kNextKey), &CXButton::clicked, this, &CPreviewPanel::nextKeyframe);
    connect(m_shuttle, &CXSliderCtrl::scrolled, this, [this](int code, int p) {
        if (code == CXSliderCtrl::EndScroll)
            shuttleReleased();
        else
            shuttleTo(p);
    });
}

QWidget* CPreviewPanel::control(int id) const
{
    switch (id) {
    case kPosition:
        return m_position;
    case kShuttle:
        return m_shuttle;
    case kTimecode:
        return m_timecode;
    case kDeviceLabel:
        return m_deviceLabel;
    default:
        return button(id);
    }
}

CXButton* CPreviewPanel::button(int id) const
{
    for (size_t i = 0; i < std::size(kButtons); ++i)
        if (kButtons[i].id == id) return m_buttons[i];
    return nullptr;
}

void CPreviewPanel::setPreview(DPreview* preview)
{
    if (m_preview) disconnect(m_preview, nullptr, this, nullptr);
    m_preview = preview;
    if (m_preview) {
        m_preview->seek(m_time);
        connect(m_preview, &DPreview::sourceChanged, this, &CPreviewPanel::sourceChanged);
        connect(m_preview, &DPreview::pictureShown, this, [this] { sendPosition(); });
        connect(m_preview, &DPreview::playingChanged, this, [this](bool playing) {
            if (playing) m_playTimer.start();
            periodicUpdate();
        });
    }
    sourceChanged();
}

// ---- time

ZEFSourceItem* CPreviewPanel::loadedClip() const
{
    return m_preview ? m_preview->currentClip() : nullptr;
}

EditTime CPreviewPanel::position() const
{
    if (m_deck) return m_deck->timecode();
    return m_preview ? m_preview->currentTime() : m_time;
}

void CPreviewPanel::seek(const EditTime& t, bool scrubbing)
{
    EditTime to = t;
    if (to.ticks() < 0) to = EditTime::raw(0, to.rateNum(), to.rateDen());
    if (m_deck) {
        m_deck->seek(to);
        return;
    }
    if (m_preview)
        m_preview->seek(to, scrubbing);
    else
        m_time = to;
    sendPosition();
}

void CPreviewPanel::previewSeek(const EditTime& t)
{
    // The timeline moves the time at every mouse move while its marker is dragged.
    seek(t, QGuiApplication::mouseButtons() != Qt::NoButton);
}

void CPreviewPanel::sendPosition()
{
    const EditTime t = position();
    if (!m_updatingTimecode) {
        if (!m_position->isDragging()) m_position->setPosition(frameOfTime(t));
        if (m_timecode->value().ticks() != t.ticks() && !m_timecode->hasFocus()) {
            m_updatingTimecode = true;
            m_timecode->setValue(t);
            m_updatingTimecode = false;
        }
    }
    if (t.ticks() == m_lastSent.ticks()) return;
    m_lastSent = t;
    emit positionChanged(t);
}

bool CPreviewPanel::isPlaying() const
{
    if (m_deck) return m_deck->isPlaying();
    return m_preview && m_preview->isPlaying();
}

void CPreviewPanel::togglePlay()
{
    if (m_deck) {
        m_deck->setMode(m_deck->isPlaying() ? TapeTransport::kFreeze : TapeTransport::kPlay);
        periodicUpdate();
        return;
    }
    if (!m_preview) return;
    if (m_preview->isPlaying())
        m_preview->pause();
    else
        m_preview->play();
    if (m_preview->isPlaying()) m_playTimer.start();
    periodicUpdate();
}

void CPreviewPanel::stop()
{
    if (m_deck) {
        m_deck->setMode(TapeTransport::kStop);
        periodicUpdate();
        return;
    }
    if (m_preview)
        m_preview->stop();
    else
        m_time = EditTime();
    sendPosition();
    periodicUpdate();
}

void CPreviewPanel::goToStart()
{
    if (m_deck) {
        m_deck->setMode(TapeTransport::kRewind);
        return;
    }
    if (m_preview)
        m_preview->goToStart();
    else
        m_time = EditTime();
    sendPosition();
}

void CPreviewPanel::goToEnd()
{
    if (m_deck) {
        m_deck->setMode(TapeTransport::kFastForward);
        return;
    }
    if (m_preview)
        m_preview->goToEnd();
    else
        m_time = m_project.projectEnd();
    sendPosition();
}

void CPreviewPanel::stepFrames(int n)
{
    if (m_deck) {
        m_deck->setMode(n >= 0 ? TapeTransport::kStepForward : TapeTransport::kStepReverse);
        return;
    }
    if (m_preview) {
        m_preview->step(n);
    } else {
        EditTime t(m_time.ticks());
        t.fromFrames(t.toFrames() + n);
        m_time = EditTime::raw(std::max<int64_t>(0, t.ticks()));
    }
    sendPosition();
}

void CPreviewPanel::moveTicks(int n) { seek(EditTime::raw(position().ticks() + n)); }

void CPreviewPanel::goToEditPoint(bool next)
{
    const EditTime t = position();
    seek(next ? m_project.nextEditPoint(t, kLastLayer) : m_project.previousEditPoint(t, kLastLayer));
}

// ---- frame steps

void CPreviewPanel::beginStepping(int direction)
{
    m_stepDirection = direction;
    m_stepCount = 1;
    stepFrames(direction);
    m_stepTimer.start();
}

void CPreviewPanel::endStepping()
{
    m_stepDirection = 0;
    m_stepCount = 1;
    m_stepTimer.stop();
}

void CPreviewPanel::stepTick()
{
    if (m_stepDirection == 0) return;
    const int c = m_stepCount;
    const bool step = (c < 20 && c % 10 == 0) || (c >= 20 && c < 40 && c % 5 == 0) ||
                      (c >= 40 && c < 80 && c % 2 == 0) || c >= 80;
    if (step) stepFrames(m_stepDirection);
    ++m_stepCount;
}

// ---- shuttle

void CPreviewPanel::shuttleTo(int b)
{
    b = std::clamp(b, -10, 10);
    if (b != m_lastShuttle) {
        m_lastShuttle = b;
        if (m_deck)
            m_deck->setRate(b * 0.2);
        else if (m_preview)
            m_preview->setRate(b * 0.1);
        if (!isPlaying() && m_preview && !m_deck) m_preview->resetRate();
    }
    if (isVisible())
        QToolTip::showText(m_shuttle->mapToGlobal(QPoint(m_shuttle->thumbRect().center().x(), 0)),
                           QStringLiteral("%1%").arg(b * 10), m_shuttle);
}

void CPreviewPanel::shuttleReleased()
{
    m_shuttle->setPosition(0);
    m_lastShuttle = 0;
    QToolTip::hideText();
    if (m_deck) {
        m_deck->setMode(TapeTransport::kFreeze);
    } else if (m_preview) {
        m_preview->pause();
        m_preview->resetRate();
    }
    sendPosition();
    periodicUpdate();
}

// ---- in and out points

void CPreviewPanel::setInOrOut(bool in)
{
    if (m_deck) {
        (in ? m_deviceIn : m_deviceOut) = m_deck->timecode();
        periodicUpdate();
        return;
    }
    ZEFSourceItem* clip = loadedClip();
    if (!clip) return;
    const EditTime t = position();
    const EditTime current = in ? clip->sourceIn() : clip->sourceOut();
    if (t.ticks() == current.ticks()) return;
    // A range that would end before it starts is refused (the clip would run backwards).
    if (in ? t.ticks() >= clip->sourceOut().ticks() : t.ticks() <= clip->sourceIn().ticks())
        return;
    const std::string name = clip->displayName();
    const std::string when = t.format();
    m_project.undoHistory().recordUndo(clip->track(),
                                       in ? "Set %s In-point to %s" : "Set %s Out-point to %s",
                                       name.c_str(), when.c_str());
    if (in)
        clip->setSourceIn(t);
    else
        clip->setSourceOut(t);
    m_project.itemChanged(clip, false, true);
    periodicUpdate();
}

void CPreviewPanel::setInPoint() { setInOrOut(true); }
void CPreviewPanel::setOutPoint() { setInOrOut(false); }

void CPreviewPanel::goToInPoint()
{
    if (m_deck) {
        m_deck->seek(m_deviceIn);
        return;
    }
    if (ZEFSourceItem* clip = loadedClip()) seek(clip->sourceIn());
}

void CPreviewPanel::goToOutPoint()
{
    if (m_deck) {
        m_deck->seek(m_deviceOut);
        return;
    }
    if (ZEFSourceItem* clip = loadedClip()) seek(clip->sourceOut());
}

void CPreviewPanel::setDevicePoints(const EditTime& in, const EditTime& out)
{
    m_deviceIn = in;
    m_deviceOut = out;
}

// ---- keyframes

void CPreviewPanel::previousKeyframe()
{
    const int32_t track = m_preview ? m_preview->currentTrack() : -1;
    if (track < 0 || m_deck) return;
    if (auto t = m_project.previousKeyframe(track, position())) seek(*t);
}

void CPreviewPanel::nextKeyframe()
{
    const int32_t track = m_preview ? m_preview->currentTrack() : -1;
    if (track < 0 || m_deck) return;
    if (auto t = m_project.nextKeyframe(track, position())) seek(*t);
}

void CPreviewPanel::toggleKeyframe()
{
    const int32_t track = m_preview ? m_preview->currentTrack() : -1;
    if (track < 0 || m_deck) return;
    const EditTime t = position();
    const char* layer = FProject::trackMenuName(track);
    if (m_project.hasKeyframeAt(track, t)) {
        m_project.undoHistory().recordUndo(track, "Keyframe deleted on %s", layer);
        m_project.deleteKeyframeAt(track, t);
    } else {
        m_project.undoHistory().recordUndo(track, "Keyframe added on %s", layer);
        m_project.insertKeyframe(track, t, m_project.matrixAt(track, t), false);
    }
    m_project.keyframesChanged(track);
    if (m_preview) m_preview->window().update();
    periodicUpdate();
}

// ---- device mode

void CPreviewPanel::setDeviceMode(TapeTransport* deck)
{
    if (deck == m_deck) return;
    if (m_preview && m_preview->isPlaying()) m_preview->pause();
    m_deck = deck;
    if (m_deck)
        m_deviceTimer.start();
    else
        m_deviceTimer.stop();
    endStepping();
    sourceChanged();
    periodicUpdate();
}

// ---- the controls follow

EditTime CPreviewPanel::timeOfFrame(int p) const
{
    if (m_rateNum > 0 && m_rateDen > 0)
        return EditTime::raw(int64_t(p) * 600 * m_rateDen / m_rateNum, m_rateNum, m_rateDen);
    const int32_t fps = std::max(1, EditRateContext::wholeRate(m_project.composition().frameRate));
    return EditTime::raw(int64_t(p) * 600 / fps);
}

int CPreviewPanel::frameOfTime(const EditTime& t) const
{
    if (m_rateNum > 0 && m_rateDen > 0)
        return int(t.ticks() * m_rateNum / (600 * int64_t(m_rateDen)));
    const int32_t fps = std::max(1, EditRateContext::wholeRate(m_project.composition().frameRate));
    return int(t.ticks() * fps / 600);
}

void CPreviewPanel::sourceChanged()
{
    ZEFSourceItem* clip = m_deck ? nullptr : loadedClip();
    m_rateNum = clip ? clip->mediaRateNum() : 0;
    m_rateDen = clip ? std::max(1, clip->mediaRateDen()) : 1;
    m_timecode->setDigitColour(m_deck ? kDeviceColour : clip ? kClipColour : kProjectColour);
    m_updatingTimecode = true;
    if (m_deck)
        m_timecode->setRange(EditTime(), EditTime::raw(kDeviceRange));
    else
        m_timecode->setRange(EditTime(), EditTime::raw(CXTimeCode::kDefaultMaximum));
    m_updatingTimecode = false;
    const EditTime end = m_preview && !m_deck ? m_preview->endTime() : m_project.projectEnd();
    m_position->setRange(0, std::max(0, frameOfTime(end)));
    if (clip)
        m_position->setSelection(frameOfTime(clip->sourceIn()), frameOfTime(clip->sourceOut()));
    else
        m_position->setSelection(0, -1);
    m_position->setEnabled(!m_deck);
    if (clip && isVisible()) m_position->setFocus(Qt::OtherFocusReason);
    periodicUpdate();
}

void CPreviewPanel::periodicUpdate()
{
    const EditTime t = position();
    ZEFSourceItem* clip = m_deck ? nullptr : loadedClip();
    const bool device = m_deck != nullptr;
    const bool composition = !device && (!m_preview || m_preview->showsComposition());

    button(kLooping)->setPressed(m_preview && m_preview->looping());
    if (composition && m_preview)
        m_position->setRange(0, std::max(0, frameOfTime(m_project.projectEnd())));

    const int32_t track = composition && m_preview ? m_preview->currentTrack() : -1;
    const bool hasKey = track < 0 || m_project.hasKeyframeAt(track, t);
    const bool placement = !device && m_preview && m_preview->allowsPlacement();

    button(kMovieAspect)->setEnabled(!device && clip && clip->videoTrackCount() > 0 &&
                                     clip->placementMode() != 1);
    button(kStretch)->setEnabled(placement && hasKey);
    button(kPreviousKey)->setEnabled(composition && track >= 0 &&
                                     m_project.previousKeyframe(track, t).has_value());
    button(kNextKey)->setEnabled(composition && track >= 0 &&
                                 m_project.nextKeyframe(track, t).has_value());
    button(kKeyframe)->setEnabled(composition && track >= 0);
    button(kKeyframe)->setPressed(track >= 0 && m_project.hasKeyframeAt(track, t));

    const bool points = device || clip;
    for (int id : {kGotoIn, kSetIn, kGotoOut, kSetOut})
        button(id)->setVisible(points);
    m_shuttle->setVisible(points);
    button(kLooping)->setVisible(!device);
    button(kFullScreen)->setVisible(!device);
    button(kMovieAspect)->setVisible(!device);
    button(kStretch)->setVisible(!device);
    m_deviceLabel->setVisible(device);
    if (device)
        m_deviceLabel->setText(QStringLiteral("Device mode: %1")
                                   .arg(QString::fromLatin1(TapeTransport::modeName(m_deck->mode()))));

    const EditTime in = device ? m_deviceIn : clip ? clip->sourceIn() : EditTime();
    const EditTime out = device ? m_deviceOut : clip ? clip->sourceOut() : EditTime();
    button(kSetIn)->setPressed(points && t.ticks() == in.ticks());
    button(kSetOut)->setPressed(points && t.ticks() == out.ticks());
    const bool playing = isPlaying();
    button(kPlay)->setPressed(playing);

    const int mode = device ? m_deck->mode() : 0;
    const bool stepping = !device || mode == TapeTransport::kFreeze ||
                          mode == TapeTransport::kStepForward ||
                          mode == TapeTransport::kStepReverse;
    button(kNextFrame)->setEnabled(stepping);
    button(kPreviousFrame)->setEnabled(stepping);

    sendPosition();
    if (playing != m_wasPlaying) {
        m_wasPlaying = playing;
        if (!playing) m_playTimer.stop();
        emit playingChanged(playing);
    }
}

} // namespace zef::ui
