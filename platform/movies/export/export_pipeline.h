// Converting a source to a file: the frame-by-frame loop shared by every exporter, and
// convertToFile, the toolbox call that drives an export component.
//
// Threads: the calling thread evaluates the source (renderFrame, renderAudio) and calls the
// progress procedure, so a source built on the component manager and a progress procedure
// that touches the GUI stay on the caller's thread; it also converts each picture to the
// encoder's form when the sink can (ExportSink::preparePicture). A worker thread encodes and
// writes; the two meet in a bounded queue of kQueueFrames frames, so rendering and encoding
// overlap.
#pragma once

#include "platform/movies/component_abi.h"
#include "platform/movies/components.h"
#include "platform/movies/export/movie_exporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef::movies {

// A picture already in an encoder's own form (planes of bytes one after another), made on the
// rendering thread: smaller than the Pixmap it came from, and converted while the encoder works.
struct PreparedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
};

// Where encoded output goes; called from the conversion's worker thread only, except
// preparePicture.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    // Called on the rendering thread: puts picture into out (its buffer reused from picture to
    // picture) in the form writePrepared takes, and answers true; false when the sink takes
    // the Pixmap itself (writeVideo). Must not change what the worker thread uses.
    virtual bool preparePicture(const Pixmap& picture, PreparedPicture& out)
    {
        (void)picture;
        (void)out;
        return false;
    }
    // Picture of export frame index (in the sink's frame rate).
    virtual OSErr writeVideo(const Pixmap& picture, int64_t index) = 0;
    // A picture made by preparePicture, as frame index.
    virtual OSErr writePrepared(const PreparedPicture& picture, int64_t index)
    {
        (void)picture;
        (void)index;
        return paramErr;
    }
    // Sound of the source format following what was written before.
    virtual OSErr writeAudio(const int16_t* samples, int64_t count) = 0;
    // After the last frame (also after an abort, so a partial file stays readable).
    virtual OSErr finish() = 0;
};

struct ExportPlan {
    FrameRate rate;        // the export frame rate (invalid: the source's)
    bool video = true;     // render pictures
    bool audio = true;     // render sound (when the source has any)
    bool realTime = false; // pace the frames at the frame rate (live streams)
    // Send the source again and again (pictures and sound carry on in one stream) until the
    // progress procedure stops it or the sink fails. Ignored without a progress procedure,
    // which would leave nothing that could end it. Progress counts each pass from 0.
    bool loop = false;
    // Progress fraction of this pass: [fractionStart, fractionStart + fractionSpan); passes
    // after the first skip the open message, passes before the last skip the close message.
    double fractionStart = 0.0;
    double fractionSpan = 1.0;
    bool sendOpen = true;
    bool sendClose = true;
    // A part of the export: export frames [firstFrame, endFrame) only (endFrame -1: to the
    // end), written to the sink as frames 0, 1, ... with the sound that belongs to them.
    // Progress counts the part. Not with loop.
    int64_t firstFrame = 0;
    int64_t endFrame = -1;
};

constexpr int kQueueFrames = 3;

// Number of export frames for the source at the plan's rate (duration rounded up to a frame).
int64_t exportFrameCount(const ExportSource& source, FrameRate rate);
// The source frame shown at export frame index.
int64_t sourceFrameFor(const ExportSource& source, FrameRate rate, int64_t index);

// Runs the export loop into sink: noErr, the progress procedure's nonzero answer (usually
// progressProcAborted), kExportSourceErr, or the sink's error.
OSErr runExport(ExportSource& source, ExportSink& sink, const ExportPlan& plan,
                const ExportProgress& progress);

// Checks the output path: paramErr for an empty path, a path ending in '/' or naming a folder,
// or a path whose folder does not exist; dirNFErr when a component of the path is not a
// folder. With createMovieFileDeleteCurFile an existing file is deleted first (ioErr when that
// fails); without it an existing file gives dupFNErr.
OSErr prepareOutputPath(const std::string& path, uint32_t flags);

// Converts source to path with a built-in exporter (the exporter's settings apply).
OSErr convertToFile(ExportSource& source, MovieExporter& exporter, const std::string& path,
                    uint32_t flags, MovieProgressProc progressProc, intptr_t refcon);
// The same through an open export component instance (built-in or plug-in): installs the
// progress procedure and calls kMovieExportToFileSelect. badComponentType when the instance is
// not an export component.
OSErr convertToFile(ExportSource& source, ComponentManager& manager, ComponentInstance exporter,
                    const std::string& path, uint32_t flags, MovieProgressProc progressProc,
                    intptr_t refcon);

} // namespace zef::movies
