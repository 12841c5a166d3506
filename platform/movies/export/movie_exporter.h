// Movie export components: what they export from, how they are called, their settings.
//
// An export component (type 'spit') turns a source — pictures at a frame rate and sound at a
// sample rate — into a file (or a live stream). The source is the ExportSource interface below;
// the movie toolbox adapts a movie with its compositor and sound mixer to it, tests use
// generated sources.
//
// Every built-in exporter is a MovieExporter, registered in the ComponentManager by
// registerStandardExporters (standard_exporters.h) and driven through the selectors below, so
// that exporters from plug-in files are driven the same way. C++ callers that hold a built-in
// instance may also reach its MovieExporter directly (kMovieExportGetExporterSelect).
//
// Settings: an atom container (flattened into a Handle when it crosses the component
// boundary). Atoms every video exporter understands:
//   'vide' (ID 1) / 'tprl' (ID 1), 12 bytes big-endian: temporal quality (32-bit, 0 .. 0x400 as
//       kCodec*Quality), frame rate (16.16; 0 = the source's rate), key-frame rate (32-bit,
//       frames between key frames; 0 = the codec's default).
// Each exporter's own atoms are listed with it in standard_exporters.h.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"
#include "platform/movies/movie.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <string>

namespace zef::movies {

// ---- Result codes used by the conversion (besides those of errors.h) ----
constexpr OSErr kExportEncoderErr = -2200;    // an encoder or muxer could not be set up or failed
constexpr OSErr kExportSourceErr = -2201;     // the source failed to deliver a frame or sound
constexpr OSErr kExportConnectionErr = -2202; // a broadcast server could not be reached

// ---- Component type, manufacturer and selectors ----
constexpr OSType kMovieExportType = fourcc("spit");
// The manufacturer code of the built-in exporters.
constexpr OSType kStandardExporterManufacturer = fourcc("appl");

constexpr int16_t kMovieExportToHandleSelect = 0x80;
constexpr int16_t kMovieExportToFileSelect = 0x81;          // (ExportSource*, const char* path)
constexpr int16_t kMovieExportSetProgressProcSelect = 0x84; // (MovieProgressProc, refcon)
constexpr int16_t kMovieExportSetSampleDescriptionSelect = 0x85; // (description, media type)
constexpr int16_t kMovieExportDoUserDialogSelect = 0x86; // (ExportSource*, ExporterDialogHost*,
                                                         //  bool* cancelled)
constexpr int16_t kMovieExportValidateSelect = 0x8B;     // (ExportSource*, bool* valid)
constexpr int16_t kMovieExportGetSettingsAsAtomContainerSelect = 0x8C;   // (Handle* out)
constexpr int16_t kMovieExportSetSettingsFromAtomContainerSelect = 0x8D; // (const Handle*)
constexpr int16_t kMovieExportGetFileNameExtensionSelect = 0x8E;         // (OSType* out)
constexpr int16_t kMovieExportGetShortFileTypeStringSelect = 0x8F;       // (char* out, 256 bytes)
// Built-in exporters only: (MovieExporter** out).
constexpr int16_t kMovieExportGetExporterSelect = 0x7F00;

// ---- Conversion flags ----
constexpr uint32_t createMovieFileDeleteCurFile = 0x80000000u;
constexpr uint32_t movieToFileOnlyExport = 0x00000004u;

// ---- Progress ----
// The messages (movieProgressOpen, ...UpdatePercent, ...Close) are the movie's, in movie.h.
constexpr int16_t progressOpExportMovie = 12;
// Called on the thread that runs the conversion. Answering progressProcAborted (−2019), or any
// nonzero code, to an open or update message stops the export.
using MovieProgressProc = OSErr (*)(int16_t message, int16_t operation, Fixed percentDone,
                                    intptr_t refcon);

// ---- Settings atoms shared by every exporter ----
constexpr QTAtomType kVideoSettingsAtom = fourcc("vide");
constexpr QTAtomType kSoundSettingsAtom = fourcc("soun");
constexpr QTAtomType kTemporalSettingsAtom = fourcc("tprl");

constexpr uint32_t kCodecMinQuality = 0x000;
constexpr uint32_t kCodecLowQuality = 0x100;
constexpr uint32_t kCodecNormalQuality = 0x200;
constexpr uint32_t kCodecHighQuality = 0x300;
constexpr uint32_t kCodecMaxQuality = 0x3FF;
constexpr uint32_t kCodecLosslessQuality = 0x400;

struct TemporalSettings {
    uint32_t temporalQuality = kCodecNormalQuality;
    Fixed frameRate = 0; // 0: the source's rate
    uint32_t keyFrameRate = 0;
    friend bool operator==(const TemporalSettings&, const TemporalSettings&) = default;
};
// Reads 'vide'/'tprl' (the first of each); false when missing or shorter than 12 bytes.
bool readTemporalSettings(const AtomContainer& settings, TemporalSettings* out);
// Writes 'vide'/'tprl', inserting the atoms when missing.
OSErr writeTemporalSettings(AtomContainer& settings, const TemporalSettings& value);

// Small helpers for the exporters' own atoms (the first child of each type under the first
// parent of its type; parent 0 = the container's root).
bool readAtomUInt(const AtomContainer& c, QTAtomType parent, QTAtomType child, uint32_t* out);
OSErr writeAtomUInt32(AtomContainer& c, QTAtomType parent, QTAtomType child, uint32_t value);
OSErr writeAtomUInt16(AtomContainer& c, QTAtomType parent, QTAtomType child, uint16_t value);
// Text atoms are zero-terminated; reading stops at the first zero or at maxBytes.
std::string readAtomText(const AtomContainer& c, QTAtomType parent, QTAtomType child,
                         size_t maxBytes = 260);
OSErr writeAtomText(AtomContainer& c, QTAtomType parent, QTAtomType child, const std::string& text);

// ---- The source of an export ----
struct FrameRate {
    int32_t num = 0; // frames per second = num / den
    int32_t den = 1;
    bool valid() const { return num > 0 && den > 0; }
    double value() const { return den > 0 ? double(num) / den : 0.0; }
    friend bool operator==(const FrameRate&, const FrameRate&) = default;
};
// 16.16 rate as a frame rate; 29.97, 23.976 and 59.94 (to within 0.001) become n×1000/1001.
FrameRate frameRateFromFixed(Fixed rate);

struct VideoFormat {
    int32_t width = 0; // 0: no pictures
    int32_t height = 0;
    FrameRate rate{25, 1};
};
struct AudioFormat {
    int32_t sampleRate = 0; // 0: no sound
    int32_t channels = 0;   // interleaved signed 16-bit samples
};

// What an exporter reads. Calls come from the conversion's thread, one at a time and in
// increasing order (frames and sample spans may repeat or skip when the export frame rate
// differs from the source's). Implementations need not be thread-safe.
class ExportSource {
public:
    virtual ~ExportSource() = default;
    virtual VideoFormat video() const = 0;
    virtual AudioFormat audio() const = 0;
    // Pictures in the source, at video().rate; the duration of the export is
    // frameCount / rate (also for the sound).
    virtual int64_t frameCount() const = 0;
    // Draws frame index (0 .. frameCount-1) into out, resizing it to the video size.
    virtual bool renderFrame(int64_t index, Pixmap& out) = 0;
    // Writes count sample frames from firstSample on (count × channels values); sound past the
    // end is silence.
    virtual bool renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved) = 0;
    // Told by an exporter before the first picture when its encoder keeps every core busy by
    // itself: decoding on the rendering thread alone then costs less processor time and memory
    // than decoding threads that find no free core.
    virtual void encoderUsesEveryCore() {}
};

// The settings dialog of an exporter, provided by the GUI. It edits a copy of the settings
// (the exporter's description is available through the exporter) and answers true for OK.
class MovieExporter;
class ExporterDialogHost {
public:
    virtual ~ExporterDialogHost() = default;
    virtual bool runSettingsDialog(const MovieExporter& exporter, AtomContainer& settings) = 0;
};

// A progress reporter for one export (the procedure given with kMovieExportSetProgressProc).
struct ExportProgress {
    MovieProgressProc proc = nullptr;
    intptr_t refcon = 0;
    OSErr send(int16_t message, Fixed fraction) const
    {
        return proc ? proc(message, progressOpExportMovie, fraction, refcon) : noErr;
    }
};

// A built-in export component. Not thread-safe: one caller at a time.
class MovieExporter {
public:
    virtual ~MovieExporter() = default;

    virtual OSType subType() const = 0;
    // The file-name extension as a four-char code, padded with zero bytes ('mov\0').
    virtual OSType fileNameExtension() const = 0;
    virtual std::string shortFileTypeString() const = 0;

    // Current settings (the defaults until set). setSettings takes the atoms it knows; values
    // out of range give paramErr and leave the settings unchanged.
    virtual AtomContainer settings() const { return m_settings; }
    virtual OSErr setSettings(const AtomContainer& settings);
    // The exporter's defaults.
    virtual AtomContainer defaultSettings() const = 0;

    // Runs the settings dialog through host (null when there is no GUI: the settings are kept
    // and the answer is OK, *cancelled = false).
    virtual OSErr doUserDialog(ExportSource* source, ExporterDialogHost* host, bool* cancelled);

    // Whether the exporter can export this source: frames to export, a frame rate of 0.001 ..
    // 1000, pictures up to 8192 × 4352, sound (when any) of 1 .. 384000 Hz and 1 .. 8 channels,
    // and what the exporter needs (a sound exporter needs sound, the others pictures).
    virtual bool validate(const ExportSource& source) const = 0;

    // Writes the whole source to path. The progress procedure gets open, updates and close.
    // Results: noErr, progressProcAborted, kExportEncoderErr, kExportSourceErr, ioErr, ...
    virtual OSErr exportToFile(ExportSource& source, const std::string& path) = 0;

    void setProgressProc(MovieProgressProc proc, intptr_t refcon) { m_progress = {proc, refcon}; }
    const ExportProgress& progress() const { return m_progress; }

protected:
    // Subclasses check their own atoms here (called by setSettings before taking them).
    virtual OSErr checkSettings(const AtomContainer&) const { return noErr; }

    AtomContainer m_settings;
    ExportProgress m_progress;
};

} // namespace zef::movies
