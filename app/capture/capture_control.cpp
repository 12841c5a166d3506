#include "app/capture/capture_control.h"

#include "app/capture/tape_capture_source.h"

#include "capture/tape_deck.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/user_interface.h"
#include "model/zef_exception.h"
#include "platform/com/task_memory.h"
#include "platform/movies/capture/sequence_grabber.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

namespace zef::app {

namespace {

FCaptureControl* g_control = nullptr; // the one instance, for the plug-in's event procedure

constexpr movies::Fixed kRates[14] = {1 << 16,  2 << 16,  3 << 16,  5 << 16,  8 << 16,
                                      10 << 16, 12 << 16, 15 << 16, 20 << 16, 24 << 16,
                                      25 << 16, 1964113,  30 << 16, 0};

std::string format(const char* fmt, const std::string& a)
{
    std::vector<char> text(a.size() + std::strlen(fmt) + 16);
    std::snprintf(text.data(), text.size(), fmt, a.c_str());
    return text.data();
}

} // namespace

UserInterface& FCaptureControl::ui()
{
    if (UserInterface* u = m_project.userInterface()) return *u;
    static HeadlessUserInterface headless;
    return headless;
}

FCaptureControl::FCaptureControl(FProject& project, ICaptureDevicePlugin* plugin, Host& host)
    : m_project(project), m_plugin(plugin), m_host(host), m_guiThread(std::this_thread::get_id())
{
    g_control = this;
}

FCaptureControl::~FCaptureControl()
{
    if (isCapturing()) stopCapture();
    closeDevice();
    {
        std::lock_guard lock(m_eventMutex);
        g_control = nullptr;
    }
    com::taskMemFree(m_settingsBlock);
}

movies::Fixed FCaptureControl::frameRateForIndex(int32_t index)
{
    if (index < 0 || index > 13) index = 0;
    return kRates[index];
}

std::string FCaptureControl::captureFileName(const std::string& name, const char* extension)
{
    std::string base = name;
    const size_t slash = base.find_last_of('/');
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
    return base + extension;
}

CaptureRect FCaptureControl::videoArea(int width, int height) const
{
    // The client area less 26 pixels at the sides and 14 at top and bottom, shrunk on one axis
    // to the output's aspect and centred.
    int left = 26, top = 14, w = std::max(0, width - 52), h = std::max(0, height - 28);
    const int ow = m_project.composition().width, oh = m_project.composition().height;
    if (ow > 0 && oh > 0 && w > 0 && h > 0) {
        if (int64_t(w) * oh > int64_t(h) * ow) {
            const int nw = int(int64_t(h) * ow / oh);
            left += (w - nw) / 2;
            w = nw;
        } else {
            const int nh = int(int64_t(w) * oh / ow);
            top += (h - nh) / 2;
            h = nh;
        }
    }
    return {left, top, left + w, top + h};
}

void FCaptureControl::setPreviewWindowSize(int width, int height)
{
    m_windowWidth = width;
    m_windowHeight = height;
    if (m_open && m_openedWithPlugin) {
        const CaptureRect area = videoArea(width, height);
        m_plugin->SetVideoWindow(&area);
    }
}

bool FCaptureControl::openDevice(bool hosted)
{
    if (m_open) return true;
    if (m_settings.useDirectShow) {
        if (!m_plugin || captureFailed(m_plugin->Open(0, 0))) {
            ui().showMessage("No capture devices available", "");
            return false;
        }
        if (!hosted) setPreviewWindowSize(m_windowWidth, m_windowHeight);
        if (m_settingsBlock) m_plugin->RestoreSettings(m_settingsBlock, m_settingsSize, hosted);
        m_openedWithPlugin = true;
    } else {
        auto grabber = std::make_unique<movies::SequenceGrabber>();
        if (m_grabberOnTape && m_tapeSource) grabber->setSource(m_tapeSource, "Tape Deck");
        if (grabber->initialize() != movies::noErr) return false; // no message
        if (auto* video = grabber->newChannel(movies::fourcc("vide"))) {
            video->usage =
                movies::seqGrabRecord | movies::seqGrabPreview | movies::seqGrabPlayDuringRecord;
        }
        if (auto* sound = grabber->newChannel(movies::fourcc("soun"))) {
            sound->usage = movies::seqGrabRecord | movies::seqGrabPreview;
            sound->volume = 16;
        }
        grabber->dataProc = [this](int64_t t) { m_highestTime = std::max(m_highestTime, t); };
        grabber->startPreview();
        m_grabber = std::move(grabber);
        m_openedWithPlugin = false;
    }
    m_open = true;
    m_frameSequence = 0;
    m_host.deviceOpenChanged(true);
    return true;
}

void FCaptureControl::closeDevice()
{
    if (!m_open) return;
    if (m_openedWithPlugin) {
        com::taskMemFree(m_settingsBlock);
        m_settingsBlock = nullptr;
        m_settingsSize = 0;
        if (captureFailed(m_plugin->SaveSettings(&m_settingsBlock, &m_settingsSize))) {
            m_settingsBlock = nullptr;
            m_settingsSize = 0;
        }
        m_plugin->Close();
        m_pluginPreview = false;
    } else {
        m_grabber.reset();
    }
    m_open = false;
    m_host.deviceOpenChanged(false);
}

bool FCaptureControl::isPreviewing() const
{
    if (!m_open || !m_openedWithPlugin) return false;
    int32_t state = -1;
    m_plugin->GetState(&state);
    return state == kCaptureStatePreviewing;
}

bool FCaptureControl::isCapturing() const
{
    if (!m_open) return false;
    if (m_openedWithPlugin) {
        int32_t state = -1;
        m_plugin->GetState(&state);
        return state == kCaptureStateCapturing || m_pluginCapturing;
    }
    return m_grabber && m_grabber->recording();
}

void FCaptureControl::setPluginPreview(bool on)
{
    m_pluginPreview = on;
    if (m_open && m_openedWithPlugin)
        m_plugin->SetPreview(0, on, on && m_settings.useOptimizedPreview);
}

std::pair<int, int> FCaptureControl::previewPictureSize() const
{
    if (m_grabber && m_grabber->videoChannel()) {
        const movies::Rect& b = m_grabber->videoChannel()->bounds;
        return {b.right - b.left, b.bottom - b.top};
    }
    return {m_project.composition().width, m_project.composition().height};
}

void FCaptureControl::applyPreviewSize()
{
    if (!m_grabber || !m_grabber->videoChannel()) return;
    auto* video = m_grabber->videoChannel();
    const int divisor = m_settings.previewSize == 0 ? 1 : m_settings.previewSize == 1 ? 2 : 4;
    const movies::Rect& s = video->sourceBounds;
    const int w = (s.right - s.left) / divisor, h = (s.bottom - s.top) / divisor;
    const int x = std::max(0, (m_windowWidth - w) / 2), y = std::max(0, (m_windowHeight - h) / 2);
    video->bounds = {x, y, x + w, y + h};
}

void FCaptureControl::cueDeck()
{
    // The deck's seek stops within a frame of its target, so it is cued a second before the
    // in-point (the tape runs up to speed meanwhile); with the deck's output as the source
    // only the frames from the in-point to the out-point are recorded.
    EditTime cue = inPoint;
    cue.setTicks(std::max<int64_t>(0, inPoint.ticks() - 600));
    if (m_tapeSource && !m_openedWithPlugin) {
        const double rate = m_tapeSource->frameRate();
        auto frame = [&](const EditTime& t) {
            return int64_t(std::llround(t.ticks() * rate / 600.0));
        };
        m_tapeSource->setRange(frame(inPoint), frame(outPoint));
    } else {
        cue = inPoint;
    }
    m_deck->seek(cue);
    // Wait for it, showing only paint (bounded: a deck that never arrives is given up).
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (m_deck->seeking() && std::chrono::steady_clock::now() < until) {
        m_host.pumpPaint();
        m_deck->seekStep();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool FCaptureControl::rangePassed() const
{
    if (m_mode != kDeviceControl || !m_deck) return false;
    if (m_grabberOnTape && m_tapeSource && !m_openedWithPlugin) return m_tapeSource->pastRange();
    return m_deck->timecode().ticks() > outPoint.ticks();
}

bool FCaptureControl::askReplace(const std::string& path)
{
    if (!std::filesystem::exists(path)) return true;
    return ui().ask(format("%s already exists.\nDo you want to replace it?", path), "Capture",
                    Buttons::YesNo, Icon::Warning) == Answer::Yes;
}

bool FCaptureControl::startCapture(const std::string& name, bool previewDuringCapture,
                                   int32_t rateIndex, bool useCaptureFile, bool interleavedDV)
{
    if (isCapturing()) return false;
    if (!m_open && !openDevice(false)) return false;
    m_mode = m_project.captureMode;
    if (m_mode == kDeviceControl) {
        if (!m_deck)
            throw ZEFException("No tape deck is selected for capturing with device control.");
        // The sequence grabber records the deck's own output.
        if (!m_openedWithPlugin && m_tapeSource && !m_grabberOnTape) {
            closeDevice();
            m_grabberOnTape = true;
            if (!openDevice(false)) return false;
        }
        cueDeck();
        useCaptureFile = false;
    } else if (m_grabberOnTape && !m_openedWithPlugin) {
        closeDevice();
        m_grabberOnTape = false;
        if (!openDevice(false)) return false;
    }
    const int64_t maxSeconds = m_mode == kTimed ? m_project.captureTime : -1;
    const movies::Fixed rate = frameRateForIndex(rateIndex);
    if (rate == 1964113) {
        m_rateNum = 30000;
        m_rateDen = 1001;
    } else {
        m_rateNum = rate ? rate >> 16 : 30;
        m_rateDen = 1;
    }
    m_endMessage.clear();
    m_statisticsEvents = 0;
    m_stats = CaptureStatistics{};
    m_stats.diskSecondsRemaining = -1;
    m_stats.fileSecondsRemaining = -1;
    m_host.showStatistics(&m_stats, true);

    if (m_openedWithPlugin) {
        m_fileName = captureFileName(name, ".AVI");
        if (!useCaptureFile && !askReplace(m_fileName)) return false;
        m_plugin->SetFrameRate(double(rate) / 65536.0);
        const HResult r =
            m_plugin->StartCapture(maxSeconds, &FCaptureControl::eventProc, useCaptureFile, 0,
                                   previewDuringCapture, interleavedDV, m_fileName.c_str());
        if (r != 0) throw ZEFException("Capture failed !!");
        m_pluginCapturing = true;
        m_host.captureRunning(true);
        return true;
    }

    // The sequence grabber.
    movies::SequenceGrabber& g = *m_grabber;
    auto* video = g.videoChannel();
    auto* sound = g.soundChannel();
    const bool wantVideo = video && m_settings.captureVideo;
    const bool wantSound = sound && m_settings.captureAudio;
    if (!wantVideo && !wantSound) {
        m_host.beep();
        return false;
    }
    m_fileName = captureFileName(name, ".MOV");
    const bool split = wantVideo && wantSound && m_settings.splitTracks;
    const std::string stem = captureFileName(name, "");
    const std::string videoTrack = stem + "Video.trk", soundTrack = stem + "Audio.trk";
    if (split ? !askReplace(videoTrack) || !askReplace(soundTrack) : !askReplace(m_fileName))
        return false;
    auto resume = [&] {
        g.pause(false);
        g.startPreview();
        return false;
    };
    g.stop();
    if (g.setDataOutput(m_fileName) != movies::noErr) return resume();
    if (video) video->outputFile.clear();
    if (sound) sound->outputFile.clear();
    if (split && (g.setChannelOutput(video, videoTrack) != movies::noErr ||
                  g.setChannelOutput(sound, soundTrack) != movies::noErr))
        return resume();
    if (video) {
        video->usage = wantVideo ? movies::seqGrabRecord | movies::seqGrabPreview |
                                       (previewDuringCapture ? movies::seqGrabPlayDuringRecord : 0)
                                 : 0;
        video->frameRate = double(rate) / 65536.0;
    }
    if (sound) sound->usage = wantSound ? movies::seqGrabRecord | movies::seqGrabPreview : 0;
    g.setMaxRecordTime(maxSeconds < 0 ? -1 : maxSeconds * 1000000);
    // The clip is the movie file; with split tracks the video track's file (it holds the
    // picture, the sound lies beside it).
    if (split) m_fileName = videoTrack;
    if (g.startRecord() != movies::noErr) return resume();
    m_highestTime = 0;
    m_host.captureRunning(true);
    if (m_mode == kDeviceControl && m_deck) m_deck->setMode(TapeTransport::kPlay);
    return true;
}

void FCaptureControl::keptMessage(const char* reason)
{
    const double seconds = m_stats.capturedTime / 1000.0;
    char text[256];
    std::snprintf(text, sizeof text, "Capture stopped: %s.\nThe %.1f seconds captured are kept in ",
                  reason, seconds);
    m_endMessage = text + m_fileName;
}

void FCaptureControl::finishGrabberCapture()
{
    const avcapture::Statistics s = m_grabber->statistics();
    m_stats.capturedTime = int32_t(s.capturedMs);
    m_stats.capturedFrames = int32_t(s.capturedFrames);
    m_stats.droppedFrames = int32_t(s.droppedFrames);
    m_stats.achievedFrameRate = float(s.frameRate);
    m_stats.achievedDataRate = int32_t(std::min<double>(s.dataRate, 2e9));
    const avcapture::EndReason why = m_grabber->endReason();
    if (why != avcapture::EndReason::Stopped && why != avcapture::EndReason::TimeLimit &&
        why != avcapture::EndReason::None)
        keptMessage(avcapture::endReasonText(why));
    m_grabber->startPreview();
    if (m_mode == kDeviceControl && m_deck) m_deck->setMode(TapeTransport::kStop);
    if (m_tapeSource) m_tapeSource->clearRange();
    m_host.captureRunning(false);
    m_host.showStatistics(&m_stats, false);
    addCapturedClip(); // always, with this engine
    if (!m_endMessage.empty()) ui().showMessage(m_endMessage, "Capture", Icon::Warning);
}

void FCaptureControl::stopCapture()
{
    if (!isCapturing()) return;
    if (m_openedWithPlugin) {
        m_plugin->StopCapture(0); // the finished event follows
        idle();
        return;
    }
    m_grabber->stop();
    finishGrabberCapture();
}

void FCaptureControl::togglePause()
{
    if (m_grabber && m_grabber->recording()) m_grabber->pause(!m_grabber->paused());
}

bool FCaptureControl::newestPicture(avcapture::Picture& out)
{
    if (!m_open) return false;
    if (!m_openedWithPlugin) return m_grabber->newestPicture(out);
    const intptr_t p = m_plugin->GetCapturedFramePtr(kCapturedFrameNewest, 0, 0, 0);
    if (p <= 0) return false;
    CapturedFrame header;
    std::memcpy(&header, reinterpret_cast<const void*>(p), sizeof header);
    if (header.sequence == m_frameSequence || header.width <= 0 || header.height <= 0 ||
        header.stride < header.width * 4)
        return false;
    m_frameSequence = header.sequence;
    out.width = header.width;
    out.height = header.height;
    out.bgra.resize(size_t(header.width) * header.height * 4);
    const auto* src = reinterpret_cast<const uint8_t*>(p) + sizeof header;
    for (int y = 0; y < header.height; ++y)
        std::memcpy(out.bgra.data() + size_t(y) * header.width * 4, src + size_t(y) * header.stride,
                    size_t(header.width) * 4);
    return true;
}

int32_t FCaptureControl::eventProc(void*, int32_t event, intptr_t argument)
{
    Event e{event, 0, {}};
    if (event == kCaptureEventStatistics && argument)
        std::memcpy(&e.stats, reinterpret_cast<const void*>(argument), sizeof e.stats);
    else if (event != kCaptureEventStatistics)
        e.value = int32_t(argument);
    FCaptureControl* self = g_control;
    if (!self) return 0;
    // Progress of a copy the GUI thread asked for is shown at once; the rest waits for idle.
    if (event == kCaptureEventProgress && std::this_thread::get_id() == self->m_guiThread) {
        self->handleEvent(event, nullptr, e.value);
        return 0;
    }
    std::lock_guard lock(self->m_eventMutex);
    self->m_events.push_back(e);
    return 0;
}

void FCaptureControl::handleEvent(int32_t event, const CaptureStatistics* stats, int32_t value)
{
    switch (event) {
    case kCaptureEventStarted:
        if (m_mode == kDeviceControl && m_deck) m_deck->setMode(TapeTransport::kPlay);
        break;
    case kCaptureEventFinished: {
        m_pluginCapturing = false;
        if (m_mode == kDeviceControl && m_deck) m_deck->setMode(TapeTransport::kStop);
        m_host.captureRunning(false);
        if (value == kCaptureEndDiskFull) keptMessage("the disk is full");
        if (value == kCaptureEndDeviceLost) keptMessage("the capture device stopped delivering");
        if (value == kCaptureEndWriteError) keptMessage("the file could not be written");
        m_host.showStatistics(&m_stats, false);
        if (!m_endMessage.empty()) ui().showMessage(m_endMessage, "Capture", Icon::Warning);
        if (m_settings.useCaptureFile && m_mode != kDeviceControl) {
            std::optional<std::string> to =
                ui().chooseFileToSave(m_fileName, "Save Captured File As", "*.AVI", "AVI");
            if (!to) return;
            m_fileName = *to;
            m_host.progress("Storing capture file ", 0.0);
            const HResult r = m_plugin->ExportCaptureFile(m_fileName.c_str());
            m_host.progress({}, -1);
            if (captureFailed(r)) {
                m_project.showError(format("Couldn't export captured file into %s", m_fileName));
                return;
            }
        }
        if (m_settings.addToDeckAfterCapture) addCapturedClip();
        break;
    }
    case kCaptureEventProgress:
        if (value < 100)
            m_host.progress({}, value * 0.01);
        else
            m_host.progress({}, -1);
        break;
    case kCaptureEventStatistics:
        if (!stats) break;
        // Every fourth report reaches the Info Deck; the last one before the end always.
        m_stats = *stats;
        if (++m_statisticsEvents % 4 == 0) m_host.showStatistics(&m_stats, true);
        if (rangePassed()) m_plugin->StopCapture(0);
        break;
    default:
        break;
    }
}

void FCaptureControl::idle()
{
    for (;;) {
        Event e;
        {
            std::lock_guard lock(m_eventMutex);
            if (m_events.empty()) break;
            e = m_events.front();
            m_events.pop_front();
        }
        handleEvent(e.code, e.code == kCaptureEventStatistics ? &e.stats : nullptr, e.value);
    }
    if (!m_grabber || !m_grabber->recording()) return;
    const movies::OSErr r = m_grabber->idle();
    if (r == movies::eofErr) {
        finishGrabberCapture();
        return;
    }
    const avcapture::Statistics s = m_grabber->statistics();
    m_stats.capturedTime = int32_t(s.capturedMs);
    m_stats.capturedFrames = int32_t(s.capturedFrames);
    m_stats.droppedFrames = int32_t(s.droppedFrames);
    m_stats.achievedFrameRate = float(s.frameRate);
    m_stats.achievedDataRate = int32_t(std::min<double>(s.dataRate, 2e9));
    m_stats.diskSecondsRemaining = int32_t(std::min<int64_t>(s.diskSecondsRemaining, INT32_MAX));
    m_stats.fileSecondsRemaining = -1;
    if (m_stats.capturedTime - m_lastStatsShown >= 1000 ||
        m_stats.capturedTime < m_lastStatsShown) {
        m_lastStatsShown = m_stats.capturedTime;
        m_host.showStatistics(&m_stats, true);
    }
    if (rangePassed()) stopCapture();
}

void FCaptureControl::addCapturedClip()
{
    auto clip = std::make_unique<ZEFSourceItem>(&m_project, kGallery);
    clip->setPath(m_fileName);
    clip->setCropRect({0, 0, movies::kFixed1, movies::kFixed1});
    clip->setVolume(256);
    try {
        clip->open(true, false, false, false);
    } catch (const ZEFException& e) {
        m_project.showError(e.message());
        return;
    }
    m_project.addItem(std::move(clip), true, false);
}

} // namespace zef::app
