// FCaptureControl: capturing new clips, with either engine: the toolbox's sequence grabber
// (files ".MOV", optionally split into "…Video.trk" and "…Audio.trk") or the capture plug-in
// (files ".AVI"). It owns the open capture device, starts and stops captures (until stopped,
// timed, or between the in- and out-point of a tape deck), hands the preview's pictures and
// the capture's figures to the windows, and adds the captured clip to the gallery.
//
// The plug-in's events arrive on the plug-in's thread: they are queued and handled by idle()
// on the GUI thread (progress of a copy, which runs on the GUI thread, is handled at once).
// A capture that ends by itself (time limit, full disk, lost device) keeps what was captured
// and says why. No windows here: what the user sees goes through Host and the project's
// UserInterface.
//
// GUI thread only; one per program run.
#pragma once

#include "capture/capture_plugin.h"
#include "model/edit_time.h"
#include "platform/avcapture/capture_session.h"
#include "platform/movies/fourcc.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zef {
class FProject;
class TapeTransport;
class UserInterface;
namespace movies {
class SequenceGrabber;
}
} // namespace zef

namespace zef::app {

// The capture preferences the engines read (the settings store keeps them).
struct CaptureSettings {
    bool useDirectShow = true; // the plug-in engine, else the sequence grabber
    bool videoPreviewDuringCapture = false;
    bool useOptimizedPreview = true;
    bool interleavedDV = true;
    bool splitTracks = false;
    bool addToDeckAfterCapture = true;
    bool captureVideo = true;
    bool captureAudio = true;
    bool useCaptureFile = false;
    std::string captureFilePath;
    int32_t previewSize = 2; // 0 full, 1 half, 2 quarter
};

class TapeCaptureSource;

class FCaptureControl {
public:
    enum Mode { kUntilStopped = 0, kTimed = 1, kDeviceControl = 2 };

    // What the windows do for capturing.
    class Host {
    public:
        virtual ~Host() = default;
        // The device was opened or closed (the Preview Deck shows the capture, or no longer).
        virtual void deviceOpenChanged(bool open) = 0;
        // The Info Deck's capture lines (null: all zero).
        virtual void showStatistics(const CaptureStatistics* stats, bool capturing) = 0;
        // A capture started or ended (windows are not repainted while one runs).
        virtual void captureRunning(bool running) = 0;
        // The progress display: a title starts it, a fraction moves it, a negative ends it.
        virtual void progress(const std::string& title, double fraction) = 0;
        virtual void beep() = 0;
        // Paint events only, while a waiting seek of the tape deck runs.
        virtual void pumpPaint() = 0;
    };

    FCaptureControl(FProject& project, ICaptureDevicePlugin* plugin, Host& host);
    ~FCaptureControl();

    CaptureSettings& settings() { return m_settings; }
    ICaptureDevicePlugin* plugin() const { return m_plugin; }
    movies::SequenceGrabber* grabber() const { return m_grabber.get(); }
    // The tape deck for captures with device control, and its in- and out-point.
    void setTapeDeck(TapeTransport* deck) { m_deck = deck; }
    // The deck's output: the sequence grabber records from it in captures with device control.
    void setTapeSource(std::shared_ptr<TapeCaptureSource> source) { m_tapeSource = source; }
    TapeTransport* tapeDeck() const { return m_deck; }
    EditTime inPoint, outPoint;

    // The frame rate of a "Capture frame rate:" index as 16.16 (an index outside 0…13 is 0).
    static movies::Fixed frameRateForIndex(int32_t index);
    // The file a capture writes: name without the part after its last dot (in the file's own
    // name), then the engine's extension.
    static std::string captureFileName(const std::string& name, const char* extension);

    // The device.
    bool openDevice(bool hosted);
    void closeDevice();
    bool deviceOpen() const { return m_open; }
    bool isPreviewing() const;
    bool isCapturing() const;
    // The video area of a preview window of that size for the project's output aspect.
    CaptureRect videoArea(int width, int height) const;
    void setPreviewWindowSize(int width, int height);
    // The plug-in's "Capture preview" button.
    void setPluginPreview(bool on);
    // The grabber's preview size (0 full, 1 half, 2 quarter): the picture's shown size.
    void applyPreviewSize();
    std::pair<int, int> previewPictureSize() const;

    // Starts a capture (throws ZEFException with the message to show); false when nothing was
    // started (declined, nothing to record).
    bool startCapture(const std::string& name, bool previewDuringCapture, int32_t rateIndex,
                      bool useCaptureFile, bool interleavedDV);
    void stopCapture();
    void togglePause();
    // The grabber's idle call and the plug-in's queued events.
    void idle();
    // The newest preview picture when there is a new one.
    bool newestPicture(avcapture::Picture& out);

    // The last figures and the file name of the last capture.
    const CaptureStatistics& statistics() const { return m_stats; }
    const std::string& captureFile() const { return m_fileName; }
    int32_t rateNum() const { return m_rateNum; }
    int32_t rateDen() const { return m_rateDen; }
    // Why the last capture ended, when it ended by itself (empty otherwise).
    const std::string& endMessage() const { return m_endMessage; }

    // Adds the capture file to the gallery (replacing a clip of the same file).
    void addCapturedClip();

    // The plug-in's event procedure.
    static int32_t eventProc(void* context, int32_t event, intptr_t argument);

private:
    void handleEvent(int32_t event, const CaptureStatistics* stats, int32_t value);
    void finishGrabberCapture();
    void keptMessage(const char* reason);
    bool askReplace(const std::string& path);
    UserInterface& ui();

    FProject& m_project;
    ICaptureDevicePlugin* m_plugin;
    Host& m_host;
    CaptureSettings m_settings;
    TapeTransport* m_deck = nullptr;
    std::shared_ptr<TapeCaptureSource> m_tapeSource;
    bool m_grabberOnTape = false; // the open grabber records the deck's output
    void cueDeck();
    bool rangePassed() const;
    std::unique_ptr<movies::SequenceGrabber> m_grabber;
    bool m_open = false;
    bool m_openedWithPlugin = false;
    bool m_pluginCapturing = false;
    bool m_pluginPreview = false;
    void* m_settingsBlock = nullptr; // the plug-in's settings from one close to the next open
    uint32_t m_settingsSize = 0;
    int m_windowWidth = 0, m_windowHeight = 0;
    CaptureStatistics m_stats{};
    int64_t m_statisticsEvents = 0;
    int64_t m_lastStatsShown = 0;
    std::string m_fileName;
    std::string m_endMessage;
    int32_t m_rateNum = 30000, m_rateDen = 1001;
    int32_t m_mode = kUntilStopped;
    uint64_t m_frameSequence = 0;
    int64_t m_highestTime = 0; // what the grabber's data procedure was last given

    struct Event {
        int32_t code;
        int32_t value;
        CaptureStatistics stats;
    };
    std::mutex m_eventMutex;
    std::deque<Event> m_events;
    std::thread::id m_guiThread;
};

} // namespace zef::app
