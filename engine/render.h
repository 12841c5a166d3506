// Rendering: the render range of the project becomes a movie file through an export component,
// with progress in the status bar, abort, a time-remaining estimate, and the rendered file
// added to the gallery.
//
// A render runs synchronously on the calling (user-interface) thread; the export component
// encodes on a worker thread of its own while this thread evaluates the movie and reports
// progress.
#pragma once

#include "model/edit_time.h"
#include "platform/movies/components.h"
#include "platform/movies/fourcc.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zef {

namespace movies {
class MovieExportSource;
struct ExportProgress;
} // namespace movies

class FProject;
class FMovieBuilder;

// The progress state of the status bar. The GUI draws statusText() in the progress area.
struct CFile2000Status {
    double fraction = 0.0;
    int32_t remaining = -1; // seconds; -1: no estimate
    std::string caption;    // may be empty
    std::string operation;  // the text of the running operation
    std::string displayed;  // what the bar shows before the figures
    bool progressShown = false;
    bool plainMessageShown = false; // a plain message instead of progress
    std::string plainMessage;
};

// The text drawn in the progress area: "<displayed> 42.00 % done" without an estimate, else
// "<displayed> 10 sec remaining", "... 6 min remaining", "... 2.0 hrs remaining" (one decimal
// up to five units, whole numbers above and for seconds); the plain message alone when that is
// shown instead of progress.
std::string statusText(const CFile2000Status& status);

// What a render needs from the program around it. Every call has a harmless default, so a
// headless caller overrides only what it has.
class RenderHost {
public:
    virtual ~RenderHost() = default;
    // Whether the user asks to stop (Esc held in the editor, Ctrl+C on the terminal).
    virtual bool abortRequested() { return false; }
    // The status bar changed; draw it.
    virtual void statusChanged(const CFile2000Status& /*status*/) {}
    // Keeps the window responsive: paints and mouse messages.
    virtual void processEvents() {}
    // The render reached time t: move the timeline's position marker and refresh the views.
    virtual void showPosition(const EditTime& /*t*/) {}
    // The looping flag of the preview transport.
    virtual bool previewLooping() const { return false; }
    // Opens the output settings deck so that the user picks export settings; true when they
    // were applied to the project's composition.
    virtual bool runOutputSettings() { return false; }
    // Hands a file to the desktop's default application; false when nothing opens it.
    virtual bool openWithDesktop(const std::string& /*path*/) { return false; }
};

// The results of the conversion that the render tells apart.
constexpr movies::OSErr kCannotCreateFolderErr = -5011;

// Where a render writes: an absolute path as it is; a relative one under the current
// directory (cwd). The result is lexically normalised.
std::string resolveOutputPath(const std::string& path, const std::string& cwd);

// The folder for temporary render movies: the user's runtime directory ($XDG_RUNTIME_DIR)
// when usable, else the user's cache directory ($XDG_CACHE_HOME or ~/.cache), each with a
// private "zef-rondavo" folder (mode 0700, owned by the user, not a link). Empty when none is
// usable.
std::string temporaryRenderFolder();

class FRender {
public:
    // clock: milliseconds, for the time-remaining estimate (a steady clock when none).
    FRender(FProject& project, FMovieBuilder& builder, movies::ComponentManager& components,
            RenderHost* host = nullptr, std::function<int64_t()> clock = {});

    // The Render command: settings first when there are none, the range check, the render,
    // and the rendered file into the gallery (unless the component wrote none, as one that
    // prints to tape). Errors are shown through the project's user interface. Returns whether
    // the render succeeded.
    bool renderCommand();

    // Builds the render movie of the range, trims and crops it and converts it to the output
    // file. True on success; false after an abort (no message) or a live broadcast; throws
    // ZEFException with the message of any other failure.
    bool renderRange();

    // What turns the prepared render movie into the output: called with the export source of
    // the range, the configured export component, the resolved output path and the render's
    // progress procedure; answers a conversion result. Unset: the component converts the
    // movie to the output file. Renders of a part of the range set their own (render_parts.h).
    using Conversion = std::function<movies::OSErr(
        movies::MovieExportSource& source, movies::ComponentInstance exporter,
        const std::string& path, const movies::ExportProgress& progress)>;
    void setConversion(Conversion conversion) { m_conversion = std::move(conversion); }
    movies::ComponentManager& components() { return m_components; }

    // Status bar progress: mode 1 begins an operation named text, 2 ends it, 10/11/12 set the
    // caption ("Preparing", none, "Live Broadcasting"), -1 hides progress, any other mode
    // reports fraction. redraw moves the position marker to the matching time of the range.
    void setProgress(double fraction, int mode, bool redraw, const std::string& text = {});
    // Shows a plain message in the status bar instead of progress.
    void showStatusMessage(const std::string& text);
    const CFile2000Status& status() const { return m_status; }

    // The progress procedure given to the conversion (refcon: the FRender).
    static movies::OSErr progressProc(int16_t message, int16_t operation, movies::Fixed percentDone,
                                      intptr_t refcon);

    // Of the last render: the conversion's result, the resolved output path and the
    // temporary movie file it used (removed when the render ends).
    movies::OSErr lastResult() const { return m_lastResult; }
    const std::string& outputPath() const { return m_outputPath; }
    const std::string& temporaryMoviePath() const { return m_temporaryPath; }

    // The message renderRange gives for a conversion result (empty for success and abort).
    static std::string resultMessage(movies::OSErr result);

private:
    void notifyStatus();
    void addToGallery(const std::string& path);

    FProject& m_project;
    FMovieBuilder& m_builder;
    movies::ComponentManager& m_components;
    RenderHost m_noHost;
    RenderHost* m_host;
    std::function<int64_t()> m_clock;
    Conversion m_conversion;
    CFile2000Status m_status;
    int64_t m_startTick = -1; // ms, of the running operation
    bool m_broadcasting = false;
    movies::OSErr m_lastResult = 0;
    std::string m_outputPath;
    std::string m_temporaryPath;
};

} // namespace zef
